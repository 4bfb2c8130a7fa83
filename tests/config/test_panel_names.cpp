#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "config/record.h"

namespace vyo {
namespace {

// Three lists, 16 edit boxes, 33 checkboxes; the round trip below shows
// each name reaches its own control.
TEST(PanelNames, EveryControlOnce) {
  const auto names = PanelValueNames();
  EXPECT_EQ(names.size(), 52u);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  for (const char* n : {"CB_PING", "CB_B232", "ED_TBGL", "ED_REBK", "CB_EV_ACN", "CB_BZ_OSC_WH",
                        "CB_EV_EBK_OUT"})
    EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
}

// Copying every value by name reproduces the whole set, and setting a box
// by name changes that box only.
TEST(PanelNames, RoundTrip) {
  for (const PanelValues& source : {DefaultPanel(), PresetPanel()}) {
    PanelValues copy;
    for (const auto& name : PanelValueNames()) {
      const auto value = GetPanelValue(source, name);
      ASSERT_TRUE(value) << name;
      std::string error;
      ASSERT_TRUE(SetPanelValue(copy, name, *value, &error)) << name << ": " << error;
    }
    EXPECT_EQ(copy, source);
  }
  PanelValues p = DefaultPanel();
  ASSERT_TRUE(SetPanelValue(p, "CB_BZ_RPX_WH", "1", nullptr));
  PanelValues expected = DefaultPanel();
  expected.CB_BZ_RPX_WH = true;
  EXPECT_EQ(p, expected);
  ASSERT_TRUE(SetPanelValue(p, "CB_BZ_RPX_WH", "false", nullptr));
  EXPECT_EQ(p, DefaultPanel());
}

TEST(PanelNames, GetForms) {
  PanelValues p = DefaultPanel();
  EXPECT_EQ(GetPanelValue(p, "CB_PING"), "60");
  EXPECT_EQ(GetPanelValue(p, "CB_A232"), "115200");
  EXPECT_EQ(GetPanelValue(p, "CB_B232"), "9600");
  EXPECT_EQ(GetPanelValue(p, "ED_RPX"), "4500");
  EXPECT_EQ(GetPanelValue(p, "CB_EV_VMX_IN"), "true");
  EXPECT_EQ(GetPanelValue(p, "CB_EV_VMX_OUT"), "false");
  EXPECT_EQ(GetPanelValue(p, "NO_SUCH"), std::nullopt);
  p.CB_PING = -1;
  p.CB_B232 = kRs232Count;
  EXPECT_EQ(GetPanelValue(p, "CB_PING"), std::nullopt);
  EXPECT_EQ(GetPanelValue(p, "CB_B232"), std::nullopt);

  ASSERT_TRUE(SetPanelValue(p, "CB_B232", "57600", nullptr));
  EXPECT_EQ(p.CB_B232, 2);
  ASSERT_TRUE(SetPanelValue(p, "ED_VMX", "abc", nullptr));  // refused later, when built
  EXPECT_EQ(p.ED_VMX, "abc");
}

TEST(PanelNames, SetErrorsLeaveValuesUnchanged) {
  const struct {
    const char* name;
    const char* value;
    const char* mentions;
  } cases[] = {
      {"CB_FOO", "1", "CB_PING"},  // the known names are listed
      {"ed_vmx", "100", "ED_VMX"},
      {"CB_PING", "7", "5, 10, 15, 30, 45, 60, 90, 120, 180, 300"},
      {"CB_PING", "", "seconds"},
      {"CB_PING", "99999999999999999999", "300"},
      {"CB_A232", "9601", "9600, 19200, 57600, 115200"},
      {"CB_B232", "96", "baud"},
      {"CB_B232", "fast", "115200"},
      {"CB_BZ_VMX_IN", "yes", "true, false, 1 or 0"},
      {"CB_EV_ACP", "", "true"},
  };
  for (const auto& c : cases) {
    PanelValues p = DefaultPanel();
    std::string error;
    EXPECT_FALSE(SetPanelValue(p, c.name, c.value, &error)) << c.name << " = " << c.value;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    EXPECT_EQ(p, DefaultPanel()) << c.name;
    EXPECT_FALSE(SetPanelValue(p, c.name, c.value, nullptr));
  }
}

}  // namespace
}  // namespace vyo
