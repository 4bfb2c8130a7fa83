#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "config/record.h"

namespace vyo {
namespace {

const std::string kPrefix = "Parâmetro inválido!\r\n";

std::optional<std::string> RefusedField(const PanelValues& p) {
  const auto e = ValidatePanel(p);
  if (!e) return std::nullopt;
  return std::string(PanelFieldName(e->field));
}

TEST(ConfigValidation, DefaultsAndPresetPass) {
  EXPECT_FALSE(ValidatePanel(DefaultPanel()));
  EXPECT_FALSE(ValidatePanel(PresetPanel()));
  EXPECT_NE(DefaultPanel(), PresetPanel());
}

// From a panel where everything is wrong, the fields are reported one at a
// time in record order, each with its own message.
TEST(ConfigValidation, RecordOrderAndMessages) {
  const struct {
    const char* name;
    const char* label;
  } expected[] = {
      {"CB_PING", "[PING]"},
      {"CB_A232", "[RS232-A]"},
      {"CB_B232", "[RS232-B]"},
      {"ED_ACP", "[Aceleração]"},
      {"ED_ACN", "[Desaceleração]"},
      {"ED_VMX", "[Velocidade]"},
      {"ED_TVMX", "[Tempo validação Velocidade]"},
      {"ED_VCH", "[Velocidade na Chuva]"},
      {"ED_TVCH", "[Tempo validação Velocidade na Chuva]"},
      {"ED_RPX", "[Rotação do Motor]"},
      {"ED_TRPX", "[Tempo validação Rotação]"},
      {"ED_TOSC", "[Tempo osciosidade]"},
      {"ED_XOSC", "[Tempo excessão manobra]"},
      {"ED_VBGL", "[Velocidade min. Banguela]"},
      {"ED_RBGL", "[Rotação max. Banguela]"},
      {"ED_TBGL", "[Tempo validação Banguela]"},
  };
  const PanelValues good = DefaultPanel();
  PanelValues p;  // lists unselected, boxes empty
  for (const auto& step : expected) {
    const auto e = ValidatePanel(p);
    ASSERT_TRUE(e) << step.name;
    EXPECT_STREQ(PanelFieldName(e->field), step.name);
    EXPECT_EQ(e->message, kPrefix + step.label);
    // Mend that one field by name and go on.
    ASSERT_TRUE(SetPanelValue(p, step.name, *GetPanelValue(good, step.name), nullptr));
  }
  EXPECT_FALSE(ValidatePanel(p));
}

TEST(ConfigValidation, Bounds) {
  const struct {
    const char* name;
    const char* value;
    bool ok;
  } cases[] = {
      {"ED_ACP", "0", true},     {"ED_ACP", "255", true},   {"ED_ACP", "256", false},
      {"ED_ACN", "255", true},   {"ED_ACN", "256", false},  {"ED_VMX", "150", true},
      {"ED_VMX", "151", false},  {"ED_VMX", "250", false},  {"ED_TVMX", "60", true},
      {"ED_TVMX", "61", false},  {"ED_VCH", "150", true},   {"ED_VCH", "151", false},
      {"ED_TVCH", "60", true},   {"ED_TVCH", "61", false},  {"ED_RPX", "999", false},
      {"ED_RPX", "1000", true},  {"ED_RPX", "65535", true}, {"ED_RPX", "65536", false},
      {"ED_TRPX", "60", true},   {"ED_TRPX", "61", false},  {"ED_TOSC", "0", false},
      {"ED_TOSC", "1", true},    {"ED_TOSC", "255", true},  {"ED_TOSC", "256", false},
      {"ED_XOSC", "60", true},   {"ED_XOSC", "61", false},  {"ED_VBGL", "0", false},
      {"ED_VBGL", "1", true},    {"ED_VBGL", "255", true},  {"ED_VBGL", "256", false},
      {"ED_RBGL", "299", false}, {"ED_RBGL", "300", true},  {"ED_RBGL", "1000", true},
      {"ED_RBGL", "1001", false}, {"ED_TBGL", "30", true},  {"ED_TBGL", "31", false},
      // Text that is not a plain decimal number, or too long to be one.
      {"ED_ACP", "", false},     {"ED_ACP", "12a", false},  {"ED_ACP", "-5", false},
      {"ED_ACP", " 5", false},   {"ED_ACP", "+5", false},   {"ED_ACP", "5.0", false},
      {"ED_ACP", "99999999999999999999", false},
      {"ED_RPX", "99999999999999999999999999999999", false},
      {"ED_VMX", "0120", true},  {"ED_VMX", "00000000000000000000000120", true},
  };
  for (const auto& c : cases) {
    PanelValues p = DefaultPanel();
    ASSERT_TRUE(SetPanelValue(p, c.name, c.value, nullptr));
    const auto refused = RefusedField(p);
    EXPECT_EQ(!refused, c.ok) << c.name << " = '" << c.value << "'";
    if (refused) {
      EXPECT_EQ(*refused, c.name) << c.value;
    }
    if (c.ok) {
      EXPECT_NO_THROW(BuildRecord(p)) << c.name << " = " << c.value;
    } else {
      EXPECT_THROW(BuildRecord(p), std::invalid_argument) << c.name << " = " << c.value;
    }
  }
}

TEST(ConfigValidation, WideValuesAreNotCutToTheirLowBits) {
  PanelValues p = DefaultPanel();
  p.ED_ACP = "256";  // would be stored as 0
  EXPECT_THROW(BuildRecord(p), std::invalid_argument);
  p = DefaultPanel();
  p.ED_RPX = "70000";  // would be stored as 4464
  EXPECT_THROW(BuildRecord(p), std::invalid_argument);
  p = DefaultPanel();
  p.ED_VMX = "0120";
  EXPECT_EQ(BuildRecord(p)[19], 120);
}

TEST(ConfigValidation, ListSelection) {
  const struct {
    const char* name;
    int PanelValues::*member;
    int count;
  } lists[] = {{"CB_PING", &PanelValues::CB_PING, kPingCount},
               {"CB_A232", &PanelValues::CB_A232, kRs232Count},
               {"CB_B232", &PanelValues::CB_B232, kRs232Count}};
  for (const auto& l : lists) {
    for (int position : {-1, -2, l.count, 1000}) {
      PanelValues p = DefaultPanel();
      p.*l.member = position;
      EXPECT_EQ(RefusedField(p), l.name) << position;
      EXPECT_THROW(BuildRecord(p), std::invalid_argument);
    }
    PanelValues p = DefaultPanel();
    p.*l.member = l.count - 1;
    EXPECT_FALSE(RefusedField(p)) << l.name;
  }
}

}  // namespace
}  // namespace vyo
