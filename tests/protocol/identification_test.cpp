#include <gtest/gtest.h>

#include "protocol/identification.h"

namespace vyo {
namespace {

TEST(Identification, ParsesEveryFieldAndBuildsTheSamePayload) {
  Bytes p = {0x01, 0x00, 0x00, 0x00, 0x01, 0xDE, 0xAD, 0xBE, 0xEF, 0x0A, 0x0B, 0x0C, 0x0D};
  for (const char* t : {"VYO-BOOT\0\0\0\0", "REV B       "})
    for (int i = 0; i < 12; ++i) p.push_back(uint8_t(t[i]));
  for (uint8_t b : {4, 0, 2, 42}) p.push_back(b);
  for (uint8_t b : {0x08, 0x03, 0xF0, 0x00}) p.push_back(b);
  ASSERT_EQ(p.size(), 45u);
  const auto u = ParseIdentification(p);
  ASSERT_TRUE(u);
  EXPECT_EQ(u->mode, 1);
  EXPECT_EQ(u->id[0], 1u);
  EXPECT_EQ(u->id[1], 0xDEADBEEFu);
  EXPECT_EQ(u->Description(), "VYO-BOOT - REV B");
  EXPECT_EQ(u->baseAddress, 0x0803F000u);
  EXPECT_EQ(u->LogLine(), "Vyo v4.0.2.42\r\nId: 00000001 DEADBEEF 0A0B0C0D");
  EXPECT_EQ(BuildIdentification(*u).size(), 45u);
  EXPECT_EQ(ParseIdentification(BuildIdentification(*u))->LogLine(), u->LogLine());
}

TEST(Identification, ShortPayloadIsIgnored) {
  EXPECT_FALSE(ParseIdentification(Bytes(44, 1)));
  EXPECT_TRUE(ParseIdentification(Bytes(46, 1)));
}

TEST(VersionGate, Table) {
  struct Row {
    int major, release, build;
    GateAction action;
  } rows[] = {
      {4, 2, 42, GateAction::ReadConfig},       {4, 2, 43, GateAction::ReadConfig},
      {4, 3, 0, GateAction::ReadConfig},        {4, 2, 41, GateAction::UpdateFirmware},
      {4, 1, 99, GateAction::UpdateFirmware},   {4, 99, 0, GateAction::UpdateFirmware},
      {4, 255, 255, GateAction::UpdateFirmware}, {4, 255, 254, GateAction::ReadConfig},
      {4, 0, 0, GateAction::UpdateFirmware},    {3, 2, 42, GateAction::ReadConfig},
      {3, 1, 50, GateAction::UpdateFirmware},   {41, 2, 10, GateAction::UpdateFirmware},
      {41, 5, 0, GateAction::ReadConfig},       {1, 0, 0, GateAction::ReadConfigDiscontinued},
      {2, 9, 99, GateAction::ReadConfigDiscontinued}, {0, 0, 0, GateAction::LogOnly},
      {5, 0, 0, GateAction::LogOnly},           {42, 0, 0, GateAction::LogOnly},
  };
  for (const Row& r : rows)
    EXPECT_EQ(VersionGate(uint8_t(r.major), uint8_t(r.release), uint8_t(r.build)), r.action)
        << r.major << ".x." << r.release << "." << r.build;
}

}  // namespace
}  // namespace vyo
