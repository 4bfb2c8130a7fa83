// The controller against a unit that misbehaves. The input is a script of
// steps: raw chunks, frames built from the input (acknowledgements, read
// answers, identifications, any code), frames split over receive events or
// followed by garbage, unplugging and replugging, failing writes, button
// presses, changes to how the model unit answers, and virtual time passing
// so that the pacing and close timers fire. The model unit of the transfer
// tests answers besides, so that sessions get far.
//
// Checked while it runs:
// - every frame the tool writes is well formed, goes to an open port and
//   belongs to the running session: upload packets carry the block's bytes
//   (the closing one its trailer) with one token and count, read requests
//   the record's block addresses and sizes;
// - one session at a time, and each ends with exactly one outcome;
// - an upload is reported done only when every packet went out and an
//   acknowledgement of the closing packet was received after it went out;
// - a read is reported done only when every block was requested, the
//   record passes its check, each of its bytes came from a read answer
//   received in that session, and the panel shows what it decodes to;
// - the progress bar stays within its range.
// At the end, with time running on, every session has ended.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "config/panel_names.h"
#include "config/presets.h"
#include "config/record.h"
#include "fuzz_common.h"
#include "transfer/firmware.h"
#include "unit_model.h"

namespace vyo::fuzz {
namespace {

// VYO_FUZZ_TRACE=1 prints what happens, to follow a saved input.
bool trace = false;

std::string Hex(const uint8_t* d, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n && i < 64; ++i) {
    std::snprintf(b, sizeof b, "%02X ", d[i]);
    s += b;
  }
  return n > 64 ? s + "..." : s;
}

using test::FakeHost;
using test::UnitFrame;
using test::UnitModel;

constexpr char kUploadSucceeded[] = "Atualização concluída com sucesso!";
constexpr char kReadSucceeded[] = "Leitura da configuração interna concluída!";

// Calls fn(end, code, payload, length) for every frame in s[from..] that the
// receiver could accept: start byte, length within the limit, checksum right
// and the tool's station in the address. Bytes are taken as one stream, so
// this finds every frame the receiver can find and maybe more.
template <class Fn>
void ScanFrames(const Bytes& s, size_t from, Fn fn) {
  for (size_t p = from; p + kFrameOverhead <= s.size(); ++p) {
    if (s[p] != kStartByte) continue;
    const size_t length = GetBE16(&s[p + 3]);
    if (length + kFrameHeaderSize > kMaxLengthPlusHeader) continue;
    const size_t total = length + kFrameOverhead;
    if (p + total > s.size()) continue;
    const uint8_t* f = &s[p];
    const uint32_t sum = ByteSum(f, length + kFrameHeaderSize) & 0xFFFFFF;
    const uint32_t carried =
        (uint32_t(f[total - 3]) << 16) | (uint32_t(f[total - 2]) << 8) | f[total - 1];
    if (sum != carried || (f[1] & 0x0F) != kToolStation) continue;
    fn(p + total, f[2], f + kFrameHeaderSize, length);
  }
}

class FuzzHost : public FakeHost {
 public:
  enum class Kind { None, Upload, Download };
  // What the tool does in the running (or last) session, as seen from outside.
  struct Session {
    Kind kind = Kind::None;
    bool ended = false;
    uint32_t type = 0;
    Bytes block;
    std::array<uint8_t, kTrailerSize> trailer{};
    uint32_t count = 0;
    std::optional<uint32_t> token;
    std::vector<bool> sent;  // packets or blocks written, by number
    size_t streamStart = 0;
    std::optional<size_t> closingSentAt;  // stream position when the closing packet went out
    bool portClosed = false;              // the port was closed while it ran
  };

  Session s;
  Bytes stream;  // every byte the controller has read, in order
  Bytes firmwareData;
  PanelValues panelBeforeWrite;
  size_t uploadSuccessLogs = 0, readSuccessLogs = 0, uploadsDone = 0, readsDone = 0;

