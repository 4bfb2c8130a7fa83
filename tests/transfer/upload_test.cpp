#include <gtest/gtest.h>

#include <fstream>

#include "unit_model.h"

namespace vyo::test {
namespace {

TEST(Upload, FirmwareTravelsIn1870PacketsWithTheImageTrailer) {
  Rig rig;
  rig.Identify(MakeUnit(4, 0, 2, 41, 1), false);
  rig.ctl.B_FwTxClick();
  rig.host.RunUntilIdle();
  const std::vector<Packet> packets = rig.Packets();
  ASSERT_EQ(packets.size(), 1870u);
  size_t full = 0;
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i].number, i + 1);
    EXPECT_EQ(packets[i].count, 1870u);
    EXPECT_EQ(packets[i].token, packets[0].token);
    EXPECT_EQ(packets[i].code, kCodeFirmwarePacket);
    full += packets[i].data.size() == 48;
  }
  EXPECT_EQ(full, 1868u);
  EXPECT_EQ(packets[1868].data.size(), 12u);
  EXPECT_EQ(packets[1869].data, (Bytes{0xBB, 0x00, 0x77, 0x78, 0x83}));
  EXPECT_EQ(rig.unit.received, BuiltinFirmware().data);
  EXPECT_TRUE(rig.host.Logged("Iniciando atualização..."));
  EXPECT_TRUE(rig.host.Logged("Atualizando firmware..."));
  EXPECT_TRUE(rig.host.Logged("Atualização concluída com sucesso!"));
  EXPECT_FALSE(rig.ctl.identified()) << "the unit restarts and identifies itself again";
  EXPECT_EQ(rig.host.progress, 0);
  EXPECT_EQ(rig.host.progressMax, 1870);
  EXPECT_TRUE(rig.host.boxes.empty());
  // A unit that answers at once never nests the handlers more than once.
  EXPECT_LE(rig.host.maxMessageDepth, 1);
}

TEST(Upload, InstantUnitDoesNotNestReceiveHandlers) {
  Rig rig;
  int depth = 0, maxDepth = 0;
  rig.host.onWrite = [&, inner = rig.host.onWrite](const Bytes& b) {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    inner(b);
    --depth;
  };
  rig.Identify(MakeUnit(4, 0, 2, 41, 1), false);
  rig.ctl.B_FwTxClick();
  rig.host.RunUntilIdle();
  EXPECT_TRUE(rig.host.Logged("Atualização concluída com sucesso!"));
  EXPECT_EQ(rig.unit.packets, 1870);
  EXPECT_LE(maxDepth, 1);
}

TEST(Upload, SilentUnitGetsThePacketFourTimesThenFailsAboutFiveSecondsLater) {
  Rig rig;
  rig.Identify(MakeUnit(4, 0, 2, 41), false);
  rig.unit.silent = true;
  rig.host.now = 10000;
  rig.ctl.B_FwTxClick();
  rig.host.RunUntilIdle();
  const std::vector<Packet> packets = rig.Packets();
  ASSERT_EQ(packets.size(), 4u);
  for (const Packet& p : packets) EXPECT_EQ(p.number, 1u);
  std::vector<uint64_t> times;
  for (const auto& w : rig.host.writes) times.push_back(w.first - 10000);
  EXPECT_EQ(times, (std::vector<uint64_t>{0, 1500, 2500, 3500}));
  ASSERT_EQ(rig.host.boxes.size(), 1u);
  EXPECT_EQ(rig.host.boxes[0].caption, "ERRO #0x02");
  EXPECT_EQ(rig.host.boxes[0].text, "A operação não foi concluida!\r\nNacks = 0\r\nCode10 = 0\r\nCode15 = 0\r\nCode20 = 0");
  EXPECT_EQ(rig.host.now - 10000, 5000u);
  EXPECT_EQ(rig.host.outcomes.back(), Outcome::UploadFailed);
  EXPECT_EQ(rig.host.progress, 0);
}

