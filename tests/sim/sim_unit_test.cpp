// The simulated unit's protocol logic on a virtual clock.
#include "sim/sim_unit.h"

#include <gtest/gtest.h>

#include "config/presets.h"
#include "config/record.h"
#include "protocol/frame.h"
#include "protocol/receiver.h"

namespace vyo::sim {
namespace {

constexpr uint16_t kToken = 0x4A2F;

// Drives a SimUnit as the tool would: sends frames, lets virtual time pass
// and decodes what the unit writes.
struct Bench {
  explicit Bench(UnitState s = {}, Faults f = {}, std::optional<Version> reid = {})
      : unit(std::move(s), std::move(f), reid) {
    unit.PowerUp(0);
  }

  // Runs the unit's timers up to `t` and returns the writes made.
  std::vector<Write> RunWrites(uint64_t t) {
    std::vector<Write> all;
    while (true) {
      const auto next = unit.NextDeadline();
      if (!next || *next > t) break;
      now = std::max(now, *next);
      unit.Tick(now);
      for (Write& w : unit.TakeDue(now)) all.push_back(std::move(w));
    }
    now = std::max(now, t);
    return all;
  }
  std::vector<Frame> Decode(const std::vector<Write>& writes) {
    std::vector<Frame> frames;
    for (const Write& w : writes)
      for (Frame& f : rx.Feed(w.bytes.data(), w.bytes.size(), w.dueMs).frames)
        frames.push_back(std::move(f));
    return frames;
  }
  std::vector<Frame> Run(uint64_t t) { return Decode(RunWrites(t)); }

  // Sends a frame now and returns the answers written within `wait` ms.
  std::vector<Frame> Send(const Bytes& frame, uint64_t wait = 0) {
    unit.Receive(frame.data(), frame.size(), now);
    return Run(now + wait);
  }
  std::vector<Frame> SendPacket(uint8_t type, uint32_t n, uint32_t count, const Bytes& data,
                                uint16_t token = kToken) {
    return Send(Packet(type, n, count, data, token));
  }

  static Bytes Packet(uint8_t type, uint32_t n, uint32_t count, const Bytes& data,
                      uint16_t token = kToken) {
    Bytes p;
    PutBE16(p, token);
    PutBE16(p, n);
    PutBE16(p, count);
    p.insert(p.end(), data.begin(), data.end());
    return BuildFrame(type, p);
  }
  static Bytes Read(uint32_t address, uint32_t size) {
    Bytes p;
    PutBE32(p, address);
    PutBE16(p, size);
    return BuildFrame(kCodeRead, p);
  }