  size_t PortWrite(const uint8_t* d, size_t n) override {
    if (trace) std::fprintf(stderr, "%6llu write %s%s\n", (unsigned long long)now, Hex(d, n).c_str(), failWrites ? "(fails)" : "");
    FUZZ_CHECK(open);
    CheckToolFrame(d, n);
    const size_t written = FakeHost::PortWrite(d, n);
    FUZZ_CHECK(written == 0 || written == n);
    if (written == n) NoteSent(d);
    return written;
  }

  size_t PortRead(uint8_t* buf, size_t n) override {
    const size_t got = FakeHost::PortRead(buf, n);
    FUZZ_CHECK(got <= n);
    stream.insert(stream.end(), buf, buf + got);
    if (trace) std::fprintf(stderr, "%6llu read  %s\n", (unsigned long long)now, Hex(buf, got).c_str());
    return got;
  }

  void SetProgressMax(int max) override {
    // A session starts.
    FUZZ_CHECK(s.kind == Kind::None || s.ended);
    s = Session{};
    s.streamStart = stream.size();
    s.portClosed = !open;
    if (ctl->UploadRunning()) {
      s.kind = Kind::Upload;
      s.type = ctl->transferType;
      FUZZ_CHECK(s.type == kTransferConfig || s.type == kTransferFirmware);
      // The configuration write sends the record of the panel it read.
      s.block = s.type == kTransferConfig ? BuildRecord(panel) : firmwareData;
      s.trailer = XorSumTrailer(s.block.data(), s.block.size());
      s.count = uint32_t(PacketCountFor(s.block.size()));
      FUZZ_CHECK(ctl->totalLength == s.block.size());
    } else {
      FUZZ_CHECK(ctl->DownloadRunning());
      s.kind = Kind::Download;
      s.count = 5;
    }
    FUZZ_CHECK(max == int(s.count));
    s.sent.assign(s.count + 1, false);
    FakeHost::SetProgressMax(max);
  }

  void ClosePort() {
    open = false;
    s.portClosed = true;
  }
  void Disconnect() override {
    s.portClosed = true;
    FakeHost::Disconnect();
  }

  void SetProgress(int position) override {
    FUZZ_CHECK(position >= 0 && position <= progressMax);
    FakeHost::SetProgress(position);
  }

  void WritePanel(const PanelValues& values) override {
    panelBeforeWrite = panel;
    FakeHost::WritePanel(values);
  }

  void Log(const std::string& text, bool red) override {
    if (text == kUploadSucceeded) ++uploadSuccessLogs;
    if (text == kReadSucceeded) ++readSuccessLogs;
    FakeHost::Log(text, red);
  }

  void OperationEnded(Outcome o, uint32_t type) override {
    if (trace) std::fprintf(stderr, "%6llu outcome %d\n", (unsigned long long)now, int(o));
    switch (o) {
      case Outcome::UploadDone:
        CheckUploadDone();
        ++uploadsDone;
        break;
      case Outcome::UploadFailed:
      case Outcome::UploadNoConnection:
        if (o == Outcome::UploadNoConnection) FUZZ_CHECK(s.portClosed);
        End(Kind::Upload);
        break;
      case Outcome::ReadDone:
        CheckReadDone();
        ++readsDone;
        break;
      case Outcome::RecordInvalid:
        FUZZ_CHECK(!CheckRecord(ctl->configBuffer().data(), ctl->configBuffer().size()));
        End(Kind::Download);
        break;
      case Outcome::ReadFailed:
      case Outcome::ReadNoConnection:
        if (o == Outcome::ReadNoConnection) FUZZ_CHECK(s.portClosed);
        End(Kind::Download);
        break;
      case Outcome::ParameterInvalid:
      case Outcome::FirmwareRefused:
        // Refused before anything started.
        FUZZ_CHECK(s.kind == Kind::None || s.ended);
        break;
      default:
        break;
    }
    FakeHost::OperationEnded(o, type);
  }

