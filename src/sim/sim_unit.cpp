#include "sim/sim_unit.h"

#include <algorithm>
#include <cstdio>

#include "protocol/identification.h"

namespace vyo::sim {

namespace {

std::string Format(const char* fmt, auto... args) {
  char buf[160];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

const char* TypeName(uint8_t code) {
  return code == kCodeFirmwarePacket ? "firmware" : "configuration";
}

}  // namespace

SimUnit::SimUnit(UnitState state, Faults faults, std::optional<Version> reidentify)
    : state_(std::move(state)),
      faults_(std::move(faults)),
      reidentify_(reidentify),
      rx_(kUnitStation),
      rng_(faults_.seed) {}

Bytes SimUnit::IdentificationPayload(const UnitState& s) {
  UnitInfo info;
  info.mode = s.mode;
  info.id = s.id;
  info.text1 = s.text1;
  info.text2 = s.text2;
  info.major = s.version[0];
  info.minor = s.version[1];
  info.release = s.version[2];
  info.build = s.version[3];
  info.baseAddress = s.baseAddress;
  return BuildIdentification(info);
}

void SimUnit::PowerUp(uint64_t nowMs, uint64_t delayMs) {
  powered_ = true;
  identifying_ = true;
  nextIdentificationMs_ = nowMs + delayMs;
  rx_.Reset();
  Log("unit powered up");
}

void SimUnit::PowerDown() {
  powered_ = false;
  identifying_ = false;
  rx_.Reset();
  transfer_ = {};
  // Unsent bytes are lost with the connection; a pending disappearance
  // still happens.
  std::erase_if(out_, [](const Write& w) { return !w.vanish; });
  for (Write& w : out_) w.bytes.clear();
  lastDueMs_ = out_.empty() ? 0 : out_.back().dueMs;
  Log("unit unplugged");
}

bool SimUnit::TakeStateChanged() {
  const bool changed = stateChanged_;
  stateChanged_ = false;
  return changed;
}

void SimUnit::Log(const std::string& line) {
  if (log_) log_(line);
}

uint64_t SimUnit::Random() {
  // splitmix64: the same sequence for the same seed on every platform.
  uint64_t z = (rng_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void SimUnit::CountFault(const char* kind) {
  ++stats_.faultsInjected;
  ++stats_.faultsByKind[kind];
}

SimUnit::ChaosFault SimUnit::DrawChaos(bool packet) {
  if (faults_.chaos <= 0) return ChaosFault::None;
  const double u = double(Random() >> 11) * 0x1.0p-53;
  if (u >= faults_.chaos) return ChaosFault::None;
  // A read or a notice cannot be refused in a useful way: no nack there.
  static constexpr ChaosFault kPacketFaults[] = {
      ChaosFault::Drop,    ChaosFault::Nack,    ChaosFault::Split,  ChaosFault::Merge,
      ChaosFault::Latency, ChaosFault::Garbage, ChaosFault::Corrupt};
  static constexpr ChaosFault kOtherFaults[] = {ChaosFault::Drop,    ChaosFault::Split,
                                                ChaosFault::Merge,   ChaosFault::Latency,
                                                ChaosFault::Garbage, ChaosFault::Corrupt};
  return packet ? kPacketFaults[Random() % std::size(kPacketFaults)]
                : kOtherFaults[Random() % std::size(kOtherFaults)];
}

void SimUnit::Tick(uint64_t nowMs) {
  if (!powered_ || !identifying_ || silent_ || nowMs < nextIdentificationMs_) return;
  Write flags;
  flags.identification = true;
  Emit(BuildFrame(kCodeIdentification, IdentificationPayload(state_), kUnitAddress), nowMs,
       faults_.split, false, flags);
  ++stats_.identificationsSent;
  Log(Format("tx identification, version %d.%d.%d.%d, mode %d", state_.version[0],
             state_.version[1], state_.version[2], state_.version[3], state_.mode));
  nextIdentificationMs_ += kIdentificationPeriodMs;
  if (nextIdentificationMs_ <= nowMs) nextIdentificationMs_ = nowMs + kIdentificationPeriodMs;
}

std::vector<Write> SimUnit::TakeDue(uint64_t nowMs) {
  std::vector<Write> due;
  size_t n = 0;
  while (n < out_.size() && out_[n].dueMs <= nowMs) ++n;
  due.assign(std::make_move_iterator(out_.begin()),
             std::make_move_iterator(out_.begin() + std::ptrdiff_t(n)));
  out_.erase(out_.begin(), out_.begin() + std::ptrdiff_t(n));
  return due;
}

std::optional<uint64_t> SimUnit::NextDeadline() const {
  std::optional<uint64_t> next;
  if (!out_.empty()) next = out_.front().dueMs;
  if (powered_ && identifying_ && !silent_ &&
      (!next || nextIdentificationMs_ < *next))
    next = nextIdentificationMs_;
  return next;
}

void SimUnit::Receive(const uint8_t* data, size_t n, uint64_t nowMs) {
  if (!powered_) return;
  const ReceiveResult r = rx_.Feed(data, n, nowMs);
  if (r.invalidDestination) {
    stats_.framesIgnored += uint64_t(r.invalidDestination);
    Log(Format("%d frame(s) for another station ignored", r.invalidDestination));
  }
  for (const Frame& f : r.frames) HandleFrame(f, nowMs);
}

void SimUnit::HandleFrame(const Frame& f, uint64_t nowMs) {
  ++stats_.framesReceived;
  if (identifying_) {
    identifying_ = false;
    Log("first frame from the tool: identification stops");
  }
  if (state_.mode == 0) {
    Log(Format("rx code %d in operation mode: operation-mode notice", f.code));
    Answer(kCodeOperationMode, {}, {}, nowMs, DrawChaos(false));
    return;
  }
  switch (f.code) {
    case kCodeFirmwarePacket:
    case kCodeConfigPacket:
      HandlePacket(f, nowMs, DrawChaos(true));
      break;
    case kCodeRead:
      HandleRead(f, nowMs, DrawChaos(false));
      break;
    case kCodeStart:
      Log("rx start command: switching to operation mode");
      state_.mode = 0;
      stateChanged_ = true;
      break;
    default:
      ++stats_.framesIgnored;
      Log(Format("rx code %d ignored", f.code));
      break;
  }
}

void SimUnit::HandlePacket(const Frame& f, uint64_t nowMs, ChaosFault chaos) {
  ++stats_.packetsReceived;
  const Bytes& p = f.payload;
  if (p.size() < kUploadHeaderSize) {
    Log(Format("rx upload packet with a %zu-byte payload: refused", p.size()));
    Nack(0, std::nullopt, nowMs, chaos);
    return;
  }
  const uint32_t token = GetBE16(&p[0]);
  const uint32_t number = GetBE16(&p[2]);
  const uint32_t count = GetBE16(&p[4]);
  const Bytes data(p.begin() + kUploadHeaderSize, p.end());
  Log(Format("rx %s packet %u/%u token 0x%04X, %zu bytes", TypeName(f.code), number, count,
             token, data.size()));

  if (faults_.nack.erase(number)) {
    CountFault("nack");
    Nack(number, number, nowMs, ChaosFault::None);
    return;
  }
  if (chaos == ChaosFault::Nack) {
    CountFault("chaos-nack");
    Nack(number, number, nowMs, ChaosFault::None);
    return;
  }
  if (number == 0 || number > count) {
    Log("packet number outside the transfer: refused");
    Nack(number, number, nowMs, chaos);
    return;
  }

  Transfer& t = transfer_;
  if (number == 1) {
    // Packet 1 always opens a transfer; a resent packet 1 simply opens it again.
    t = Transfer{Phase::Receiving, f.code, token, count, 0, {}};
    Accept(number, data, nowMs, chaos);
    return;
  }
  const bool same = t.phase != Phase::None && t.type == f.code && t.token == token &&
                    t.count == count;
  if (same && t.phase == Phase::Receiving) {
    if (number == t.lastAccepted + 1) {
      Accept(number, data, nowMs, chaos);
    } else if (number == t.lastAccepted) {
      Log("repeat of the last packet: acknowledged again");
      Ack(number, number, nowMs, chaos);
    } else {
      Log(Format("expected packet %u: acknowledging %u", t.lastAccepted + 1, t.lastAccepted));
      Ack(t.lastAccepted, number, nowMs, chaos);
    }
    return;
  }
  if (same && t.phase == Phase::Completed) {
    Log("packet of the stored transfer: its completion acknowledged again");
    Ack(t.count, number, nowMs, chaos, true);
    return;
  }
  if (t.phase == Phase::Receiving) {
    Log(Format("packet of another transfer: acknowledging %u", t.lastAccepted));
    Ack(t.lastAccepted, number, nowMs, chaos);
    return;
  }
  // Nothing to continue (never opened, or discarded after a bad closing
  // packet): a plain acknowledgement would keep the tool resending forever.
  Log("no open transfer for this packet: refused");
  Nack(number, number, nowMs, chaos);
}

void SimUnit::Accept(uint32_t number, const Bytes& data, uint64_t nowMs, ChaosFault chaos) {
  Transfer& t = transfer_;
  const bool vanish = faults_.vanishAfter && *faults_.vanishAfter == number && !vanishing_;
  if (number < t.count) {
    if (data.empty() || data.size() > kPacketDataSize ||
        t.data.size() + data.size() > kMaxUploadBytes) {
      Log(Format("data packet with %zu bytes: refused", data.size()));
      Nack(number, number, nowMs, chaos);
      return;
    }
    t.data.insert(t.data.end(), data.begin(), data.end());
    t.lastAccepted = number;
    if (vanish) vanishing_ = true;
    Ack(number, number, nowMs, chaos, false, vanish);
  } else {
    if (data.size() != kTrailerSize) {
      Log(Format("closing packet with %zu bytes instead of 5: refused", data.size()));
      Nack(number, number, nowMs, chaos);
      return;
    }
    const Trailer expected = XorSumTrailer(t.data.data(), t.data.size());
    const bool sumOk = std::equal(expected.begin(), expected.end(), data.begin());
    const bool sizeOk =
        t.type == kCodeConfigPacket ? t.data.size() == kRecordSize : !t.data.empty();
    if (t.type == kCodeFirmwarePacket) {
      state_.firmwareAttempted = true;
      state_.lastFirmwareSize = uint32_t(t.data.size());
      state_.lastFirmwareOk = sumOk && sizeOk;
      stateChanged_ = true;
    }
    if (!sumOk || !sizeOk) {
      Log(Format("%s upload of %zu bytes discarded: %s", TypeName(t.type), t.data.size(),
                 !sumOk ? "closing bytes do not match" : "wrong size"));
      ++stats_.transfersFailed;
      t.phase = Phase::Discarded;
      t.data.clear();
      Nack(number, number, nowMs, chaos);
      return;
    }
    t.phase = Phase::Completed;
    t.lastAccepted = number;
    if (t.type == kCodeConfigPacket) {
      state_.record = t.data;
    } else {
      state_.firmware = t.data;
      state_.firmwareTrailer = expected;
    }
    stateChanged_ = true;
    ++stats_.transfersCompleted;
    Log(Format("%s upload of %zu bytes stored", TypeName(t.type), t.data.size()));
    const uint8_t type = t.type;
    t.data.clear();
    if (vanish) vanishing_ = true;
    Ack(number, number, nowMs, chaos, true, vanish);
    if (type == kCodeFirmwarePacket && reidentify_) {
      // Restart into the new firmware once the acknowledgement is out.
      state_.version = *reidentify_;
      identifying_ = true;
      nextIdentificationMs_ = std::max(nowMs, lastDueMs_) + kRestartPauseMs;
      rx_.Reset();
      Log(Format("restarting as version %d.%d.%d.%d", state_.version[0], state_.version[1],
                 state_.version[2], state_.version[3]));
    }
  }
  if (faults_.silentAfter && *faults_.silentAfter == number && !silent_) {
    silent_ = true;
    Log(Format("falling silent after packet %u", number));
  }
}

void SimUnit::HandleRead(const Frame& f, uint64_t nowMs, ChaosFault chaos) {
  const Bytes& p = f.payload;
  if (p.size() != 6) {
    Log(Format("rx read request with a %zu-byte payload: refused", p.size()));
    Nack(0, std::nullopt, nowMs, chaos);
    return;
  }
  const uint32_t address = GetBE32(&p[0]);
  const uint32_t size = GetBE16(&p[4]);
  Log(Format("rx read 0x%08X, %u bytes", address, size));
  const uint64_t offset = uint64_t(address) - state_.baseAddress;
  if (address < state_.baseAddress || size == 0 || size > kMaxReadSize ||
      offset + size > state_.record.size()) {
    Log("read outside the record: refused");
    Nack(0, std::nullopt, nowMs, chaos);
    return;
  }
  Bytes answer;
  PutBE32(answer, address);
  PutBE16(answer, size);
  answer.insert(answer.end(), state_.record.begin() + std::ptrdiff_t(offset),
                state_.record.begin() + std::ptrdiff_t(offset + size));
  AnswerInfo info;
  info.readBlock = uint32_t(offset / kReadBlockSize + 1);
  Answer(kCodeRead, answer, info, nowMs, chaos);
}

void SimUnit::Ack(uint32_t number, uint32_t packet, uint64_t nowMs, ChaosFault chaos,
                  bool transferDone, bool vanish) {
  Bytes payload;
  PutBE16(payload, number);
  AnswerInfo info;
  info.packet = packet;
  info.transferDone = transferDone;
  info.vanish = vanish;
  Answer(kCodeAck, payload, info, nowMs, chaos);
}

void SimUnit::Nack(uint32_t number, std::optional<uint32_t> packet, uint64_t nowMs,
                   ChaosFault chaos) {
  Bytes payload;
  PutBE16(payload, number);
  AnswerInfo info;
  info.packet = packet;
  Answer(kCodeNack, payload, info, nowMs, chaos);
}

void SimUnit::Answer(uint8_t code, const Bytes& payload, const AnswerInfo& info,
                     uint64_t nowMs, ChaosFault chaos) {
  Write flags;
  flags.transferDone = info.transferDone;
  flags.vanish = info.vanish;

  const char* dropped = nullptr;
  if (silent_) {
    dropped = "silent";
  } else if (code == kCodeAck && info.packet && faults_.dropAck.erase(*info.packet)) {
    dropped = "drop-ack";
  } else if (info.readBlock && faults_.dropRead.erase(*info.readBlock)) {
    dropped = "drop-read";
  } else if (chaos == ChaosFault::Drop) {
    dropped = "chaos-drop";
  }
  uint64_t dueMs = nowMs + faults_.latencyMs;
  if (dropped) {
    CountFault(dropped);
    Log(Format("tx code %d withheld (%s)", code, dropped));
    if (flags.vanish) {
      flags.transferDone = false;
      Emit({}, dueMs, false, false, flags);
    }
    return;
  }

  Bytes frame = BuildFrame(code, payload, kUnitAddress);
  const char* corrupt = nullptr;
  if (info.packet && faults_.corruptAck.erase(*info.packet))
    corrupt = "corrupt-ack";
  else if (chaos == ChaosFault::Corrupt)
    corrupt = "chaos-corrupt";
  if (corrupt) {
    CountFault(corrupt);
    frame.back() ^= 0x5A;
    flags.transferDone = false;  // the tool will not take this one
  }
  if (faults_.merge || chaos == ChaosFault::Merge) {
    CountFault(faults_.merge ? "merge" : "chaos-merge");
    const Bytes copy = frame;
    frame.insert(frame.end(), copy.begin(), copy.end());
  }
  if (faults_.latencyMs) CountFault("latency");
  if (chaos == ChaosFault::Latency) {
    CountFault("chaos-latency");
    dueMs += 1 + Random() % 200;
  }
  if (chaos == ChaosFault::Garbage) {
    CountFault("chaos-garbage");
    PrependNoise(frame);
  }

  switch (code) {
    case kCodeAck: ++stats_.acksSent; break;
    case kCodeNack: ++stats_.nacksSent; break;
    case kCodeRead: ++stats_.readsAnswered; break;
    case kCodeOperationMode: ++stats_.operationNotices; break;
    default: break;
  }
  if (log_) {
    const uint32_t number = payload.size() >= 2 ? GetBE16(payload.data()) : 0;
    Log(code == kCodeAck    ? Format("tx ack %u", number)
        : code == kCodeNack ? Format("tx nack %u", number)
                            : Format("tx code %d, %zu-byte payload", code, payload.size()));
  }
  const bool split = faults_.split || chaos == ChaosFault::Split;
  if (chaos == ChaosFault::Split) CountFault("chaos-split");
  Emit(std::move(frame), dueMs, split, chaos == ChaosFault::Split, flags);
}

// One to eight random bytes before a frame, never the start byte, so the
// noise cannot pose as the beginning of a frame.
void SimUnit::PrependNoise(Bytes& frame) {
  const size_t n = 1 + Random() % 8;
  Bytes noise;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = uint8_t(Random());
    noise.push_back(b == kStartByte ? 0 : b);
  }
  frame.insert(frame.begin(), noise.begin(), noise.end());
}

void SimUnit::Emit(Bytes bytes, uint64_t dueMs, bool split, bool randomSplit, Write flags) {
  dueMs = std::max(dueMs, lastDueMs_);  // answers never overtake each other
  if (faults_.garbage && !bytes.empty()) {
    CountFault("garbage");
    PrependNoise(bytes);
  }
  if (split && bytes.size() >= 2) {
    if (faults_.split) CountFault("split");
    const size_t cut = randomSplit ? 1 + Random() % (bytes.size() - 1) : bytes.size() / 2;
    Write first;
    first.dueMs = dueMs;
    first.identification = flags.identification;
    first.bytes.assign(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut));
    out_.push_back(std::move(first));
    bytes.erase(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut));
    dueMs += kSplitGapMs;
  }
  flags.dueMs = dueMs;
  flags.bytes = std::move(bytes);
  out_.push_back(std::move(flags));
  lastDueMs_ = dueMs;
}

}  // namespace vyo::sim