  SimUnit unit;
  FrameReceiver rx{kToolStation};
  uint64_t now = 0;
};

// The packets of a whole upload: data in 48-byte pieces, then the closing bytes.
std::vector<Bytes> UploadFrames(uint8_t type, const Bytes& block, const Trailer& trailer,
                                uint16_t token = kToken) {
  const uint32_t count = uint32_t(PacketCountFor(block.size()));
  std::vector<Bytes> frames;
  for (uint32_t n = 1; n < count; ++n) {
    const size_t from = (n - 1) * kPacketDataSize;
    const size_t to = std::min(block.size(), from + kPacketDataSize);
    frames.push_back(Bench::Packet(type, n, count, Bytes(block.begin() + from, block.begin() + to), token));
  }
  frames.push_back(Bench::Packet(type, count, count, Bytes(trailer.begin(), trailer.end()), token));
  return frames;
}

Trailer GoodTrailer(const Bytes& b) { return XorSumTrailer(b.data(), b.size()); }

Bytes Block(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7);
  return b;
}

uint32_t Number(const Frame& f) { return f.payload.size() >= 2 ? GetBE16(f.payload.data()) : 0xFFFFFFFF; }

// Code and number of each answer, e.g. "2:1 2:2 3:4".
std::string Answers(const std::vector<Frame>& frames) {
  std::string s;
  for (const Frame& f : frames) {
    if (!s.empty()) s += ' ';
    s += std::to_string(f.code);
    if (f.code == kCodeAck || f.code == kCodeNack) s += ":" + std::to_string(Number(f));
  }
  return s;
}

std::string Upload(Bench& b, uint8_t type, const Bytes& block, const Trailer& trailer,
                   uint16_t token = kToken) {
  std::string s;
  for (const Bytes& f : UploadFrames(type, block, trailer, token)) {
    const std::string a = Answers(b.Send(f));
    s += s.empty() ? a : " " + a;
  }
  return s;
}

TEST(SimIdentification, PayloadLayoutAndRepetitionUntilTheToolSpeaks) {
  UnitState s;
  s.id = {0x01020304, 0x05060708, 0x090A0B0C};
  s.text1 = "ABCDEFGHIJKL";
  s.text2 = "xyz";
  s.version = {4, 0, 2, 41};
  s.baseAddress = 0x0803F000;
  Bench b(s);

  auto frames = b.Run(0);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].address, kUnitAddress);
  EXPECT_EQ(frames[0].code, kCodeIdentification);
  const Bytes expected = {
      1,                                                                   // update mode
      1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,                               // id words
      'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L',          // text 1
      'x', 'y', 'z', 0, 0, 0, 0, 0, 0, 0, 0, 0,                            // text 2
      4, 0, 2, 41,                                                         // version
      0x08, 0x03, 0xF0, 0x00};                                             // base address
  EXPECT_EQ(frames[0].payload, expected);
  EXPECT_EQ(frames[0].payload.size(), 45u);

  EXPECT_TRUE(b.Run(299).empty());
  EXPECT_EQ(b.Run(300).size(), 1u);
  EXPECT_EQ(b.Run(900).size(), 2u);  // at 600 and 900

  // A tool frame of any code stops it; a frame for another station does not.
  Bytes other = BuildFrame(kCodeRead, Bytes(6, 0), 0x22);
  b.unit.Receive(other.data(), other.size(), 950);
  EXPECT_EQ(b.Run(1200).size(), 1u);
  b.Send(BuildFrame(9, Bytes{}));
  EXPECT_FALSE(b.unit.identifying());
  EXPECT_TRUE(b.Run(5000).empty());
  EXPECT_EQ(b.unit.stats().identificationsSent, 5u);

  // Plugged in again: identification starts over, after the given delay.
  b.unit.PowerDown();
  b.unit.PowerUp(6000, 50);
  EXPECT_TRUE(b.Run(6049).empty());
  EXPECT_EQ(b.Run(6050).size(), 1u);
}

TEST(SimUpload, BlockAssembledAcknowledgedAndStored) {
  Bench b;
  const Bytes block = Block(100);
  // 100 bytes: 48 + 48 + 4, then the closing packet.
  EXPECT_EQ(Upload(b, kCodeFirmwarePacket, block, GoodTrailer(block)), "2:1 2:2 2:3 2:4");
  EXPECT_EQ(b.unit.state().firmware, block);
  EXPECT_EQ(b.unit.state().firmwareTrailer, GoodTrailer(block));
  EXPECT_TRUE(b.unit.state().lastFirmwareOk);
  EXPECT_EQ(b.unit.state().lastFirmwareSize, 100u);
  EXPECT_TRUE(b.unit.TakeStateChanged());
  EXPECT_EQ(b.unit.stats().transfersCompleted, 1u);
  EXPECT_EQ(b.unit.stats().acksSent, 4u);

  // A configuration record replaces the record.
  const Bytes record = BuildRecord(DefaultPanel());
  std::string acks;
  for (int n = 1; n <= 44; ++n) acks += (n > 1 ? " 2:" : "2:") + std::to_string(n);
  EXPECT_EQ(Upload(b, kCodeConfigPacket, record, GoodTrailer(record), 0x1111), acks);
  EXPECT_EQ(b.unit.state().record, record);
}

TEST(SimUpload, ClosingBytesThatDoNotMatchDiscardTheTransfer) {
  Bench b;
  const Bytes good = Block(100);
  ASSERT_EQ(Upload(b, kCodeFirmwarePacket, good, GoodTrailer(good)), "2:1 2:2 2:3 2:4");

  const Bytes other = Block(100, 9);
  Trailer bad = GoodTrailer(other);
  bad[4] ^= 1;
  EXPECT_EQ(Upload(b, kCodeFirmwarePacket, other, bad, 0x2222), "2:1 2:2 2:3 3:4");
  EXPECT_EQ(b.unit.state().firmware, good) << "the installed image stays";
  EXPECT_FALSE(b.unit.state().lastFirmwareOk);
  EXPECT_EQ(b.unit.stats().transfersFailed, 1u);
  // The discarded transfer cannot be resumed: its packets are refused.
  EXPECT_EQ(Answers(b.SendPacket(kCodeFirmwarePacket, 4, 4, Bytes(bad.begin(), bad.end()), 0x2222)),
            "3:4");
  EXPECT_EQ(Answers(b.SendPacket(kCodeFirmwarePacket, 3, 4, Bytes(4, 0), 0x2222)), "3:3");

  // A record must be exactly 2032 bytes, even with matching closing bytes.
  const Bytes shortRecord = Block(2031);
  EXPECT_EQ(Upload(b, kCodeConfigPacket, shortRecord, GoodTrailer(shortRecord)).substr(0, 4), "2:1 ");
  EXPECT_EQ(b.unit.state().record, Bytes(kRecordSize, 0xFF));
  EXPECT_EQ(b.unit.stats().transfersFailed, 2u);
  EXPECT_EQ(b.unit.stats().nacksSent, 4u);

  // An empty block (the closing packet alone) stores nothing.
  const Bytes none;
  EXPECT_EQ(Upload(b, kCodeFirmwarePacket, none, GoodTrailer(none)), "3:1");
}

