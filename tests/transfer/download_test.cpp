#include <gtest/gtest.h>

#include "unit_model.h"

namespace vyo::test {
namespace {

struct ReadRig : Rig {
  ReadRig() {
    ctl.options().followGate = false;
    host.Deliver(IdentFrame(MakeUnit(4, 0, 2, 42)));
    host.Advance(0);
    host.logs.clear();
  }
};

PanelValues Changed() {
  PanelValues v = PresetPanel();
  v.ED_VMX = "99";
  v.CB_PING = 2;
  return v;
}

TEST(Download, FiveRequestsAtTheBlockAddressesAndAValidRecordFillsThePanel) {
  ReadRig rig;
  rig.unit.record = BuildRecord(Changed());
  rig.host.configEnabled = false;
  rig.ctl.B_GetConfigClick();
  rig.host.RunUntilIdle();
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {0x0803F000, 500}, {0x0803F000 + 500, 500}, {0x0803F000 + 1000, 500}, {0x0803F000 + 1500, 500}, {0x0803F000 + 2000, 32}};
  EXPECT_EQ(rig.unit.readRequests, expected);
  EXPECT_EQ(rig.host.panel.ED_VMX, "99");
  EXPECT_EQ(rig.host.panel.CB_PING, 2);
  EXPECT_TRUE(rig.host.Logged("Leitura da configuração interna concluída!"));
  EXPECT_TRUE(rig.host.configEnabled);
  EXPECT_EQ(rig.host.progress, 0);
  EXPECT_EQ(rig.host.progressMax, 5);
  EXPECT_EQ(rig.host.outcomes.back(), Outcome::ReadDone);
}

TEST(Download, BlankRecordIsReplacedByTheDefaultsOrThePreset) {
  for (bool preset : {false, true}) {
    ReadRig rig;
    rig.host.preset = preset;
    rig.host.panel = Changed();
    rig.ctl.B_GetConfigClick();
    rig.host.RunUntilIdle();
    EXPECT_EQ(rig.host.redLogs, std::vector<std::string>{"Configuração inválida!"});
    EXPECT_TRUE(rig.host.Logged(preset ? "Preparando configuração Plenaro..." : "Preparando configuração padrão..."));
    EXPECT_TRUE(rig.host.Logged("Atualização concluída com sucesso!"));
    EXPECT_EQ(rig.Packets().size(), 44u);
    EXPECT_EQ(rig.unit.received, BuildRecord(preset ? PresetPanel() : DefaultPanel()));
  }
}

TEST(Download, SilentUnitGetsEachRequestFourTimesThenError04) {
  ReadRig rig;
  rig.unit.silent = true;
  rig.ctl.B_GetConfigClick();
  rig.host.RunUntilIdle();
  EXPECT_EQ(rig.host.writes.size(), 4u);
  ASSERT_EQ(rig.host.boxes.size(), 1u);
  EXPECT_EQ(rig.host.boxes[0].caption, "ERRO #0x04");
  EXPECT_EQ(rig.host.boxes[0].text, "A operação não pode ser concluida!");
  EXPECT_EQ(rig.host.boxes[0].icon, BoxIcon::Warning);
  EXPECT_EQ(rig.host.now, 1000u);
}

TEST(Download, ClosedPortEndsWithError03) {
  ReadRig rig;
  rig.host.open = false;
  rig.ctl.B_GetConfigClick();
  ASSERT_EQ(rig.host.boxes.size(), 1u);
  EXPECT_EQ(rig.host.boxes[0].caption, "ERRO #0x03");
  EXPECT_TRUE(rig.host.writes.empty());
}

TEST(Download, GarbledAndStrayAnswersNeverLeadToAnOverwrite) {
  ReadRig rig;
  rig.unit.record = BuildRecord(Changed());
  // Block 3's answer claims more bytes than it carries; block 4's answer
  // comes for an address outside the record. Both are ignored and asked
  // again until the unit gives up.
  rig.unit.editAnswer = [](uint32_t block, Bytes& frame) {
    if (block == 3) {
      Bytes p(frame.begin() + 5, frame.end() - 3);
      p[5] = 0xF4 + 1;  // 501
      frame = UnitFrame(kCodeRead, p);
    }
  };
  rig.ctl.B_GetConfigClick();
  // A stray answer for the last block arrives while block 3 is asked for.
  Bytes stray;
  PutBE32(stray, 0x0803F000 + 2000);
  PutBE16(stray, 32);
  stray.insert(stray.end(), rig.unit.record.begin() + 2000, rig.unit.record.end());
  rig.host.Deliver(UnitFrame(kCodeRead, stray));
  rig.host.RunUntilIdle();
  EXPECT_FALSE(rig.host.Logged("Configuração inválida!"));
  EXPECT_TRUE(rig.Packets().empty()) << "nothing may be written to the unit";
  ASSERT_EQ(rig.host.boxes.size(), 1u);
  EXPECT_EQ(rig.host.boxes[0].caption, "ERRO #0x04");
}

TEST(Download, AnswerForAnotherBlockRepeatsTheRequestAndDuplicatesChangeNothing) {
  ReadRig rig;
  rig.unit.silent = true;
  rig.unit.record = BuildRecord(DefaultPanel());
  rig.ctl.B_GetConfigClick();
  auto answer = [&](uint32_t block) {
    const uint32_t off = (block - 1) * 500, n = block == 5 ? 32 : 500;
    Bytes p;
    PutBE32(p, 0x0803F000 + off);
    PutBE16(p, n);
    p.insert(p.end(), rig.unit.record.begin() + off, rig.unit.record.begin() + off + n);
    rig.host.Deliver(UnitFrame(kCodeRead, p));
    rig.host.Advance(0);
  };
  answer(1);
  ASSERT_EQ(rig.unit.readRequests.size(), 2u);
  answer(1);  // duplicate
  EXPECT_EQ(rig.unit.readRequests.size(), 2u);
  answer(3);  // another block: block 2 is asked again
  ASSERT_EQ(rig.unit.readRequests.size(), 3u);
  EXPECT_EQ(rig.unit.readRequests[2].first, 0x0803F000u + 500);
  for (uint32_t b = 2; b <= 5; ++b) answer(b);
  EXPECT_TRUE(rig.host.Logged("Leitura da configuração interna concluída!"));
}

TEST(Download, ReadOnlyOptionReportsAnInvalidRecordWithoutWriting) {
  ReadRig rig;
  rig.ctl.options().replaceInvalidRecord = false;
  rig.ctl.B_GetConfigClick();
  rig.host.RunUntilIdle();
  EXPECT_TRUE(rig.host.Logged("Configuração inválida!"));
  EXPECT_TRUE(rig.Packets().empty());
  EXPECT_EQ(rig.host.outcomes.back(), Outcome::RecordInvalid);
}

}  // namespace
}  // namespace vyo::test
