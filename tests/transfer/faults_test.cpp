// Units that misbehave, writes that fail and connections that come and go:
// whatever happens, a session reports success only for what happened, and
// ends once.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

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

TEST(UnitFaults, ReadStoresOnlyTheBlocksItAskedFor) {
  Rig rig;
  rig.Identify(MakeUnit(4, 0, 2, 42), false);
  PanelValues values = DefaultPanel();
  values.ED_VMX = "99";
  rig.unit.record = BuildRecord(values);
  rig.unit.delayMs = 50;
  // Answers for blocks 2 to 5 left over from an earlier read, arriving
  // before they are asked for.
  for (uint32_t k = 2; k <= 5; ++k) {
    Bytes p;
    PutBE32(p, 0x0803F000 + (k - 1) * 500);
    PutBE16(p, k == 5 ? 32 : 500);
    p.resize(p.size() + (k == 5 ? 32 : 500), 0x00);
    rig.host.Deliver(UnitFrame(kCodeRead, p));
  }
  rig.ctl.B_GetConfigClick();
  rig.host.RunUntilIdle();
  std::set<std::pair<uint32_t, uint32_t>> asked(rig.unit.readRequests.begin(), rig.unit.readRequests.end());
  EXPECT_EQ(asked.size(), 5u) << "every block asked for";
  EXPECT_EQ(rig.ctl.configBuffer(), rig.unit.record);
  EXPECT_EQ(rig.host.panel.ED_VMX, "99");
  EXPECT_EQ(rig.host.outcomes.back(), Outcome::ReadDone);
}

TEST(UnitFaults, SessionEndsOnceWhenATickNestedInAResendEndsIt) {
  Rig rig;
  rig.unit.silent = true;
  rig.ctl.B_SetConfigClick();
  rig.host.Advance(3000);  // six silent ticks
  ASSERT_EQ(rig.ctl.retryCount, 6u);
  // Four short chunks at once: the first is the seventh tick, whose resend
  // lets the other three run as ticks eight to ten.
  for (int i = 0; i < 4; ++i) rig.host.Deliver(Bytes{0x01, 0x02}, rig.host.now + 1);
  rig.host.RunUntilIdle();
  EXPECT_EQ(rig.host.boxes.size(), 1u);
  EXPECT_EQ(std::count(rig.host.outcomes.begin(), rig.host.outcomes.end(), Outcome::UploadFailed), 1);
  EXPECT_FALSE(rig.ctl.Busy());
}

TEST(Connection, ReopeningThePortEndsTheSessionOfThePreviousConnection) {
  Rig rig;
  rig.Identify(MakeUnit(4, 0, 2, 42), false);
  rig.unit.record = BuildRecord(DefaultPanel());
  rig.unit.silent = true;
  rig.ctl.B_GetConfigClick();
  // Closed and opened again before the read's tick noticed.
  rig.host.open = false;
  rig.host.Advance(50);
  rig.host.open = true;
  rig.ctl.PortOpened();
  EXPECT_FALSE(rig.ctl.Busy());
  EXPECT_FALSE(rig.ctl.identified());
  ASSERT_EQ(rig.host.boxes.size(), 1u);
  EXPECT_EQ(rig.host.boxes[0].caption, "ERRO #0x03");
  EXPECT_EQ(rig.host.outcomes.back(), Outcome::ReadNoConnection);
  // The new connection works as usual.
  rig.unit.silent = false;
  rig.Identify(MakeUnit(4, 0, 2, 42), true);
  rig.host.RunUntilIdle();
  EXPECT_EQ(rig.host.outcomes.back(), Outcome::ReadDone);
  EXPECT_EQ(rig.host.boxes.size(), 1u);
}

TEST(Connection, IdentificationDuringATransferStartsNothingOverIt) {
  Rig rig;
  rig.unit.delayMs = 100;
  // A configuration write before the unit has identified itself (as after
  // a firmware update, while the unit restarts).
  rig.ctl.B_SetConfigClick();
  rig.host.Advance(150);
  ASSERT_TRUE(rig.ctl.UploadRunning());
  rig.host.Deliver(IdentFrame(MakeUnit(4, 0, 2, 42)));  // the gate would read the configuration
  rig.host.RunUntilIdle();
  EXPECT_TRUE(rig.ctl.identified());
  EXPECT_TRUE(rig.host.Logged("Vyo v4.0.2.42\r\nId: 11223344 55667788 99AABBCC"));
  EXPECT_EQ(rig.unit.reads, 0);
  EXPECT_EQ(rig.host.outcomes.back(), Outcome::UploadDone);
  EXPECT_EQ(rig.unit.received, BuildRecord(rig.host.panel));
}

}  // namespace
}  // namespace vyo::test