TEST(Upload, SlowUnitStillGetsEveryPacketOnce) {
  Rig rig;
  rig.unit.delayMs = 300;  // slower than a tick, faster than a resend
  rig.host.panel.ED_VMX = "110";
  rig.ctl.B_SetConfigClick();
  rig.host.RunUntilIdle();
  EXPECT_EQ(rig.Packets().size(), 44u);
  EXPECT_TRUE(rig.host.Logged("Atualizando configuração..."));
  EXPECT_TRUE(rig.host.Logged("Atualização concluída com sucesso!"));
  EXPECT_EQ(rig.unit.received, BuildRecord(rig.host.panel));
  EXPECT_TRUE(rig.host.configEnabled);
}

TEST(Upload, LostAcknowledgementIsRecoveredByTheResend) {
  Rig rig;
  rig.unit.dropAcks = {1, 20, 44};
  rig.ctl.B_SetConfigClick();
  rig.host.RunUntilIdle();
  EXPECT_TRUE(rig.host.Logged("Atualização concluída com sucesso!"));
  EXPECT_EQ(rig.Packets().size(), 47u);
  EXPECT_TRUE(rig.host.boxes.empty());
}

// A manual unit: the test delivers each answer itself.
struct Manual : Rig {
  Manual() {
    unit.silent = true;
    ctl.B_SetConfigClick();  // packet 1 of 44 goes out
  }
  uint32_t LastNumber() const { return Packets().back().number; }
  void Answer(const Bytes& frame) {
    host.Deliver(frame);
    host.Advance(0);
  }
};

TEST(Upload, AcknowledgementSendsTheNextPacketAtOnce) {
  Manual m;
  ASSERT_EQ(m.LastNumber(), 1u);
  m.Answer(AckFrame(1));
  EXPECT_EQ(m.LastNumber(), 2u);
  EXPECT_EQ(m.host.writes.back().first, m.host.now);
}

TEST(Upload, AcknowledgementOfAnotherPacketResendsTheCurrentAndResetsTheCount) {
  Manual m;
  m.Answer(AckFrame(1));
  m.host.Advance(1000);  // two silent ticks
  EXPECT_EQ(m.ctl.retryCount, 2u);
  const size_t before = m.host.writes.size();
  m.Answer(AckFrame(7));
  EXPECT_EQ(m.host.writes.size(), before + 1);
  EXPECT_EQ(m.LastNumber(), 2u);
  EXPECT_EQ(m.ctl.retryCount, 0u);
}

TEST(Upload, DuplicateAcknowledgementChangesNothing) {
  Manual m;
  m.Answer(AckFrame(1));
  const size_t before = m.host.writes.size();
  m.Answer(AckFrame(1));
  Bytes two = AckFrame(1);
  m.Answer(two);
  EXPECT_EQ(m.host.writes.size(), before);
  // Two acknowledgements merged in one event: the next packet goes once.
  Bytes merged = AckFrame(2);
  const Bytes again = AckFrame(2);
  merged.insert(merged.end(), again.begin(), again.end());
  m.Answer(merged);
  EXPECT_EQ(m.host.writes.size(), before + 1);
  EXPECT_EQ(m.LastNumber(), 3u);
  EXPECT_EQ(m.ctl.code20Count, 1u);
}

TEST(Upload, StrayFinalAcknowledgementIsNotSuccess) {
  Manual m;
  m.Answer(AckFrame(1));
  m.Answer(AckFrame(44));  // the packet count, before the closing packet went out
  EXPECT_FALSE(m.host.Logged("Atualização concluída com sucesso!"));
  EXPECT_EQ(m.LastNumber(), 2u) << "handled as an acknowledgement of another packet";
  m.Answer(AckFrame(900));  // beyond the session
  EXPECT_FALSE(m.host.Logged("Atualização concluída com sucesso!"));
  EXPECT_TRUE(m.ctl.UploadRunning());
  for (uint32_t n = 2; n <= 44; ++n) m.Answer(AckFrame(n));
  EXPECT_TRUE(m.host.Logged("Atualização concluída com sucesso!"));
  EXPECT_EQ(m.Packets().size(), 46u);
}