TEST(SimUpload, RepeatsGapsAndStrayPackets) {
  Bench b;
  const Bytes block = Block(192);  // 4 data packets and the closing one
  const auto frames = UploadFrames(kCodeFirmwarePacket, block, GoodTrailer(block));
  EXPECT_EQ(Answers(b.Send(frames[0])), "2:1");
  EXPECT_EQ(Answers(b.Send(frames[0])), "2:1") << "packet 1 again reopens the transfer";
  EXPECT_EQ(Answers(b.Send(frames[1])), "2:2");
  EXPECT_EQ(Answers(b.Send(frames[1])), "2:2") << "repeat of the last packet";
  EXPECT_EQ(Answers(b.Send(frames[3])), "2:2") << "gap: the last accepted";
  EXPECT_EQ(Answers(b.SendPacket(kCodeFirmwarePacket, 3, 5, Block(48), 0x9999)), "2:2")
      << "wrong token";
  EXPECT_EQ(Answers(b.SendPacket(kCodeFirmwarePacket, 3, 6, Block(48))), "2:2") << "wrong count";
  EXPECT_EQ(Answers(b.SendPacket(kCodeConfigPacket, 3, 5, Block(48))), "2:2") << "wrong type";
  EXPECT_EQ(Answers(b.SendPacket(kCodeFirmwarePacket, 3, 5, Bytes(49, 0))), "3:3")
      << "more than 48 data bytes";
  EXPECT_EQ(Answers(b.SendPacket(kCodeFirmwarePacket, 6, 5, Bytes(48, 0))), "3:6")
      << "number beyond the count";
  EXPECT_EQ(Answers(b.Send(frames[2])), "2:3");
  EXPECT_EQ(Answers(b.Send(frames[3])), "2:4");
  EXPECT_EQ(Answers(b.SendPacket(kCodeFirmwarePacket, 5, 5, Bytes(4, 0))), "3:5")
      << "closing packet of 4 bytes";
  EXPECT_EQ(Answers(b.Send(frames[4])), "2:5");
  EXPECT_EQ(b.unit.state().firmware, block);
  // Resends after completion get the completion again, marked as such.
  b.unit.Receive(frames[4].data(), frames[4].size(), b.now);
  const auto writes = b.RunWrites(b.now);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_TRUE(writes[0].transferDone);
  EXPECT_EQ(Answers(b.Send(frames[2])), "2:5");
  EXPECT_EQ(b.unit.stats().transfersCompleted, 1u);

  // A packet that belongs to no transfer is refused.
  Bench fresh;
  EXPECT_EQ(Answers(fresh.SendPacket(kCodeConfigPacket, 7, 44, Block(48))), "3:7");
  EXPECT_EQ(Answers(fresh.Send(BuildFrame(kCodeConfigPacket, Bytes{0, 1, 0}))), "3:0");
}

