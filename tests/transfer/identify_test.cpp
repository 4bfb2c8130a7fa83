#include <gtest/gtest.h>

#include "unit_model.h"

namespace vyo::test {
namespace {

TEST(Identify, UpToDateUnitIsLoggedAndItsConfigurationRead) {
  Rig rig;
  rig.unit.silent = true;
  rig.host.Deliver(IdentFrame(MakeUnit(4, 0, 2, 42)));
  rig.host.Advance(0);
  ASSERT_GE(rig.host.logs.size(), 3u);
  EXPECT_EQ(rig.host.logs[0], "Vyo v4.0.2.42\r\nId: 11223344 55667788 99AABBCC");
  EXPECT_EQ(rig.host.logs[1], "O Vyo está atualizado!");
  EXPECT_EQ(rig.host.logs[2], "Buscando configuração interna...");
  ASSERT_EQ(rig.unit.readRequests.size(), 1u);
  EXPECT_EQ(rig.unit.readRequests[0], (std::pair<uint32_t, uint32_t>{0x0803F000, 500}));
  EXPECT_TRUE(rig.ctl.identified());
  ASSERT_EQ(rig.host.units.size(), 1u);
  EXPECT_EQ(rig.host.units[0].Description(), "VYO - BOOT");
}

TEST(Identify, OldUnitGetsTheFirmwareAndASecondIdentificationIsIgnored) {
  Rig rig;
  rig.unit.silent = true;
  rig.host.Deliver(IdentFrame(MakeUnit(4, 0, 1, 99)));
  rig.host.Deliver(IdentFrame(MakeUnit(4, 0, 1, 99)));
  rig.host.Advance(0);
  ASSERT_EQ(rig.Packets().size(), 1u);
  EXPECT_EQ(rig.Packets()[0].code, kCodeFirmwarePacket);
  EXPECT_EQ(rig.host.units.size(), 1u);
}

TEST(Identify, DiscontinuedUnitIsWarnedInRedAndReadNotUpdated) {
  Rig rig;
  rig.unit.silent = true;
  rig.host.Deliver(IdentFrame(MakeUnit(2, 0, 0, 1)));
  rig.host.Advance(0);
  ASSERT_EQ(rig.host.redLogs.size(), 1u);
  EXPECT_EQ(rig.host.redLogs[0],
            "Essa versão do vyo está descontinuada, entre em contato com a Ostrandel para mais informações!");
  EXPECT_TRUE(rig.Packets().empty());
  EXPECT_EQ(rig.unit.reads, 1);
}

TEST(Identify, UnknownMajorIsOnlyLogged) {
  Rig rig;
  rig.host.Deliver(IdentFrame(MakeUnit(7, 1, 2, 3)));
  rig.host.Advance(0);
  EXPECT_EQ(rig.host.logs, std::vector<std::string>{"Vyo v7.1.2.3\r\nId: 11223344 55667788 99AABBCC"});
  EXPECT_TRUE(rig.host.writes.empty());
}

TEST(Identify, OperationModeReportsAndClosesThePortAfter50ms) {
  for (bool viaCode11 : {false, true}) {
    Rig rig;
    rig.host.Deliver(viaCode11 ? UnitFrame(kCodeOperationMode, {}) : IdentFrame(MakeUnit(4, 0, 2, 42, 0)));
    rig.host.Advance(0);
    EXPECT_EQ(rig.host.logs, (std::vector<std::string>{
                                 "O Vyo foi detectado em modo de operação!", "1-Desconectar todos os chicotes",
                                 "2-Conectar apenas o cabo USB", "3-Aguardar o Windows criar a porta (5 segundos)",
                                 "4-Rodar o VyoTool e abrir a porta COM criada"}));
    EXPECT_FALSE(rig.ctl.identified());
    rig.host.Advance(49);
    EXPECT_EQ(rig.host.disconnects, 0);
    rig.host.Advance(1);
    EXPECT_EQ(rig.host.disconnects, 1);
    EXPECT_FALSE(rig.host.AnyTimer());
  }
}

TEST(Identify, ShortOrMisaddressedIdentificationIsIgnored) {
  Rig rig;
  Bytes shortPayload = BuildIdentification(MakeUnit(4, 0, 2, 42));
  shortPayload.resize(44);
  rig.host.Deliver(UnitFrame(kCodeIdentification, shortPayload));
  rig.host.Deliver(BuildFrame(kCodeIdentification, BuildIdentification(MakeUnit(4, 0, 2, 42)), 0x11));
  rig.host.Advance(0);
  EXPECT_EQ(rig.host.logs, std::vector<std::string>{"Destino inválido!"});
  EXPECT_FALSE(rig.ctl.identified());
}

TEST(Identify, AfterAFirmwareUploadTheNewIdentificationIsHandled) {
  Rig rig;
  rig.host.Deliver(IdentFrame(MakeUnit(4, 0, 2, 0)));
  rig.host.RunUntilIdle();
  EXPECT_TRUE(rig.host.Logged("Atualização concluída com sucesso!"));
  rig.unit.silent = true;
  rig.host.Deliver(IdentFrame(MakeUnit(4, 0, 2, 42)));
  rig.host.Advance(0);
  EXPECT_TRUE(rig.host.Logged("O Vyo está atualizado!"));
  EXPECT_EQ(rig.unit.reads, 1);
}

}  // namespace
}  // namespace vyo::test
