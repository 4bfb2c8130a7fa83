// A minimal unit for controller tests: acknowledges packets, assembles the
// uploaded block and answers read requests, with a chosen delay.
#pragma once

#include <set>

#include "fake_host.h"

namespace vyo::test {

class UnitModel {
 public:
  explicit UnitModel(FakeHost& host) : host_(host) {
    host_.onWrite = [this](const Bytes& b) { OnWrite(b); };
    record.assign(kRecordSize, 0xFF);
  }

  uint64_t delayMs = 0;
  bool silent = false;
  std::set<uint32_t> dropAcks;  // packet numbers whose acknowledgement is lost (once)
  uint32_t baseAddress = 0x0803F000;
  Bytes record;
  Bytes received;  // assembled upload data
  std::array<uint8_t, 5> trailer{};
  int packets = 0, reads = 0, starts = 0;
  std::vector<std::pair<uint32_t, uint32_t>> readRequests;  // address, size
  std::function<void(uint32_t, Bytes&)> editAnswer;  // block number, whole answer frame

 private:
  void OnWrite(const Bytes& b) {
    for (const Frame& f : rx_.Feed(b.data(), b.size(), host_.now).frames) Handle(f);
  }
  void Handle(const Frame& f) {
    if (f.code == kCodeStart) { ++starts; return; }
    if (f.code == kCodeFirmwarePacket || f.code == kCodeConfigPacket) {
      ++packets;
      if (silent) return;
      const uint32_t n = GetBE16(&f.payload[2]), count = GetBE16(&f.payload[4]);
      if (n == 1) received.clear();
      if (n < count && n != last_) received.insert(received.end(), f.payload.begin() + 6, f.payload.end());
      if (n == count) std::copy(f.payload.begin() + 6, f.payload.begin() + 11, trailer.begin());
      last_ = n;
      if (dropAcks.erase(n)) return;
      Bytes p;
      PutBE16(p, n);
      host_.Deliver(UnitFrame(kCodeAck, p), host_.now + delayMs);
    } else if (f.code == kCodeRead) {
      ++reads;
      const uint32_t a = GetBE32(f.payload.data()), n = GetBE16(&f.payload[4]);
      readRequests.push_back({a, n});
      if (silent) return;
      Bytes p;
      PutBE32(p, a);
      PutBE16(p, n);
      p.insert(p.end(), record.begin() + (a - baseAddress), record.begin() + (a - baseAddress) + n);
      Bytes frame = UnitFrame(kCodeRead, p);
      if (editAnswer) editAnswer((a - baseAddress) / 500 + 1, frame);
      if (!frame.empty()) host_.Deliver(frame, host_.now + delayMs);
    }
  }

  FakeHost& host_;
  FrameReceiver rx_{kUnitStation};
  uint32_t last_ = 0;
};

// A controller on a fake host with a unit model, the unit already
// identified at the given version without following the gate.
struct Rig {
  FakeHost host;
  Controller ctl{host, ControllerOptions{}, TransferIdentifier([] { return std::string("01/02/202303:04:05"); }, [] { return 1u; })};
  UnitModel unit{host};
  Rig() { host.ctl = &ctl; }
  void Identify(const UnitInfo& u, bool follow) {
    ctl.options().followGate = follow;
    host.Deliver(IdentFrame(u));
    host.Advance(0);
    ctl.options().followGate = true;
  }
  std::vector<Packet> Packets() const {
    std::vector<Packet> out;
    for (const auto& w : host.writes)
      if (w.second[2] == kCodeFirmwarePacket || w.second[2] == kCodeConfigPacket) out.push_back(ParsePacket(w.second));
    return out;
  }
};

}  // namespace vyo::test