TEST(SimRead, FiveBlocksAndRequestsOutsideTheRecord) {
  UnitState s;
  s.record = BuildRecord(DefaultPanel());
  s.baseAddress = 0x08040000;
  Bench b(s);
  const uint32_t sizes[] = {500, 500, 500, 500, 32};
  for (uint32_t k = 0; k < 5; ++k) {
    const uint32_t address = s.baseAddress + k * 500;
    const auto frames = b.Send(Bench::Read(address, sizes[k]));
    ASSERT_EQ(frames.size(), 1u) << k;
    const Bytes& p = frames[0].payload;
    EXPECT_EQ(frames[0].code, kCodeRead);
    ASSERT_EQ(p.size(), 6 + sizes[k]);
    EXPECT_EQ(GetBE32(&p[0]), address);
    EXPECT_EQ(GetBE16(&p[4]), sizes[k]);
    EXPECT_TRUE(std::equal(p.begin() + 6, p.end(), s.record.begin() + k * 500)) << k;
  }
  EXPECT_EQ(b.unit.stats().readsAnswered, 5u);

  EXPECT_EQ(Answers(b.Send(Bench::Read(s.baseAddress - 1, 10))), "3:0");
  EXPECT_EQ(Answers(b.Send(Bench::Read(s.baseAddress + 2000, 33))), "3:0");
  EXPECT_EQ(Answers(b.Send(Bench::Read(s.baseAddress + 2032, 1))), "3:0");
  EXPECT_EQ(Answers(b.Send(Bench::Read(s.baseAddress, 0))), "3:0");
  EXPECT_EQ(Answers(b.Send(Bench::Read(0xFFFFFFFF, 0xFFFF))), "3:0");
  EXPECT_EQ(Answers(b.Send(BuildFrame(kCodeRead, Bytes(5, 0)))), "3:0");
  EXPECT_EQ(Answers(b.Send(Bench::Read(s.baseAddress + 2031, 1))), "7");
}

TEST(SimStart, OperationModeAnswersEverythingWithANotice) {
  Bench b;
  EXPECT_TRUE(b.Send(BuildFrame(kCodeStart, Bytes{})).empty()) << "no answer to the start";
  EXPECT_EQ(b.unit.state().mode, 0);
  EXPECT_TRUE(b.unit.TakeStateChanged());
  EXPECT_EQ(Answers(b.Send(Bench::Read(kDefaultBaseAddress, 500))), "11");
  EXPECT_EQ(Answers(b.SendPacket(kCodeFirmwarePacket, 1, 2, Block(1))), "11");
  EXPECT_EQ(Answers(b.Send(BuildFrame(kCodeStart, Bytes{}))), "11");
  EXPECT_EQ(b.unit.stats().operationNotices, 3u);

  b.unit.PowerDown();
  b.unit.PowerUp(b.now);
  const auto ids = b.Run(b.now);
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_EQ(ids[0].payload[0], 0) << "identification carries the operation mode";
}

TEST(SimRestart, FirmwareUploadRestartsIntoTheNewVersion) {
  UnitState old;
  old.version = {4, 0, 2, 41};
  Bench u(old, {}, Version{4, 0, 2, 42});
  u.Run(0);
  const Bytes fw = Block(60);
  ASSERT_EQ(Upload(u, kCodeFirmwarePacket, fw, GoodTrailer(fw)), "2:1 2:2 2:3");
  EXPECT_EQ(u.unit.state().version, (Version{4, 0, 2, 42}));
  const uint64_t done = u.now;
  EXPECT_TRUE(u.Run(done + kRestartPauseMs - 1).empty());
  auto ids = u.Run(done + kRestartPauseMs + kIdentificationPeriodMs);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0].code, kCodeIdentification);
  EXPECT_EQ(ids[0].payload[40], 42);
  u.Send(Bench::Read(kDefaultBaseAddress, 500));
  EXPECT_TRUE(u.Run(done + 5000).empty());

  // Without the option the unit stays quiet after an upload.
  Bench quiet;
  quiet.Run(0);
  ASSERT_EQ(Upload(quiet, kCodeFirmwarePacket, fw, GoodTrailer(fw)), "2:1 2:2 2:3");
  EXPECT_TRUE(quiet.Run(5000).empty());
}

// ---- Faults ----

