// The state file and the command line of the simulated unit.
#include <gtest/gtest.h>

#include "config/presets.h"
#include "config/record.h"
#include "sim/options.h"
#include "sim/state_file.h"

namespace vyo::sim {
namespace {

TEST(SimStateFile, RoundTripKeepsEverythingTheUnitRemembers) {
  UnitState s;
  s.mode = 0;
  s.id = {0xDEADBEEF, 0, 0x12345678};
  s.text1 = "VYO 1 2";  // spaces survive
  s.text2 = "";
  s.version = {41, 1, 2, 3};
  s.baseAddress = 0x08040000;
  s.record = BuildRecord(DefaultPanel());
  s.firmwareAttempted = true;
  s.lastFirmwareSize = 4;
  s.lastFirmwareOk = false;
  s.firmware = {1, 2, 3};
  s.firmwareTrailer = XorSumTrailer(s.firmware.data(), s.firmware.size());

  Stats stats;
  stats.acksSent = 44;
  stats.faultsByKind["drop-ack"] = 1;
  const std::string text = StateToText(s, &stats);
  EXPECT_NE(text.find("stats packets=0 acks=44"), std::string::npos);
  EXPECT_NE(text.find("faults drop-ack=1"), std::string::npos);

  UnitState back;
  std::string error;
  ASSERT_TRUE(StateFromText(text, back, &error)) << error;
  EXPECT_EQ(back, s);

  // No firmware installed, none attempted.
  UnitState plain;
  UnitState loaded = s;
  ASSERT_TRUE(StateFromText(StateToText(plain), loaded, &error)) << error;
  EXPECT_EQ(loaded, plain);
}

TEST(SimStateFile, MalformedTextIsRefusedAndLeavesTheStateAlone) {
  const UnitState s;
  const std::string good = StateToText(s);
  auto refused = [&](const std::string& text) {
    UnitState out;
    out.mode = 7;
    std::string error;
    const bool ok = StateFromText(text, out, &error);
    EXPECT_EQ(out.mode, 7);
    return !ok && !error.empty();
  };
  EXPECT_TRUE(refused(""));
  EXPECT_TRUE(refused("mode 1\n"));  // no format line
  EXPECT_TRUE(refused("format 2\n"));
  EXPECT_TRUE(refused(good + "mode x\n"));
  EXPECT_TRUE(refused(good + "version 4.0.2\n"));
  EXPECT_TRUE(refused(good + "version 4.0.2.256\n"));
  EXPECT_TRUE(refused(good + "id 1 2\n"));
  EXPECT_TRUE(refused(good + "text1 414\n"));
  EXPECT_TRUE(refused(good + "text1 41414141414141414141414141\n"));  // 13 characters
  EXPECT_TRUE(refused(good + "record FFFF\n"));
  EXPECT_TRUE(refused(good + "firmware-last 10 maybe\n"));
  EXPECT_TRUE(refused(good + "firmware 0G\n"));
  // Comments, blank lines, CR LF and unknown keys are fine.
  UnitState out;
  std::string withExtras = "# note\r\n\r\n" + good + "colour blue\n";
  EXPECT_TRUE(StateFromText(withExtras, out, nullptr));
}

std::optional<SimOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::string e;
  auto o = ParseOptions(args, error ? error : &e);
  return o;
}

TEST(SimOptions, EveryOptionIsUnderstood) {
  std::string error;
  const auto o = Parse({"--port", "/dev/ttyX", "--version=3.1.2.3", "--mode", "operation",
                        "--id", "1,0xA,ffffffff", "--text1", "ABCDEFGHIJKL", "--text2", "",
                        "--base", "08040000", "--record", "rec.bin", "--reidentify", "4.0.2.42",
                        "--state", "st.txt", "--drop-ack", "1,5,44", "--nack", "3,7",
                        "--corrupt-ack", "9", "--drop-read", "2", "--silent-after", "10",
                        "--vanish-after", "12", "--split", "--merge", "--garbage",
                        "--latency", "20", "--chaos", "0.25", "--seed", "7",
                        "--exit-after-transfer", "--verbose", "--no-replug"},
                       &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->port, "/dev/ttyX");
  EXPECT_EQ(o->unit.version, (Version{3, 1, 2, 3}));
  EXPECT_EQ(o->unit.mode, 0);
  EXPECT_EQ(o->unit.id, (std::array<uint32_t, 3>{1, 0xA, 0xFFFFFFFF}));
  EXPECT_EQ(o->unit.text1, "ABCDEFGHIJKL");
  EXPECT_EQ(o->unit.text2, "");
  EXPECT_EQ(o->unit.baseAddress, 0x08040000u);
  EXPECT_EQ(o->recordSource, RecordSource::File);
  EXPECT_EQ(o->recordFile, "rec.bin");
  EXPECT_EQ(o->reidentify, (Version{4, 0, 2, 42}));
  EXPECT_EQ(o->stateFile, "st.txt");
  EXPECT_EQ(o->faults.dropAck, (std::set<uint32_t>{1, 5, 44}));
  EXPECT_EQ(o->faults.nack, (std::set<uint32_t>{3, 7}));
  EXPECT_EQ(o->faults.corruptAck, (std::set<uint32_t>{9}));
  EXPECT_EQ(o->faults.dropRead, (std::set<uint32_t>{2}));
  EXPECT_EQ(o->faults.silentAfter, 10u);
  EXPECT_EQ(o->faults.vanishAfter, 12u);
  EXPECT_TRUE(o->faults.split && o->faults.merge && o->faults.garbage);
  EXPECT_EQ(o->faults.latencyMs, 20u);
  EXPECT_DOUBLE_EQ(o->faults.chaos, 0.25);
  EXPECT_EQ(o->faults.seed, 7u);
  EXPECT_TRUE(o->exitAfterTransfer && o->verbose && !o->quiet && !o->replug);

  const auto d = Parse({});
  ASSERT_TRUE(d);
  EXPECT_EQ(d->unit, UnitState{});
  EXPECT_EQ(d->recordSource, RecordSource::Blank);
  EXPECT_TRUE(d->replug);
  EXPECT_EQ(Parse({"--record-defaults"})->recordSource, RecordSource::Defaults);
  EXPECT_TRUE(Parse({"--help"})->help);
}

TEST(SimOptions, BadOptionsAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--frobnicate"},
      {"--version"},
      {"--version", "4.0.2"},
      {"--version", "4..2.42"},
      {"--reidentify", "4.0.2.42.1"},
      {"--mode", "loader"},
      {"--id", "1,2"},
      {"--id", "1,2,3,4"},
      {"--id", "1,2,100000000"},
      {"--text1", "THIRTEEN CHAR"},
      {"--base", "xyz"},
      {"--drop-ack", "1,,2"},
      {"--drop-ack", "0"},
      {"--nack", "65536"},
      {"--silent-after", "-1"},
      {"--latency", "60001"},
      {"--chaos", "1.5"},
      {"--chaos", "0.5x"},
      {"--chaos", "nan"},
      {"--seed", "abc"},
      {"--seed", "99999999999999999999999"},
      {"--split=yes"},
      {"--record", "a", "--record-defaults"},
      {"--record-blank", "--record-defaults"},
      {"--quiet", "--verbose"},
      {"--port", ""},
  };
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(ParseOptions(args, &error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
  EXPECT_NE(UsageText().find("--vanish-after N"), std::string::npos);
}

}  // namespace
}  // namespace vyo::sim
