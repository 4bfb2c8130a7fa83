#include "transfer/controller.h"

#include <cstdio>

namespace vyo {
namespace {

constexpr uint32_t kRecordBlocks = (kRecordSize + kReadBlockSize - 1) / kReadBlockSize;  // 5
constexpr uint32_t kLastBlockSize = kRecordSize % kReadBlockSize;                        // 32

const char* const kNoConnection = "Não há conexão ativa!";
const char* const kUploadSucceeded = "Atualização concluída com sucesso!";
const char* const kFirmwareRestart =
    "O Vyo vai reiniciar com o novo firmware; aguardando nova identificação...";

std::string Format(const char* fmt, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  char buf[200];
  std::snprintf(buf, sizeof buf, fmt, a, b, c, d);
  return buf;
}

}  // namespace

Controller::Controller(Host& host, ControllerOptions options)
    : Controller(host, options, TransferIdentifier()) {}

Controller::Controller(Host& host, ControllerOptions options, TransferIdentifier ids)
    : host_(host),
      options_(options),
      ids_(std::move(ids)),
      receiver_(kToolStation),
      firmware_(BuiltinFirmware()),
      configBuffer_(kRecordSize, 0xFF) {}

// Handlers let pending events run at several points; a receive event or a
// timer tick may then run inside another handler. Only one level of that
// nesting is allowed, so a unit that answers at once cannot grow the stack
// packet after packet: deeper down, pending events wait for the outer loop.
void Controller::LetMessagesRun() {
  if (messageDepth_ > 0) return;
  ++messageDepth_;
  host_.ProcessMessages();
  --messageDepth_;
}

void Controller::PortOpened() {
  // A session still running belongs to the connection closed before: its
  // tick had not noticed yet. It ends now, with its no-connection error,
  // so that it neither goes on over the new connection nor is overrun by
  // what the new identification starts.
  if (session_ == Session::Upload) EndSession(Outcome::UploadNoConnection);
  else if (session_ == Session::Download) EndSession(Outcome::ReadNoConnection);
  identified_ = false;
  receiver_.Reset();
}

void Controller::PortLost() {
  receiver_.Reset();
  // Let a running session end at once with its no-connection error.
  if (session_ == Session::Upload && host_.TimerEnabled(TimerId::Timer1)) Timer1Timer();
  else if (session_ == Session::Download && host_.TimerEnabled(TimerId::Timer3)) Timer3Timer();
  host_.OperationEnded(Outcome::ConnectionLost, transferType);
}

// ---------------------------------------------------------------------------
// Receive handler

void Controller::VCPRxChar(int count) {
  if (count <= 0) return;
  Bytes buf(static_cast<size_t>(count));
  size_t got = 0;
  while (got < buf.size()) {
    const size_t n = host_.PortRead(buf.data() + got, buf.size() - got);
    if (n == 0) break;
    got += n;
  }
  if (got == 0) return;

  const ReceiveResult r = receiver_.Feed(buf.data(), got, host_.NowMs());
  if (r.badStart) ++code15Count;
  if (r.extraBytes) ++code20Count;
  for (int i = 0; i < r.invalidDestination; ++i) host_.Log("Destino inválido!");
  if (r.shortEvent) {
    ++code10Count;
    // A short chunk counts as a tick without acknowledgement, unless it is
    // the beginning of a frame still arriving.
    if (!r.partialPending && session_ == Session::Upload && host_.TimerEnabled(TimerId::Timer1))
      Timer1Timer();
  }
  // Frames are dispatched in order, and one of them may send the next
  // packet: those behind it in this event arrived before it went out.
  const uint64_t event = ++rxEvents_;
  for (size_t i = 0; i < r.frames.size(); ++i) {
    dispatchEvent_ = i < r.earlierFrames ? 0 : event;
    Dispatch(r.frames[i]);
  }
}

void Controller::Dispatch(const Frame& f) {
  switch (f.code) {
    case kCodeAck: HandleAck(f.payload); break;
    case kCodeNack: HandleNack(); break;
    case kCodeIdentification: HandleIdentification(f.payload); break;
    case kCodeRead: HandleReadAnswer(f.payload); break;
    case kCodeOperationMode: OperationModeReport(); break;
    default: break;  // codes the tool does not act on
  }
}

void Controller::OperationModeReport() {
  host_.Log("O Vyo foi detectado em modo de operação!");
  host_.Log("1-Desconectar todos os chicotes");
  host_.Log("2-Conectar apenas o cabo USB");
  host_.Log("3-Aguardar o Windows criar a porta (5 segundos)");
  host_.Log("4-Rodar o VyoTool e abrir a porta COM criada");
  host_.SetTimer(TimerId::Timer2, true);
  host_.OperationEnded(Outcome::OperationMode, transferType);
}

void Controller::HandleIdentification(const Bytes& payload) {
  if (identified_) return;
  const std::optional<UnitInfo> info = ParseIdentification(payload);
  if (!info) return;
  if (info->mode == 0) {
    OperationModeReport();
    return;
  }
  unit_ = *info;
  // A read in progress goes on at the address it started with; the next
  // read takes the new one.
  if (session_ != Session::Download) baseAddress = unit_.baseAddress;
  host_.Log(unit_.LogLine());
  // Marked before the gate acts: the unit repeats its identification until
  // it sees a frame, and a repeat handled while the first transfer starts
  // must not start a second one.
  identified_ = true;
  host_.UnitIdentified(unit_);
  host_.OperationEnded(Outcome::Identified, transferType);
  if (options_.followGate) FollowGate();
}

void Controller::FollowGate() {
  // One session at a time: an identification handled while a transfer
  // runs (a new connection opened under it) starts nothing over it.
  if (!identified_ || Busy()) return;
  switch (VersionGate(unit_.major, unit_.release, unit_.build)) {
    case GateAction::ReadConfigDiscontinued:
      host_.Log(
          "Essa versão do vyo está descontinuada, entre em contato com a Ostrandel para mais "
          "informações!",
          true);
      B_GetConfigClick();
      break;
    case GateAction::UpdateFirmware:
      B_FwTxClick();
      break;
    case GateAction::ReadConfig:
      host_.Log("O Vyo está atualizado!");
      B_GetConfigClick();
      break;
    case GateAction::LogOnly:
      break;
  }
}

void Controller::HandleAck(const Bytes& payload) {
  if (session_ != Session::Upload || payload.size() < 2) return;
  const uint32_t k = GetBE16(payload.data());
  // A repeat of the acknowledgement already handled changes nothing.
  if (k == lastAckedPacket) return;
  // The packet being sent cannot be acknowledged by a unit that has not
  // received it: while every write of it has failed, or by bytes that
  // arrived before it first went out. Such an acknowledgement is not
  // believed, and the pacing sends the packet again.
  if (k == currentPacket && (!packetWritten_ || dispatchEvent_ <= packetSentEvent_)) return;
  lastAckedPacket = k;
  if (k == packetCount && currentPacket == packetCount) {
    // The closing packet went out and was acknowledged.
    const uint32_t type = transferType;
    host_.SetTimer(TimerId::Timer1, false);
    host_.SetProgress(0);
    session_ = Session::None;
    LetMessagesRun();
    host_.Log(kUploadSucceeded);
    if (type == kTransferFirmware) {
      host_.Log(kFirmwareRestart);
      identified_ = false;
    } else if (type == kTransferConfig) {
      host_.SetConfigControlsEnabled(true);
      if (host_.AutoCloseChecked() && unit_.major == 4 && unit_.release == 2 && unit_.build == 42)
        host_.SetTimer(TimerId::Timer2, true);
    }
    host_.OperationEnded(Outcome::UploadDone, type);
    return;
  }
  // Anything else, including a number beyond the session or the last
  // packet's number before it was sent, is an acknowledgement of another
  // packet: the step resends the current one.
  if (k == 1 && !updatingLogged_) {
    updatingLogged_ = true;
    if (transferType == kTransferFirmware) host_.Log("Atualizando firmware...");
    else if (transferType == kTransferConfig) host_.Log("Atualizando configuração...");
  }
  ackReceived = true;
  if (host_.TimerEnabled(TimerId::Timer1)) Timer1Timer();
}

void Controller::HandleNack() {
  if (session_ != Session::Upload) return;
  ++nackCount;
  if (host_.TimerEnabled(TimerId::Timer1)) Timer1Timer();
}

void Controller::HandleReadAnswer(const Bytes& payload) {
  if (session_ != Session::Download || payload.size() < 7) return;
  const uint32_t address = GetBE32(payload.data());
  const uint32_t n = GetBE16(payload.data() + 4);
  // Store only what lies inside the record and what the frame carries.
  if (n == 0 || n > payload.size() - 6 || address < baseAddress) return;
  const uint64_t offset = uint64_t(address) - baseAddress;
  if (offset + n > kRecordSize) return;
  const uint32_t k = uint32_t(offset / kReadBlockSize) + 1;
  if (k == lastAckedPacket) return;  // a repeat of the answer already handled
  // Only blocks this read has asked for are stored: an answer left over from
  // an earlier read may hold what the record was before a write. Either
  // way, an answer for another block makes the current request go again.
  if (blockRequested_[k - 1]) {
    std::copy(payload.begin() + 6, payload.begin() + 6 + n, configBuffer_.begin() + offset);
    const uint32_t blockSize = k == kRecordBlocks ? kLastBlockSize : kReadBlockSize;
    if (offset == uint64_t(k - 1) * kReadBlockSize && n == blockSize) blockReceived_[k - 1] = true;
  }
  lastAckedPacket = k;

  bool all = true;
  for (bool b : blockReceived_) all = all && b;
  if (all) {
    FinishDownload();
    return;
  }
  if (k < packetCount) host_.SetProgress(int(k + 1));
  ackReceived = true;
  if (host_.TimerEnabled(TimerId::Timer3)) Timer3Timer();
}

void Controller::FinishDownload() {
  host_.SetTimer(TimerId::Timer3, false);
  session_ = Session::None;
  LetMessagesRun();
  host_.SetProgress(0);
  if (CheckRecord(configBuffer_.data(), configBuffer_.size())) {
    const DecodedRecord decoded = DecodeRecord(configBuffer_.data(), configBuffer_.size(), host_.ReadPanel());
    host_.WritePanel(decoded.values);
    for (const std::string& note : decoded.notes) host_.Log(note, true);
    host_.Log("Leitura da configuração interna concluída!");
    host_.SetConfigControlsEnabled(true);
    host_.OperationEnded(Outcome::ReadDone, 0);
    return;
  }
  host_.Log("Configuração inválida!", true);
  host_.OperationEnded(Outcome::RecordInvalid, 0);
  if (!options_.replaceInvalidRecord) return;
  if (host_.PresetChecked()) {
    host_.Log("Preparando configuração Plenaro...");
    host_.WritePanel(PresetPanel());
  } else {
    host_.Log("Preparando configuração padrão...");
    host_.WritePanel(DefaultPanel());
  }
  B_SetConfigClick();
}

// ---------------------------------------------------------------------------
// Upload session

void Controller::StartUpload(uint32_t type, const Bytes& data,
                             const std::array<uint8_t, kTrailerSize>& trailer) {
  transferType = type;
  source_ = data;
  totalLength = uint32_t(data.size());
  trailerBytes = trailer;
  TxInit();
}

void Controller::TxInit() {
  const uint64_t count = PacketCountFor(totalLength);
  if (count > kMaxPackets) {
    session_ = Session::None;
    host_.SetTimer(TimerId::Timer1, false);
    host_.ShowMessage("Erro",
                      "O bloco é grande demais para ser enviado (" + std::to_string(count) +
                          " pacotes; o máximo é 65535).",
                      BoxIcon::Warning);
    host_.OperationEnded(Outcome::UploadFailed, transferType);
    return;
  }
  host_.SetTimer(TimerId::Timer3, false);
  session_ = Session::Upload;
  ++sessionSerial_;
  packetCount = uint32_t(count);
  host_.SetProgressMax(int(packetCount));
  lastAckedPacket = kNoPacket;
  currentPacket = 0;
  sessionToken = ids_.NewTransferIdentifier(0xFFFF);
  nackCount = code10Count = code15Count = code20Count = 0;
  updatingLogged_ = false;
  packetWritten_ = false;
  receiver_.Reset();
  if (host_.PortOpen()) host_.Log("Iniciando atualização...");
  Timer1Timer();
}

void Controller::SendPackage() {
  Bytes payload;
  payload.reserve(kUploadHeaderSize + kPacketDataSize);
  PutBE16(payload, sessionToken);
  PutBE16(payload, currentPacket);
  PutBE16(payload, packetCount);
  if (currentPacket >= 1 && currentPacket < packetCount) {
    const size_t from = size_t(currentPacket - 1) * kPacketDataSize;
    const size_t to = std::min<size_t>(from + kPacketDataSize, source_.size());
    if (from < to) payload.insert(payload.end(), source_.begin() + from, source_.begin() + to);
  } else if (currentPacket == packetCount) {
    payload.insert(payload.end(), trailerBytes.begin(), trailerBytes.end());
  }
  const Bytes frame = BuildFrame(uint8_t(transferType), payload);
  if (host_.PortOpen() && host_.PortWrite(frame.data(), frame.size()) == frame.size() &&
      !packetWritten_) {
    packetWritten_ = true;
    packetSentEvent_ = rxEvents_;
  }
  host_.SetProgress(int(currentPacket));
  LetMessagesRun();
}

// One pacing step of the running session, shared by the upload (Timer1,
// packets) and the download (Timer3, read requests): advance on an
// acknowledgement of the current packet, resend after 3, 5 and 7 silent
// ticks, give up at 10.
void Controller::PacingTick(Session session, TimerId timer, void (Controller::*send)(),
                            Outcome noConnection, Outcome failed) {
  if (session_ != session) {
    host_.SetTimer(timer, false);
    return;
  }
  if (!host_.PortOpen()) {
    EndSession(noConnection);
    return;
  }
  const uint32_t serial = sessionSerial_;
  if (ackReceived || currentPacket == 0) {
    if ((currentPacket == 0 || lastAckedPacket == currentPacket) && currentPacket < packetCount) {
      ++currentPacket;
      packetWritten_ = false;
    }
    // Cleared before the send: an acknowledgement handled while the send
    // lets pending events run belongs to this packet and must not be lost.
    ackReceived = false;
    retryCount = 0;
    if (currentPacket == 1) host_.SetTimer(timer, true);
    (this->*send)();
  } else {
    ++retryCount;
  }
  // A send lets pending events run, and a tick or an answer handled there
  // may have ended this session (and another may have begun): this tick
  // then has nothing left to do, and must not end a session a second time.
  const auto stillRunning = [this, session, serial] { return session_ == session && sessionSerial_ == serial; };
  if (!stillRunning()) return;
  if (retryCount == 3 || retryCount == 5 || retryCount == 7) {
    (this->*send)();
    if (!stillRunning()) return;
  }
  if (retryCount >= 10) {
    EndSession(failed);
    return;
  }
  LetMessagesRun();
}

void Controller::Timer1Timer() {
  PacingTick(Session::Upload, TimerId::Timer1, &Controller::SendPackage, Outcome::UploadNoConnection,
             Outcome::UploadFailed);
}

void Controller::EndSession(Outcome outcome) {
  const bool upload = session_ == Session::Upload;
  const uint32_t type = transferType;
  host_.SetTimer(upload ? TimerId::Timer1 : TimerId::Timer3, false);
  session_ = Session::None;
  LetMessagesRun();
  host_.SetProgress(0);
  switch (outcome) {
    case Outcome::UploadNoConnection:
      host_.ShowMessage("ERRO #0x01", kNoConnection, BoxIcon::None);
      break;
    case Outcome::UploadFailed:
      host_.ShowMessage("ERRO #0x02",
                        Format("A operação não foi concluida!\r\nNacks = %d\r\nCode10 = %d\r\nCode15 = "
                               "%d\r\nCode20 = %d",
                               nackCount, code10Count, code15Count, code20Count),
                        BoxIcon::None);
      break;
    case Outcome::ReadNoConnection:
      host_.ShowMessage("ERRO #0x03", kNoConnection, BoxIcon::None);
      break;
    case Outcome::ReadFailed:
      host_.ShowMessage("ERRO #0x04", "A operação não pode ser concluida!", BoxIcon::Warning);
      break;
    default:
      break;
  }
  // A configuration write that did not finish leaves the button usable, so
  // the technician can try again.
  if (upload && type == kTransferConfig) host_.SetConfigControlsEnabled(true);
  host_.OperationEnded(outcome, upload ? type : 0);
}

// ---------------------------------------------------------------------------
// Firmware, start command, delayed close

void Controller::B_FwTxClick() {
  if (!identified_) {
    host_.ShowMessage("Erro",
                      "Nenhum Vyo identificado nesta conexão.\r\nAbra a porta e aguarde a "
                      "identificação antes de enviar o firmware.",
                      BoxIcon::Warning);
    host_.OperationEnded(Outcome::FirmwareRefused, kTransferFirmware);
    return;
  }
  if (!FirmwareFitsMajor(unit_.major)) {
    host_.ShowMessage("Erro",
                      "O firmware disponível não é compatível com este Vyo (versão " +
                          unit_.VersionText() + ").\r\nNada foi enviado.",
                      BoxIcon::Warning);
    host_.OperationEnded(Outcome::FirmwareRefused, kTransferFirmware);
    return;
  }
  StartUpload(kTransferFirmware, firmware_.data, firmware_.trailer);
}

void Controller::B_FwJumpClick() {
  if (host_.PortOpen()) {
    const Bytes frame = BuildFrame(kCodeStart, nullptr, 0);
    host_.PortWrite(frame.data(), frame.size());
  }
  LetMessagesRun();
}

void Controller::Timer2Timer() {
  host_.SetTimer(TimerId::Timer2, false);
  host_.Disconnect();
}

// ---------------------------------------------------------------------------
// Configuration write and download session

void Controller::B_SetConfigClick() {
  PanelValues values = host_.ReadPanel();
  if (const std::optional<ValidationError> err = ValidatePanel(values)) {
    host_.ShowMessage("Erro", err->message, BoxIcon::Warning);
    host_.ClearPanelField(err->field);
    host_.OperationEnded(Outcome::ParameterInvalid, kTransferConfig);
    return;
  }
  const Bytes record = BuildRecord(values);
  host_.SetConfigControlsEnabled(false);
  StartUpload(kTransferConfig, record, XorSumTrailer(record.data(), record.size()));
}

void Controller::B_GetConfigClick() {
  host_.SetTimer(TimerId::Timer1, false);
  if (identified_) baseAddress = unit_.baseAddress;
  session_ = Session::Download;
  ++sessionSerial_;
  packetCount = kRecordBlocks;
  host_.SetProgressMax(int(kRecordBlocks));
  lastAckedPacket = kNoPacket;
  currentPacket = 0;
  nackCount = code10Count = code15Count = code20Count = 0;
  blockReceived_.fill(false);
  blockRequested_.fill(false);
  std::fill(configBuffer_.begin(), configBuffer_.end(), 0xFF);
  receiver_.Reset();
  PanelValues values = host_.ReadPanel();
  values.CB_PING = values.CB_A232 = values.CB_B232 = -1;
  host_.WritePanel(values);
  host_.Log("Buscando configuração interna...");
  Timer3Timer();
}

void Controller::RequestPackage() {
  Bytes payload;
  PutBE32(payload, (currentPacket - 1) * kReadBlockSize + baseAddress);
  PutBE16(payload, currentPacket >= packetCount && kLastBlockSize > 0 ? kLastBlockSize : kReadBlockSize);
  const Bytes frame = BuildFrame(kCodeRead, payload);
  if (host_.PortOpen() && host_.PortWrite(frame.data(), frame.size()) == frame.size() &&
      currentPacket >= 1 && currentPacket <= kRecordBlocks)
    blockRequested_[currentPacket - 1] = true;
  LetMessagesRun();
}

void Controller::Timer3Timer() {
  PacingTick(Session::Download, TimerId::Timer3, &Controller::RequestPackage, Outcome::ReadNoConnection,
             Outcome::ReadFailed);
}

}  // namespace vyo