 private:
  void End(Kind kind) {
    FUZZ_CHECK(s.kind == kind && !s.ended);
    s.ended = true;
  }

  // Everything the tool writes is one whole frame from the tool's station.
  void CheckToolFrame(const uint8_t* d, size_t n) {
    FUZZ_CHECK(n >= kFrameOverhead);
    FUZZ_CHECK(d[0] == kStartByte && d[1] == kToolAddress);
    const size_t length = GetBE16(d + 3);
    FUZZ_CHECK(n == length + kFrameOverhead);
    const uint32_t sum = ByteSum(d, length + kFrameHeaderSize);
    FUZZ_CHECK(d[n - 3] == uint8_t(sum >> 16) && d[n - 2] == uint8_t(sum >> 8) && d[n - 1] == uint8_t(sum));
    const uint8_t* p = d + kFrameHeaderSize;
    switch (d[2]) {
      case kCodeFirmwarePacket:
      case kCodeConfigPacket: {
        FUZZ_CHECK(s.kind == Kind::Upload && !s.ended);
        FUZZ_CHECK(d[2] == s.type);
        FUZZ_CHECK(length >= kUploadHeaderSize);
        const uint32_t token = GetBE16(p), number = GetBE16(p + 2), count = GetBE16(p + 4);
        if (s.token) FUZZ_CHECK(token == *s.token);
        s.token = token;
        FUZZ_CHECK(count == s.count);
        FUZZ_CHECK(number >= 1 && number <= count);
        const Bytes data(p + kUploadHeaderSize, p + length);
        if (number < count) {
          const size_t from = size_t(number - 1) * kPacketDataSize;
          const size_t to = std::min<size_t>(from + kPacketDataSize, s.block.size());
          FUZZ_CHECK(from < to);
          FUZZ_CHECK(data == Bytes(s.block.begin() + from, s.block.begin() + to));
        } else {
          FUZZ_CHECK(data == Bytes(s.trailer.begin(), s.trailer.end()));
        }
        break;
      }
      case kCodeRead: {
        FUZZ_CHECK(s.kind == Kind::Download && !s.ended);
        FUZZ_CHECK(length == 6);
        const uint32_t offset = GetBE32(p) - ctl->baseAddress, size = GetBE16(p + 4);
        FUZZ_CHECK(offset % kReadBlockSize == 0 && offset < kRecordSize);
        const uint32_t block = offset / kReadBlockSize + 1;
        FUZZ_CHECK(size == (block == 5 ? kRecordSize - 4 * kReadBlockSize : kReadBlockSize));
        break;
      }
      case kCodeStart:
        FUZZ_CHECK(length == 0);
        break;
      default:
        FUZZ_CHECK(!"the tool wrote a frame of an unknown code");
    }
  }

  void NoteSent(const uint8_t* d) {
    const uint8_t* p = d + kFrameHeaderSize;
    if (d[2] == kCodeFirmwarePacket || d[2] == kCodeConfigPacket) {
      const uint32_t number = GetBE16(p + 2);
      s.sent[number] = true;
      if (number == s.count && !s.closingSentAt) s.closingSentAt = stream.size();
    } else if (d[2] == kCodeRead) {
      s.sent[(GetBE32(p) - ctl->baseAddress) / kReadBlockSize + 1] = true;
    }
  }