TEST(SimFaults, DropNackAndCorruptHitTheChosenPacketsOnce) {
  Faults f;
  f.dropAck = {2};
  f.nack = {3};
  f.corruptAck = {1};
  Bench b({}, f);
  b.Run(0);
  const Bytes block = Block(150);  // 5 packets
  const auto frames = UploadFrames(kCodeFirmwarePacket, block, GoodTrailer(block));

  // Packet 1: the answer arrives with a bad checksum, so the tool sees nothing.
  auto writes = (b.unit.Receive(frames[0].data(), frames[0].size(), 0), b.RunWrites(0));
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes.size(), 10u);
  EXPECT_TRUE(b.Decode(writes).empty());
  EXPECT_EQ(Answers(b.Send(frames[0])), "2:1");
  EXPECT_EQ(Answers(b.Send(frames[1])), "") << "ack of 2 dropped";
  EXPECT_EQ(Answers(b.Send(frames[1])), "2:2") << "the resend is acknowledged";
  EXPECT_EQ(Answers(b.Send(frames[2])), "3:3") << "refused once";
  EXPECT_EQ(Answers(b.Send(frames[2])), "2:3") << "then accepted";
  EXPECT_EQ(Answers(b.Send(frames[3])), "2:4");
  EXPECT_EQ(Answers(b.Send(frames[4])), "2:5");
  EXPECT_EQ(b.unit.state().firmware, block);
  EXPECT_EQ(b.unit.stats().faultsInjected, 3u);
  EXPECT_EQ(b.unit.stats().faultsByKind.at("drop-ack"), 1u);
  EXPECT_EQ(b.unit.stats().faultsByKind.at("nack"), 1u);
  EXPECT_EQ(b.unit.stats().faultsByKind.at("corrupt-ack"), 1u);

  // A second upload is not hit again.
  EXPECT_EQ(Upload(b, kCodeFirmwarePacket, block, GoodTrailer(block), 7), "2:1 2:2 2:3 2:4 2:5");
}

TEST(SimFaults, DropReadWithholdsTheChosenBlockOnce) {
  Faults f;
  f.dropRead = {2, 5};
  Bench b({}, f);
  EXPECT_EQ(Answers(b.Send(Bench::Read(kDefaultBaseAddress, 500))), "7");
  EXPECT_EQ(Answers(b.Send(Bench::Read(kDefaultBaseAddress + 500, 500))), "");
  EXPECT_EQ(Answers(b.Send(Bench::Read(kDefaultBaseAddress + 500, 500))), "7");
  EXPECT_EQ(Answers(b.Send(Bench::Read(kDefaultBaseAddress + 2000, 32))), "");
  EXPECT_EQ(Answers(b.Send(Bench::Read(kDefaultBaseAddress + 2000, 32))), "7");
}

TEST(SimFaults, SilentAfterAndVanishAfter) {
  Faults f;
  f.silentAfter = 2;
  Bench b({}, f);
  const Bytes block = Block(150);
  const auto frames = UploadFrames(kCodeFirmwarePacket, block, GoodTrailer(block));
  EXPECT_EQ(Answers(b.Send(frames[0])), "2:1");
  EXPECT_EQ(Answers(b.Send(frames[1])), "2:2");
  EXPECT_TRUE(b.unit.silent());
  EXPECT_EQ(Answers(b.Send(frames[2])), "");
  EXPECT_EQ(Answers(b.Send(frames[1])), "");
  EXPECT_EQ(Answers(b.Send(Bench::Read(kDefaultBaseAddress, 500))), "");
  b.unit.PowerUp(b.now);
  EXPECT_TRUE(b.Run(b.now + 1000).empty()) << "not even identification";

  Faults v;
  v.vanishAfter = 2;
  Bench u({}, v);
  u.Send(frames[0]);
  u.unit.Receive(frames[1].data(), frames[1].size(), u.now);
  auto writes = u.RunWrites(u.now);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_TRUE(writes[0].vanish);
  EXPECT_EQ(Answers(u.Decode(writes)), "2:2") << "the acknowledgement goes out first";

  // With the acknowledgement dropped the unit still vanishes.
  v.dropAck = {2};
  Bench w({}, v);
  w.Send(frames[0]);
  w.unit.Receive(frames[1].data(), frames[1].size(), w.now);
  writes = w.RunWrites(w.now);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_TRUE(writes[0].vanish);
  EXPECT_TRUE(writes[0].bytes.empty());
}

