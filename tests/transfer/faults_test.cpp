// Units that misbehave, writes that fail and connections that come and go:
// whatever happens, a session reports success only for what happened, and
// ends once.
#include <gtest/gtest.h>

#include <algorithm>

#include "unit_model.h"

namespace vyo::test {
namespace {

const char kDone[] = "Atualização concluída com sucesso!";

// A firmware upload of two packets (10 bytes, then the closing packet) that
// the test answers itself; packet 1 is out.
struct TwoPackets : Rig {
  TwoPackets() {
    Identify(MakeUnit(4, 0, 2, 41), false);
    ctl.SetFirmware(MakeFirmwareImage(Bytes(10, 7), "small"));
    unit.silent = true;
    ctl.B_FwTxClick();
  }
  void Answer(const Bytes& frame) {
    host.Deliver(frame);
    host.Advance(0);
  }
  uint32_t LastNumber() const { return Packets().back().number; }
};

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(UnitFaults, AcknowledgementOfAPacketWhoseWriteFailedIsNotBelieved) {
  TwoPackets t;
  ASSERT_EQ(t.LastNumber(), 1u);
  t.host.failWrites = 1;
  t.Answer(AckFrame(1));  // the closing packet's write fails
  EXPECT_EQ(t.Packets().size(), 1u);
  t.Answer(AckFrame(2));
  EXPECT_FALSE(t.host.Logged(kDone)) << "the closing packet never went out";
  EXPECT_TRUE(t.ctl.UploadRunning());
  // The third silent tick resends it; now its acknowledgement counts.
  t.host.Advance(1500);
  ASSERT_EQ(t.Packets().size(), 2u);
  EXPECT_EQ(t.LastNumber(), 2u);
  t.Answer(AckFrame(2));
  EXPECT_TRUE(t.host.Logged(kDone));
  EXPECT_EQ(t.host.outcomes.back(), Outcome::UploadDone);
}

TEST(UnitFaults, FramesBehindTheOneThatSentAPacketCannotAcknowledgeIt) {
  TwoPackets t;
  // Both acknowledgements in one event: the first sends the closing packet,
  // the second arrived before it went out.
  t.Answer(Cat(AckFrame(1), AckFrame(2)));
  EXPECT_EQ(t.LastNumber(), 2u);
  EXPECT_FALSE(t.host.Logged(kDone));
  t.Answer(AckFrame(2));
  EXPECT_TRUE(t.host.Logged(kDone));
}

TEST(UnitFaults, FramesFoundAgainBehindATimedOutStartByteCannotAcknowledgeLaterPackets) {
  TwoPackets t;
  // One event: the acknowledgement that sends the closing packet, then a
  // stray start byte whose length makes the receiver wait, swallowing an
  // acknowledgement of the closing packet that came before it went out.
  t.Answer(Cat(Cat(AckFrame(1), Bytes{0xBC, 0x12, 0x02, 0x00, 0xEF}), AckFrame(2)));
  EXPECT_EQ(t.LastNumber(), 2u);
  // When the stray start byte times out, that acknowledgement is found again.
  t.host.Advance(300);
  t.Answer(AckFrame(1));
  EXPECT_FALSE(t.host.Logged(kDone)) << "an acknowledgement older than the closing packet";
  EXPECT_TRUE(t.ctl.UploadRunning());
  t.Answer(AckFrame(2));
  EXPECT_TRUE(t.host.Logged(kDone));
}

}  // namespace
}  // namespace vyo::test
