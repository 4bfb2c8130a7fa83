// vyotool-cli against vyotool-sim on a pseudo-terminal.
#include <gtest/gtest.h>
#include <pty.h>

#include "config/presets.h"
#include "config/record.h"
#include "process.h"
#include "sim/state_file.h"
#include "transfer/firmware.h"

namespace vyo::e2e {
namespace {

Result Cli(std::vector<std::string> args, int timeoutS = 60) {
  args.insert(args.begin(), VYOTOOL_CLI);
  return Run(args, timeoutS);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string RecordHex(const PanelValues& v) {
  const Bytes r = BuildRecord(v);
  return sim::ToHex(r.data(), r.size());
}

TEST(CliE2E, IdentifyPrintsTheUnitAndSendsNothing) {
  const std::string state = TempPath("unit.state");
  Sim sim({"--state", state, "--version", "4.0.2.42", "--record-defaults"});
  Result r = Cli({"--port", sim.path(), "identify"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Conexão aberta...\nVyo v4.0.2.42\nId: 0041002A 33325117 34383632\n")) << r.out;
  r = Cli({"--port", sim.path(), "identify", "--json"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Has(r.out, "\"version\": \"4.0.2.42\"")) << r.out;
  EXPECT_FALSE(Has(r.out, "Conexão aberta")) << "with --json only the document goes to stdout";
  sim.Stop();
  EXPECT_TRUE(Has(StateValue(ReadFile(state), "stats"), "packets=0"));
}

TEST(CliE2E, ConnectToAnUpToDateUnitReadsItsConfiguration) {
  Sim sim({"--record-defaults"});
  Result r = Cli({"--port", sim.path(), "connect"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "O Vyo está atualizado!\nBuscando configuração interna...\nLeitura da configuração interna concluída!\n"))
      << r.out;
}

TEST(CliE2E, ConnectToAnOldUnitUploadsTheFirmwareItChecks) {
  const std::string state = TempPath("unit.state");
  Sim sim({"--state", state, "--version", "4.0.1.99"});
  Result r = Cli({"--port", sim.path(), "connect"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Atualizando firmware...\nAtualização concluída com sucesso!\n")) << r.out;
  sim.Stop();
  const std::string s = ReadFile(state);
  EXPECT_EQ(StateValue(s, "firmware-last"), "89676 ok");
  const FirmwareImage& img = BuiltinFirmware();
  EXPECT_EQ(StateValue(s, "firmware"), sim::ToHex(img.data.data(), img.data.size()));
}

TEST(CliE2E, ConnectToABlankUnitWritesTheDefaultsOrThePreset) {
  for (bool preset : {false, true}) {
    const std::string state = TempPath("unit.state");
    Sim sim({"--state", state, "--record-blank"});
    std::vector<std::string> args = {"--port", sim.path(), "connect"};
    if (preset) args.push_back("--preset");
    Result r = Cli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Configuração inválida!\n")) << r.out;
    EXPECT_TRUE(Has(r.out, preset ? "Preparando configuração Plenaro...\n" : "Preparando configuração padrão...\n"));
    EXPECT_TRUE(Has(r.out, "Atualizando configuração...\nAtualização concluída com sucesso!\n")) << r.out;
    sim.Stop();
    EXPECT_EQ(StateValue(ReadFile(state), "record"), RecordHex(preset ? PresetPanel() : DefaultPanel()));
  }
}

TEST(CliE2E, WriteConfigThenReadConfigRoundTrip) {
  const std::string state = TempPath("unit.state");
  const std::string profile = TempPath("profile.json");
  Sim sim({"--state", state, "--record-defaults"});
  std::ofstream(profile) << R"({"ED_VMX": 99, "CB_PING": 300, "CB_BZ_VMX_WH": true, "ED_RBGL": "750"})";
  Result w = Cli({"--port", sim.path(), "write-config", "--from", profile, "--set", "ED_VCH=70", "--set", "CB_A232=57600"});
  EXPECT_EQ(w.exitCode, 0) << w.err;
  EXPECT_TRUE(Has(w.out, "Atualização concluída com sucesso!"));

  Result r = Cli({"--port", sim.path(), "read-config", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* want : {"\"ED_VMX\": 99", "\"CB_PING\": 300", "\"CB_BZ_VMX_WH\": true", "\"ED_RBGL\": 750",
                           "\"ED_VCH\": 70", "\"CB_A232\": 57600", "\"ED_RPX\": 4500"})
    EXPECT_TRUE(Has(r.out, want)) << want << "\n" << r.out;

  // The JSON read back is a profile write-config accepts; writing it again
  // leaves the record as it was.
  std::ofstream(profile) << r.out;
  sim.Stop();
  const std::string before = StateValue(ReadFile(state), "record");
  Sim again({"--state", state});
  w = Cli({"--port", again.path(), "write-config", "--from", profile});
  EXPECT_EQ(w.exitCode, 0) << w.err;
  again.Stop();
  EXPECT_EQ(StateValue(ReadFile(state), "record"), before);
}

TEST(CliE2E, InvalidRecordIsReportedByReadConfigAndNothingWritten) {
  const std::string state = TempPath("unit.state");
  Sim sim({"--state", state, "--record-blank"});
  Result r = Cli({"--port", sim.path(), "read-config"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.out, "Configuração inválida!"));
  sim.Stop();
  EXPECT_TRUE(Has(StateValue(ReadFile(state), "stats"), "packets=0"));
}

TEST(CliE2E, InvalidParameterExitsOneWithTheBoxAndWritesNothing) {
  const std::string state = TempPath("unit.state");
  Sim sim({"--state", state, "--record-defaults"});
  Result r = Cli({"--port", sim.path(), "write-config", "--set", "ED_VMX=151"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Erro: Parâmetro inválido!\n[Velocidade]")) << r.err;
  sim.Stop();
  EXPECT_TRUE(Has(StateValue(ReadFile(state), "stats"), "packets=0"));
}

TEST(CliE2E, RecoversFromDroppedNegativeSplitAndMergedAnswers) {
  const std::vector<std::vector<std::string>> faults = {
      {"--drop-ack", "1,7,44"}, {"--nack", "2,30"}, {"--split"}, {"--merge"},
      {"--garbage"},            {"--corrupt-ack", "5"}, {"--drop-read", "2,5"}};
  for (const auto& fault : faults) {
    const std::string state = TempPath("unit.state");
    std::vector<std::string> args = {"--state", state, "--record-blank"};
    args.insert(args.end(), fault.begin(), fault.end());
    Sim sim(args);
    Result r = Cli({"--port", sim.path(), "connect"});
    EXPECT_EQ(r.exitCode, 0) << fault[0] << "\n" << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "Atualização concluída com sucesso!")) << fault[0];
    sim.Stop();
    EXPECT_EQ(StateValue(ReadFile(state), "record"), RecordHex(DefaultPanel())) << fault[0];
  }
}

TEST(CliE2E, JumpPutsTheUnitInOperationModeWhichIsExitFour) {
  Sim sim({});
  Result r = Cli({"--port", sim.path(), "jump"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = Cli({"--port", sim.path(), "identify"});
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "O Vyo foi detectado em modo de operação!\n1-Desconectar todos os chicotes\n")) << r.out;
}

TEST(CliE2E, SilentUnitFailsWithErrorTwoAndExitOne) {
  Sim sim({"--version", "4.0.1.0", "--silent-after", "10"});
  Result r = Cli({"--port", sim.path(), "connect"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "ERRO #0x02: A operação não foi concluida!\nNacks = 0")) << r.err;
  EXPECT_FALSE(Has(r.out, "sucesso"));
}

TEST(CliE2E, NoConnectionAndNoIdentification) {
  Result r = Cli({"--port", "/dev/vyo-no-such-port", "identify"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_FALSE(r.err.empty());
  // A port where nobody answers.
  int master, slave;
  char name[128];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  r = Cli({"--port", name, "--wait", "1", "identify"});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_TRUE(Has(r.err, "no identification within 1 s")) << r.err;
  close(master);
  close(slave);
}

TEST(CliE2E, UsageErrorsExitTwo) {
  EXPECT_EQ(Cli({}).exitCode, 2);
  EXPECT_EQ(Cli({"frobnicate"}).exitCode, 2);
  EXPECT_EQ(Cli({"--port"}).exitCode, 2);
  EXPECT_EQ(Cli({"--port", "x", "write-config", "--set", "NOPE=1"}).exitCode, 2);
  EXPECT_EQ(Cli({"--port", "x", "write-config", "--set", "CB_PING=7"}).exitCode, 2);
  EXPECT_EQ(Cli({"--port", "x", "flash", "--image", "/dev/null"}).exitCode, 2);
  EXPECT_EQ(Cli({"--port", "x", "read-config", "--defaults"}).exitCode, 2);
  // A misspelt name in a profile is refused even when its value is null.
  const std::string misspelt = TempPath("misspelt.json");
  std::ofstream(misspelt) << R"({"ED_VMX": 99, "CB_PNG": null})";
  const Result r = Cli({"--port", "x", "write-config", "--from", misspelt});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(Has(r.err, "unknown setting 'CB_PNG'")) << r.err;
  // An edit box given true/false is a wrong type, refused before any port.
  std::ofstream(misspelt) << R"({"ED_VMX": true})";
  const Result b = Cli({"--port", "x", "write-config", "--from", misspelt});
  EXPECT_EQ(b.exitCode, 2);
  EXPECT_TRUE(Has(b.err, "ED_VMX: expected a number")) << b.err;
}

TEST(CliE2E, DemoShowsTheWholeRoad) {
  Result r = Cli({"demo"}, 120);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const char* line : {"Atualizando firmware...", "O Vyo está atualizado!", "Configuração inválida!",
                           "Preparando configuração padrão...", "Atualizando configuração..."})
    EXPECT_TRUE(Has(r.out, line)) << line << "\n" << r.out;
}

}  // namespace
}  // namespace vyo::e2e

namespace vyo::e2e {
namespace {

TEST(CliE2E, SeveralPortsUseTheOneThatIdentifiesAndWriteNothingToTheOthers) {
  int master, slave;
  char silent[128];
  ASSERT_EQ(openpty(&master, &slave, silent, nullptr, nullptr), 0);
  Sim sim({"--record-defaults"});
  Result r = Cli({"--port", silent, "--port", sim.path(), "read-config"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Leitura da configuração interna concluída!")) << r.out;
  EXPECT_EQ(r.out.find("Conexão aberta..."), r.out.rfind("Conexão aberta...")) << "only the chosen port's log";
  // Nothing reached the port that never identified itself.
  pollfd p{master, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);
  close(master);
  close(slave);
}

}  // namespace
}  // namespace vyo::e2e