TEST(Upload, AnswersWhileIdleAreIgnored) {
  Rig rig;
  rig.unit.silent = true;
  rig.host.Deliver(AckFrame(1));
  rig.host.Deliver(AckFrame(0xFFFF));
  rig.host.Deliver(NackFrame());
  rig.host.Advance(10);
  EXPECT_TRUE(rig.host.logs.empty());
  EXPECT_TRUE(rig.host.writes.empty());
  EXPECT_TRUE(rig.host.outcomes.empty());
  EXPECT_EQ(rig.ctl.nackCount, 0u);
}

TEST(Upload, NegativeAcknowledgementCountsAsATick) {
  Manual m;
  m.Answer(NackFrame());
  m.Answer(NackFrame());
  EXPECT_EQ(m.ctl.nackCount, 2u);
  EXPECT_EQ(m.ctl.retryCount, 2u);
  m.Answer(NackFrame());  // third: resend
  EXPECT_EQ(m.host.writes.size(), 2u);
  for (int i = 0; i < 7; ++i) m.Answer(NackFrame());
  ASSERT_FALSE(m.host.boxes.empty());
  EXPECT_EQ(m.host.boxes.back().caption, "ERRO #0x02");
  EXPECT_NE(m.host.boxes.back().text.find("Nacks = 10"), std::string::npos);
}

TEST(Upload, ShortChunkCountsAsATickUnlessAFrameIsArriving) {
  Manual m;
  m.Answer(Bytes{0x01, 0x02});
  EXPECT_EQ(m.ctl.code10Count, 1u);
  EXPECT_EQ(m.ctl.code15Count, 1u);
  EXPECT_EQ(m.ctl.retryCount, 1u);
  const Bytes ack = AckFrame(1);
  m.Answer(Bytes(ack.begin(), ack.begin() + 3));
  EXPECT_EQ(m.ctl.code10Count, 2u);
  EXPECT_EQ(m.ctl.retryCount, 1u) << "the beginning of a frame does not hasten resends";
  m.Answer(Bytes(ack.begin() + 3, ack.end()));
  EXPECT_EQ(m.LastNumber(), 2u);
}

TEST(Upload, ClosedPortEndsWithNoConnection) {
  Manual m;
  m.host.open = false;
  m.host.Advance(500);
  ASSERT_EQ(m.host.boxes.size(), 1u);
  EXPECT_EQ(m.host.boxes[0].caption, "ERRO #0x01");
  EXPECT_EQ(m.host.boxes[0].text, "Não há conexão ativa!");
  EXPECT_FALSE(m.host.AnyTimer());
  // Unplugged: the front end reports it and the session ends at once.
  Manual u;
  u.host.open = false;
  u.ctl.PortLost();
  EXPECT_EQ(u.host.boxes.size(), 1u);
  EXPECT_EQ(u.host.outcomes.front(), Outcome::UploadNoConnection);
}

TEST(Upload, BlockBeyondThePacketNumberingIsRefusedBeforeSending) {
  Rig rig;
  rig.Identify(MakeUnit(4, 0, 2, 41), false);
  rig.ctl.SetFirmware(MakeFirmwareImage(Bytes(65535u * 48u, 1), "big"));
  rig.ctl.B_FwTxClick();
  EXPECT_TRUE(rig.host.writes.empty());
  ASSERT_EQ(rig.host.boxes.size(), 1u);
  EXPECT_EQ(rig.host.boxes[0].caption, "Erro");
  // The largest block that fits still goes.
  rig.ctl.SetFirmware(MakeFirmwareImage(Bytes(65534u * 48u, 1), "max"));
  rig.unit.silent = true;
  rig.ctl.B_FwTxClick();
  EXPECT_EQ(rig.Packets().back().count, 65535u);
}