TEST(SimFaults, SplitMergeLatencyAndGarbageShapeTheWrites) {
  const Bytes first = Bench::Packet(kCodeFirmwarePacket, 1, 3, Block(48));
  Bytes ack;
  PutBE16(ack, 1);
  const Bytes ackFrame = BuildFrame(kCodeAck, ack, kUnitAddress);

  Faults split;
  split.split = true;
  Bench s({}, split);
  s.Run(10);  // the identification, in two pieces
  s.unit.Receive(first.data(), first.size(), 10);
  auto writes = s.RunWrites(100);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].dueMs, 10u);
  EXPECT_EQ(writes[1].dueMs, 10u + kSplitGapMs);
  Bytes joined = writes[0].bytes;
  joined.insert(joined.end(), writes[1].bytes.begin(), writes[1].bytes.end());
  EXPECT_EQ(joined, ackFrame);

  Faults merge;
  merge.merge = true;
  Bench m({}, merge);
  m.Run(0);
  m.unit.Receive(first.data(), first.size(), 10);
  writes = m.RunWrites(10);
  ASSERT_EQ(writes.size(), 1u);
  Bytes twice = ackFrame;
  twice.insert(twice.end(), ackFrame.begin(), ackFrame.end());
  EXPECT_EQ(writes[0].bytes, twice);

  Faults late;
  late.latencyMs = 250;
  Bench l({}, late);
  l.Run(0);
  l.unit.Receive(first.data(), first.size(), 10);
  EXPECT_TRUE(l.RunWrites(259).empty());
  writes = l.RunWrites(260);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes, ackFrame);
  // Answers keep their order even when a later one would be due earlier.
  EXPECT_EQ(l.unit.NextDeadline(), std::nullopt);

  Faults noise;
  noise.garbage = true;
  Bench g({}, noise);
  writes = g.RunWrites(0);  // identification
  g.unit.Receive(first.data(), first.size(), 10);
  auto more = g.RunWrites(10);
  writes.insert(writes.end(), more.begin(), more.end());
  ASSERT_EQ(writes.size(), 2u);
  for (const Write& w : writes) {
    ASSERT_GT(w.bytes.size(), 10u);
    EXPECT_NE(w.bytes[0], kStartByte);
    const size_t noiseBytes = w.bytes.size() - (w.identification ? 53 : 10);
    EXPECT_GE(noiseBytes, 1u);
    EXPECT_LE(noiseBytes, 8u);
    for (size_t i = 0; i < noiseBytes; ++i) EXPECT_NE(w.bytes[i], kStartByte);
  }
  EXPECT_EQ(Answers(g.Decode(writes)), "4 2:1") << "the frames are still found";
}

TEST(SimFaults, ChaosIsDeterministicForASeed) {
  auto run = [](double p, uint64_t seed) {
    Faults f;
    f.chaos = p;
    f.seed = seed;
    Bench b({}, f);
    b.Run(0);
    std::vector<Write> all;
    const Bytes block = Block(48 * 30);
    for (const Bytes& fr : UploadFrames(kCodeFirmwarePacket, block, GoodTrailer(block))) {
      b.unit.Receive(fr.data(), fr.size(), b.now);
      auto w = b.RunWrites(b.now + 500);
      all.insert(all.end(), w.begin(), w.end());
    }
    return std::make_pair(all, b.unit.stats());
  };
  const auto [a, statsA] = run(0.5, 42);
  const auto [again, statsAgain] = run(0.5, 42);
  ASSERT_EQ(a.size(), again.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].bytes, again[i].bytes) << i;
    EXPECT_EQ(a[i].dueMs, again[i].dueMs) << i;
  }
  EXPECT_EQ(statsA.faultsByKind, statsAgain.faultsByKind);
  EXPECT_GT(statsA.faultsInjected, 3u);
  EXPECT_LT(statsA.faultsInjected, 31u);

  const auto [other, statsOther] = run(0.5, 43);
  EXPECT_NE(statsA.faultsByKind, statsOther.faultsByKind);

  const auto [clean, statsClean] = run(0.0, 42);
  EXPECT_EQ(statsClean.faultsInjected, 0u);
  EXPECT_EQ(clean.size(), 31u);  // 31 acknowledgements

  const auto [all, statsAll] = run(1.0, 42);
  EXPECT_EQ(statsAll.faultsInjected, 31u) << "every answer hit";
}

TEST(SimUnitPower, UnpluggingLosesTheOpenTransferAndUnsentAnswers) {
  Faults late;
  late.latencyMs = 100;
  Bench b({}, late);
  b.Run(0);
  const Bytes block = Block(100);
  const auto frames = UploadFrames(kCodeFirmwarePacket, block, GoodTrailer(block));
  b.unit.Receive(frames[0].data(), frames[0].size(), 0);
  b.unit.PowerDown();
  EXPECT_EQ(b.unit.NextDeadline(), std::nullopt);
  b.unit.Receive(frames[1].data(), frames[1].size(), 10);  // nobody listens
  b.unit.PowerUp(20);
  b.Run(20);
  b.unit.Receive(frames[1].data(), frames[1].size(), 30);
  EXPECT_EQ(Answers(b.Run(200)), "3:2");
}

}  // namespace
}  // namespace vyo::sim