  void CheckUploadDone() {
    FUZZ_CHECK(s.kind == Kind::Upload && !s.ended);
    for (uint32_t k = 1; k <= s.count; ++k) FUZZ_CHECK(s.sent[k]);
    FUZZ_CHECK(s.closingSentAt.has_value());
    const size_t after = *s.closingSentAt;
    bool acknowledged = false;
    const size_t from = after > kMaxLengthPlusHeader + kFrameChecksumSize ? after - kMaxLengthPlusHeader - kFrameChecksumSize : 0;
    ScanFrames(stream, std::max(from, s.streamStart),
               [&](size_t end, uint8_t code, const uint8_t* payload, size_t length) {
                 if (end > after && code == kCodeAck && length >= 2 && GetBE16(payload) == s.count)
                   acknowledged = true;
               });
    FUZZ_CHECK(acknowledged);
    s.ended = true;
  }

  void CheckReadDone() {
    FUZZ_CHECK(s.kind == Kind::Download && !s.ended);
    for (uint32_t k = 1; k <= s.count; ++k) FUZZ_CHECK(s.sent[k]);
    const Bytes& record = ctl->configBuffer();
    FUZZ_CHECK(CheckRecord(record.data(), record.size()));
    std::vector<bool> covered(kRecordSize, false);
    const uint32_t base = ctl->baseAddress;
    ScanFrames(stream, s.streamStart, [&](size_t, uint8_t code, const uint8_t* payload, size_t length) {
      if (code != kCodeRead || length < 7) return;
      const uint32_t address = GetBE32(payload), n = GetBE16(payload + 4);
      if (n > length - 6 || address < base || uint64_t(address - base) + n > kRecordSize) return;
      for (uint32_t j = 0; j < n; ++j)
        if (record[address - base + j] == payload[6 + j]) covered[address - base + j] = true;
    });
    for (size_t i = 0; i < kRecordSize; ++i) FUZZ_CHECK(covered[i]);
    FUZZ_CHECK(panel == DecodeRecord(record.data(), record.size(), panelBeforeWrite).values);
    s.ended = true;
  }
};

uint8_t PickMajor(Input& in) {
  static constexpr uint8_t kMajors[] = {4, 4, 3, 41, 1, 2, 5};
  const uint8_t i = in.Byte();
  return i < 7 * 32 ? kMajors[i % 7] : in.Byte();
}

// Sends `frame` the way the input says: whole, split over two receive
// events some time apart, or with more bytes behind it in the same event.
void DeliverFrame(Input& in, FuzzHost& host, Bytes frame) {
  switch (in.Byte() % 4) {
    case 2: {
      const size_t cut = frame.empty() ? 0 : in.Byte() % frame.size();
      const uint64_t gap = uint64_t(in.Byte()) * 2;
      host.Deliver(Bytes(frame.begin(), frame.begin() + cut), host.now);
      host.Deliver(Bytes(frame.begin() + cut, frame.end()), host.now + gap);
      break;
    }
    case 3: {
      const Bytes tail = in.Take(in.Byte() % 16);
      frame.insert(frame.end(), tail.begin(), tail.end());
      host.Deliver(std::move(frame), host.now);
      break;
    }
    default:
      host.Deliver(std::move(frame), host.now + in.Byte() % 4);
  }
}

void ChangePanel(Input& in, FuzzHost& host) {
  static const std::vector<std::string> names = PanelValueNames();
  switch (in.Byte() % 4) {
    case 0: host.panel = DefaultPanel(); break;
    case 1: host.panel = PresetPanel(); break;
    default: {
      const std::string& name = names[in.Byte() % names.size()];
      const Bytes text = in.Take(in.Byte() % 8);
      SetPanelValue(host.panel, name, std::string(text.begin(), text.end()), nullptr);
    }
  }
}

void Step(Input& in, FuzzHost& host, Controller& ctl, UnitModel& unit) {
  const int op = in.Byte() % 16;
  if (trace) std::fprintf(stderr, "%6llu step %d\n", (unsigned long long)host.now, op);
  switch (op) {
    case 0: {  // raw bytes as one receive event
      const size_t n = in.Byte() + (in.Flag() ? 256u * (in.Byte() % 4) : 0u);
      host.Deliver(in.Take(n), host.now + in.Byte() % 8);
      break;
    }
    case 1: {  // a frame of any code and address
      const uint8_t code = in.Byte();
      const uint8_t address = in.Flag() ? kUnitAddress : in.Byte();
      const Bytes payload = in.Take(in.Byte());
      DeliverFrame(in, host, BuildFrame(code, payload, address));
      break;
    }
    case 2: {  // an acknowledgement, mostly of a packet near the running one
      uint32_t k = 0;
      switch (in.Byte() % 5) {
        case 0: k = ctl.currentPacket; break;
        case 1: k = ctl.packetCount; break;
        case 2: k = ctl.currentPacket + 1; break;
        case 3: k = ctl.currentPacket - 1; break;
        default: k = in.U16();
      }
      Bytes p;
      PutBE16(p, k);
      const Bytes extra = in.Take(in.Byte() % 3);
      p.insert(p.end(), extra.begin(), extra.end());
      DeliverFrame(in, host, UnitFrame(kCodeAck, p));
      break;
    }
    case 3:  // a negative acknowledgement
      DeliverFrame(in, host, UnitFrame(kCodeNack, in.Take(in.Byte() % 3)));
      break;
    case 4: {  // a read answer for a block, its data from the unit's record or the input
      const uint32_t block = in.Byte() % 6 + 1;
      uint32_t offset = (block - 1) * kReadBlockSize;
      if (in.Flag()) offset += in.Byte();
      uint32_t n = block == 5 ? 32 : kReadBlockSize;
      if (in.Flag()) n = in.U16() % 700;
      Bytes p;
      PutBE32(p, ctl.baseAddress + offset - (in.Byte() == 0xFF ? in.Byte() : 0));
      PutBE16(p, n);
      if (in.Flag()) {
        for (uint32_t i = 0; i < n && offset + i < kRecordSize; ++i) p.push_back(unit.record[offset + i]);
      } else {
        const Bytes data = in.Take(std::min<uint32_t>(n, in.U16() % 700));
        p.insert(p.end(), data.begin(), data.end());
      }
      DeliverFrame(in, host, UnitFrame(kCodeRead, p));
      break;
    }
    case 5: {  // an identification
      const uint8_t major = PickMajor(in);
      const uint8_t minor = in.Byte();
      const uint8_t release = in.Byte() % 4 == 0 ? in.Byte() : 2;
      const uint8_t build = in.Byte() % 4 == 0 ? in.Byte() : 42;
      const uint8_t mode = in.Byte() % 4 == 0 ? 0 : 1;
      UnitInfo u = test::MakeUnit(major, minor, release, build, mode);
      if (in.Byte() == 0xFF) u.baseAddress = in.U32();
      ctl.options().followGate = in.Byte() % 4 != 0;
      DeliverFrame(in, host, test::IdentFrame(u));
      break;
    }
    case 6:  // the unit reports it is running its application
      DeliverFrame(in, host, UnitFrame(kCodeOperationMode, in.Take(in.Byte() % 4)));
      break;
    case 7:  // time passes
      host.Advance(uint64_t(in.Byte()) * (in.Flag() ? 40 : 2));
      break;
    case 8:  // the model unit changes how it answers
      switch (in.Byte() % 5) {
        case 0: unit.silent = in.Flag(); break;
        case 1: unit.delayMs = uint64_t(in.Byte()) * 4; break;
        case 2: unit.dropAcks.insert(in.Flag() ? ctl.currentPacket + 1 : in.Byte()); break;
        case 3: {
          const uint8_t how = in.Byte(), at = in.Byte(), value = in.Byte();
          if (how % 4 == 0) {
            unit.editAnswer = nullptr;
          } else {
            unit.editAnswer = [how, at, value](uint32_t, Bytes& frame) {
              if (how % 4 == 1) frame.clear();                                    // lost
              else if (how % 4 == 2) frame[at % frame.size()] ^= value | 1;       // damaged
              else frame.resize(std::min<size_t>(frame.size(), at));              // cut short
            };
          }
          break;
        }
        default: host.deliverInProcessMessages = in.Flag();
      }
      break;
    case 9:  // the port is closed without a lost-connection event
      host.ClosePort();
      break;
    case 10:  // the device goes away
      if (host.open) {
        host.ClosePort();
        ctl.PortLost();
      }
      break;
    case 11:  // the port is opened again
      if (!host.open) {
        host.open = true;
        ctl.PortOpened();
      }
      break;
    case 12:  // the technician presses a button (the operations wait for an idle tool)
      switch (in.Byte() % 5) {
        case 0:
          ChangePanel(in, host);
          break;
        case 1:
          host.preset = in.Flag();
          host.autoClose = in.Flag();
          ctl.options().replaceInvalidRecord = in.Flag();
          if (!ctl.Busy()) ctl.B_SetConfigClick();
          break;
        case 2:
          if (!ctl.Busy()) ctl.B_GetConfigClick();
          break;
        case 3:
          if (!ctl.Busy()) ctl.B_FwTxClick();
          break;
        default:
          ctl.B_FwJumpClick();
      }
      break;
    case 13:  // writes fail for a while
      host.failWrites = in.Byte() % 4;
      break;
    case 14:  // the record the model unit holds
      switch (in.Byte() % 4) {
        case 0: unit.record = BuildRecord(DefaultPanel()); break;
        case 1: unit.record = BuildRecord(PresetPanel()); break;
        case 2: unit.record.assign(kRecordSize, 0xFF); break;
        default: unit.record[in.U16() % kRecordSize] ^= in.Byte() | 1;
      }
      break;
    default: {  // a few bytes: shorter than any frame
      host.Deliver(in.Take(in.Byte() % 8), host.now);
      break;
    }
  }
  // Due receive events run before the next step.
  host.Advance(0);
}

}  // namespace
}  // namespace vyo::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vyo::fuzz::trace = std::getenv("VYO_FUZZ_TRACE") != nullptr;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vyo;
  using namespace vyo::fuzz;
  Input in(data, size);

  FuzzHost host;
  Controller ctl(host, ControllerOptions{},
                 TransferIdentifier([] { return std::string("01/02/202303:04:05"); }, [] { return 1u; }));
  host.ctl = &ctl;
  UnitModel unit(host);
  // The model unit answers at the address the tool asks for; the tool's
  // base address may have come from an identification in the input.
  host.onWrite = [&, inner = host.onWrite](const Bytes& b) {
    unit.baseAddress = ctl.baseAddress;
    inner(b);
  };
  unit.record = BuildRecord(DefaultPanel());

  // A small firmware image keeps a whole upload within a few packets.
  Bytes firmware(in.Byte());
  for (size_t i = 0; i < firmware.size(); ++i) firmware[i] = uint8_t(i * 7 + 3);
  ctl.SetFirmware(MakeFirmwareImage(firmware, "fuzz"));
  host.firmwareData = firmware;

  // Start from an identified, up-to-date unit unless the input says otherwise.
  if (in.Byte() % 4 != 0) {
    ctl.options().followGate = false;
    host.Deliver(test::IdentFrame(test::MakeUnit(4, 0, 2, 42)));
    host.Advance(0);
  }
  ctl.options().followGate = true;

  for (int steps = 0; !in.Empty() && steps < 400; ++steps) Step(in, host, ctl, unit);

  // Everything that started ends once time runs on.
  host.failWrites = 0;
  host.RunUntilIdle(600000);
  FUZZ_CHECK(!ctl.Busy());
  FUZZ_CHECK(host.s.kind == FuzzHost::Kind::None || host.s.ended);
  FUZZ_CHECK(host.uploadSuccessLogs == host.uploadsDone);
  FUZZ_CHECK(host.readSuccessLogs == host.readsDone);
  return 0;
}
