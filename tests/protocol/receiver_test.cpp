#include <gtest/gtest.h>

#include "protocol/receiver.h"

namespace vyo {
namespace {

Bytes Ack(uint32_t n) {
  Bytes p;
  PutBE16(p, n);
  return BuildFrame(kCodeAck, p, kUnitAddress);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

ReceiveResult Feed(FrameReceiver& r, const Bytes& b, uint64_t t = 0) { return r.Feed(b.data(), b.size(), t); }

TEST(Receiver, WholeFrameIsAcceptedWithItsPayload) {
  FrameReceiver r;
  const ReceiveResult res = Feed(r, Ack(7));
  ASSERT_EQ(res.frames.size(), 1u);
  EXPECT_EQ(res.frames[0].code, kCodeAck);
  EXPECT_EQ(res.frames[0].payload, (Bytes{0, 7}));
  EXPECT_FALSE(res.shortEvent || res.badStart || res.extraBytes || res.partialPending);
}

TEST(Receiver, FrameSplitOverEventsIsKeptAndCompleted) {
  FrameReceiver r;
  const Bytes f = Ack(3);
  for (size_t cut = 1; cut < f.size(); ++cut) {
    ReceiveResult a = r.Feed(f.data(), cut, 100);
    EXPECT_TRUE(a.frames.empty());
    EXPECT_TRUE(a.partialPending);
    EXPECT_FALSE(a.badStart);
    ReceiveResult b = r.Feed(f.data() + cut, f.size() - cut, 150);
    ASSERT_EQ(b.frames.size(), 1u) << "cut at " << cut;
    EXPECT_FALSE(b.badStart) << "the tail of a pending frame is not a bad start";
    EXPECT_FALSE(b.partialPending);
  }
}

TEST(Receiver, FrameInThreePiecesAndByteByByte) {
  FrameReceiver r;
  const Bytes f = BuildFrame(kCodeRead, Bytes(300, 0x42), kUnitAddress);
  size_t frames = 0;
  for (size_t i = 0; i < f.size(); ++i) frames += r.Feed(&f[i], 1, i).frames.size();
  EXPECT_EQ(frames, 1u);
}

TEST(Receiver, SeveralFramesInOneEventAreAllHandledInOrder) {
  FrameReceiver r;
  const ReceiveResult res = Feed(r, Cat({Ack(1), Ack(2), Ack(3)}));
  ASSERT_EQ(res.frames.size(), 3u);
  EXPECT_EQ(res.frames[2].payload[1], 3);
  EXPECT_TRUE(res.extraBytes);
}

TEST(Receiver, FrameFollowedByTheStartOfAnotherKeepsTheRest) {
  FrameReceiver r;
  const Bytes second = Ack(9);
  Bytes event = Cat({Ack(8), Bytes(second.begin(), second.begin() + 4)});
  ReceiveResult a = Feed(r, event, 0);
  ASSERT_EQ(a.frames.size(), 1u);
  EXPECT_TRUE(a.extraBytes);
  EXPECT_TRUE(a.partialPending);
  ReceiveResult b = r.Feed(second.data() + 4, second.size() - 4, 10);
  ASSERT_EQ(b.frames.size(), 1u);
  EXPECT_EQ(b.frames[0].payload[1], 9);
}

TEST(Receiver, GarbageIsSkippedUpToTheNextStartByte) {
  FrameReceiver r;
  ReceiveResult res = Feed(r, Cat({Bytes{0x00, 0x11, 0x22}, Ack(4), Bytes{0x33, 0x44}}));
  ASSERT_EQ(res.frames.size(), 1u);
  EXPECT_TRUE(res.badStart);
  EXPECT_TRUE(res.extraBytes);
  EXPECT_FALSE(res.partialPending);
}

TEST(Receiver, OversizeLengthAndBadChecksumAreDroppedAndTheSearchResumes) {
  FrameReceiver r;
  // Length 1020: length + 5 > 1024, cannot be a frame.
  Bytes oversize = {0xBC, 0x12, 0x02, 0x03, 0xFC};
  Bytes bad = Ack(5);
  bad.back() ^= 1;
  ReceiveResult res = Feed(r, Cat({oversize, bad, Ack(6)}));
  ASSERT_EQ(res.frames.size(), 1u);
  EXPECT_EQ(res.frames[0].payload[1], 6);
  // The largest acceptable frame still passes.
  FrameReceiver r2;
  EXPECT_EQ(Feed(r2, BuildFrame(kCodeRead, Bytes(1019, 1), kUnitAddress)).frames.size(), 1u);
  EXPECT_THROW(BuildFrame(kCodeRead, Bytes(1020, 1)), std::length_error);
}

TEST(Receiver, WrongAddressIsCountedNotDelivered) {
  FrameReceiver r;
  const Bytes other = BuildFrame(kCodeAck, Bytes{0, 1}, 0x13);
  ReceiveResult res = Feed(r, other);
  EXPECT_TRUE(res.frames.empty());
  EXPECT_EQ(res.invalidDestination, 1);
  // The simulated unit's side listens for station 1.
  FrameReceiver unit(kUnitStation);
  EXPECT_EQ(Feed(unit, BuildFrame(kCodeStart, nullptr, 0)).frames.size(), 1u);
}

TEST(Receiver, CountersFlags) {
  FrameReceiver r;
  EXPECT_TRUE(Feed(r, Bytes{1, 2, 3}).shortEvent);
  EXPECT_TRUE(Feed(r, Bytes{1, 2, 3}).badStart);
  // A short event that is the beginning of a frame is short and pending.
  ReceiveResult start = Feed(r, Bytes{0xBC, 0x12}, 1000);
  EXPECT_TRUE(start.shortEvent);
  EXPECT_TRUE(start.partialPending);
  EXPECT_FALSE(start.badStart);
  // A short event that completes a frame is not short.
  FrameReceiver r2;
  const Bytes f = Ack(2);
  Feed(r2, Bytes(f.begin(), f.begin() + 5));
  EXPECT_FALSE(r2.Feed(f.data() + 5, f.size() - 5, 1).shortEvent);
}

TEST(Receiver, PartialFrameIsDroppedAfterTheReadIntervalAndOnReset) {
  FrameReceiver r;
  const Bytes f = Ack(2);
  r.Feed(f.data(), 4, 1000);
  // 201 ms later: the old beginning is gone; the tail alone is garbage.
  ReceiveResult late = r.Feed(f.data() + 4, f.size() - 4, 1201);
  EXPECT_TRUE(late.frames.empty());
  EXPECT_FALSE(late.partialPending);
  // Exactly 200 ms still completes it.
  r.Feed(f.data(), 4, 2000);
  EXPECT_EQ(r.Feed(f.data() + 4, f.size() - 4, 2200).frames.size(), 1u);
  r.Feed(f.data(), 4, 3000);
  r.Reset();
  EXPECT_FALSE(r.PartialPending());
}

TEST(Receiver, StrayStartByteDoesNotHideAWholeFrameBehindIt) {
  // Noise that looks like the header of a 16-byte frame, then a whole
  // acknowledgement: the acknowledgement waits inside the would-be frame.
  FrameReceiver r;
  const Bytes event = Cat({Bytes{0xBC, 0x00, 0x00, 0x00, 0x10}, Ack(1)});
  EXPECT_TRUE(Feed(r, event, 1000).frames.empty());
  // When the would-be frame times out, what was behind its start byte is
  // searched again and the acknowledgement comes out, before the new one.
  ReceiveResult later = Feed(r, Ack(2), 1300);
  ASSERT_EQ(later.frames.size(), 2u);
  EXPECT_EQ(later.frames[0].payload[1], 1);
  EXPECT_EQ(later.frames[1].payload[1], 2);
}

}  // namespace
}  // namespace vyo