TEST(Upload, InvalidParameterShowsTheBoxClearsTheFieldAndSendsNothing) {
  Rig rig;
  rig.host.panel.ED_VMX = "151";
  rig.ctl.B_SetConfigClick();
  EXPECT_TRUE(rig.host.writes.empty());
  ASSERT_EQ(rig.host.boxes.size(), 1u);
  EXPECT_EQ(rig.host.boxes[0].caption, "Erro");
  EXPECT_EQ(rig.host.boxes[0].text, "Parâmetro inválido!\r\n[Velocidade]");
  EXPECT_EQ(rig.host.cleared, std::vector<PanelField>{PanelField::ED_VMX});
}

TEST(Upload, AutoCloseAfterConfigurationOnlyForTheUnitsThatAllowIt) {
  for (int build : {42, 41}) {
    Rig rig;
    rig.Identify(MakeUnit(4, 0, 2, uint8_t(build)), false);
    rig.host.autoClose = true;
    rig.ctl.B_SetConfigClick();
    rig.host.RunUntilIdle();
    EXPECT_TRUE(rig.host.Logged("Atualização concluída com sucesso!"));
    EXPECT_EQ(rig.host.disconnects, build == 42 ? 1 : 0);
  }
}

TEST(Firmware, RefusedWithoutAnIdentifiedUnitOrForAnotherMajor) {
  Rig rig;
  rig.ctl.B_FwTxClick();
  EXPECT_TRUE(rig.host.writes.empty());
  ASSERT_EQ(rig.host.boxes.size(), 1u);
  EXPECT_EQ(rig.host.boxes[0].caption, "Erro");
  rig.Identify(MakeUnit(5, 0, 0, 0), true);
  rig.ctl.B_FwTxClick();
  EXPECT_TRUE(rig.host.writes.empty());
  EXPECT_EQ(rig.host.boxes.size(), 2u);
  EXPECT_EQ(rig.host.outcomes.back(), Outcome::FirmwareRefused);
}

TEST(Firmware, BuiltinImageFollowsTheClosingBytesRule) {
  const FirmwareImage& img = BuiltinFirmware();
  EXPECT_EQ(img.data.size(), 89676u);
  EXPECT_EQ(img.trailer, (std::array<uint8_t, 5>{0xBB, 0x00, 0x77, 0x78, 0x83}));
}

TEST(Firmware, JumpIsSentWheneverThePortIsOpen) {
  Rig rig;
  rig.ctl.B_FwJumpClick();
  ASSERT_EQ(rig.host.writes.size(), 1u);
  EXPECT_EQ(rig.host.writes[0].second, (Bytes{0xBC, 0x21, 0x05, 0, 0, 0, 0, 0xE2}));
  rig.host.open = false;
  rig.ctl.B_FwJumpClick();
  EXPECT_EQ(rig.host.writes.size(), 1u);
}

}  // namespace
}  // namespace vyo::test

namespace vyo::test {
namespace {

TEST(Firmware, ReplacementImageGetsItsTrailerAndBadFilesAreRefused) {
  const std::string path = testing::TempDir() + "vyo_image.bin";
  std::string error;
  { std::ofstream(path, std::ios::binary) << std::string("\x01\x02\x03", 3); }
  auto img = LoadFirmwareImage(path, &error);
  ASSERT_TRUE(img) << error;
  EXPECT_EQ(img->trailer, (std::array<uint8_t, 5>{0x00, 0x00, 0x00, 0x00, 0x06}));
  { std::ofstream(path, std::ios::binary | std::ios::trunc); }
  EXPECT_FALSE(LoadFirmwareImage(path, &error));
  EXPECT_NE(error.find("vazio"), std::string::npos) << error;
  { std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(size_t(kMaxUploadBytes) + 1, 'x'); }
  EXPECT_FALSE(LoadFirmwareImage(path, &error));
  EXPECT_NE(error.find("grande demais"), std::string::npos) << error;
  EXPECT_FALSE(LoadFirmwareImage(path + ".missing", &error));
}

}  // namespace
}  // namespace vyo::test
