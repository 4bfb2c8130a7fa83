// Tables describing how the panel's controls map onto the configuration
// record. Each control's name is derived from its member, so a name and the
// value it refers to cannot drift apart. Internal to vyo_config.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/panel.h"
#include "config/record.h"

namespace vyo::config_detail {

template <class T>
struct Control {
  const char* name = nullptr;
  T PanelValues::*member = nullptr;
};

#define VYO_CONTROL(m) {#m, &PanelValues::m}

// A number typed in an edit box, stored in one or two bytes.
struct NumberField {
  PanelField field;
  Control<std::string> control;
  size_t offset;
  int width;  // bytes
  uint32_t min;
  uint32_t max;  // never above what `width` bytes hold
  const char* label;
};

// A list position, stored as the list's value divided by `divisor`.
struct ListField {
  PanelField field;
  Control<int> control;
  size_t offset;
  const int* values;
  int count;
  int divisor;
  const char* label;
  const char* name;  // for log lines
  const char* unit;
};

// Buzzer and event checkboxes of one monitored item, stored as a decimal
// code: buzzer on entry 10, on exit 20, during 40; event on entry 1, on
// exit 2. Items with fewer boxes leave the missing slots empty.
struct FlagGroup {
  const char* label;
  std::optional<size_t> offset;  // none: not part of the record
  Control<bool> boxes[5];        // buzzer in, out, during; event in, out
};
inline constexpr uint8_t kFlagWeights[5] = {10, 20, 40, 1, 2};

inline constexpr ListField kListFields[] = {
    {PanelField::CB_PING, VYO_CONTROL(CB_PING), 8, kPingSeconds, kPingCount, 1, "[PING]", "PING",
     "seconds"},
    {PanelField::CB_A232, VYO_CONTROL(CB_A232), 10, kRs232Baud, kRs232Count, 100, "[RS232-A]",
     "RS232-A", "baud"},
    {PanelField::CB_B232, VYO_CONTROL(CB_B232), 12, kRs232Baud, kRs232Count, 100, "[RS232-B]",
     "RS232-B", "baud"},
};

inline constexpr NumberField kNumberFields[] = {
    {PanelField::ED_ACP, VYO_CONTROL(ED_ACP), 14, 1, 0, 255, "[Aceleração]"},
    {PanelField::ED_ACN, VYO_CONTROL(ED_ACN), 15, 1, 0, 255, "[Desaceleração]"},
    {PanelField::ED_VMX, VYO_CONTROL(ED_VMX), 19, 1, 0, 150, "[Velocidade]"},
    {PanelField::ED_TVMX, VYO_CONTROL(ED_TVMX), 20, 1, 0, 60, "[Tempo validação Velocidade]"},
    {PanelField::ED_VCH, VYO_CONTROL(ED_VCH), 22, 1, 0, 150, "[Velocidade na Chuva]"},
    {PanelField::ED_TVCH, VYO_CONTROL(ED_TVCH), 23, 1, 0, 60,
     "[Tempo validação Velocidade na Chuva]"},
    {PanelField::ED_RPX, VYO_CONTROL(ED_RPX), 25, 2, 1000, 65535, "[Rotação do Motor]"},
    {PanelField::ED_TRPX, VYO_CONTROL(ED_TRPX), 27, 1, 0, 60, "[Tempo validação Rotação]"},
    {PanelField::ED_TOSC, VYO_CONTROL(ED_TOSC), 29, 1, 1, 255, "[Tempo osciosidade]"},
    {PanelField::ED_XOSC, VYO_CONTROL(ED_XOSC), 30, 1, 0, 60, "[Tempo excessão manobra]"},
    {PanelField::ED_VBGL, VYO_CONTROL(ED_VBGL), 32, 1, 1, 255, "[Velocidade min. Banguela]"},
    {PanelField::ED_RBGL, VYO_CONTROL(ED_RBGL), 33, 2, 300, 1000, "[Rotação max. Banguela]"},
    {PanelField::ED_TBGL, VYO_CONTROL(ED_TBGL), 35, 1, 0, 30, "[Tempo validação Banguela]"},
};

// Each upper bound fits its record field, so a value that passes the bounds
// is never cut down to its low bits.
consteval bool BoundsFitWidths() {
  for (const auto& f : kNumberFields)
    if (f.min > f.max || f.max > (f.width == 1 ? 0xFFu : 0xFFFFu)) return false;
  return true;
}
static_assert(BoundsFitWidths());

// Edit boxes of the panel that have no place in the record.
inline constexpr Control<std::string> kOtherEdits[] = {
    VYO_CONTROL(ED_VEBK), VYO_CONTROL(ED_TEBK), VYO_CONTROL(ED_REBK)};

inline constexpr FlagGroup kFlagGroups[] = {
    {"[Aceleração]", 16, {VYO_CONTROL(CB_BZ_ACP), {}, {}, VYO_CONTROL(CB_EV_ACP), {}}},
    {"[Desaceleração]", 17, {VYO_CONTROL(CB_BZ_ACN), {}, {}, VYO_CONTROL(CB_EV_ACN), {}}},
    {"[Velocidade]", 18,
     {VYO_CONTROL(CB_BZ_VMX_IN), VYO_CONTROL(CB_BZ_VMX_OUT), VYO_CONTROL(CB_BZ_VMX_WH),
      VYO_CONTROL(CB_EV_VMX_IN), VYO_CONTROL(CB_EV_VMX_OUT)}},
    {"[Velocidade na Chuva]", 21,
     {VYO_CONTROL(CB_BZ_VCH_IN), VYO_CONTROL(CB_BZ_VCH_OUT), VYO_CONTROL(CB_BZ_VCH_WH),
      VYO_CONTROL(CB_EV_VCH_IN), VYO_CONTROL(CB_EV_VCH_OUT)}},
    {"[Rotação do Motor]", 24,
     {VYO_CONTROL(CB_BZ_RPX_IN), VYO_CONTROL(CB_BZ_RPX_OUT), VYO_CONTROL(CB_BZ_RPX_WH),
      VYO_CONTROL(CB_EV_RPX_IN), VYO_CONTROL(CB_EV_RPX_OUT)}},
    {"[Ociosidade]", 28,
     {VYO_CONTROL(CB_BZ_OSC_IN), VYO_CONTROL(CB_BZ_OSC_OUT), VYO_CONTROL(CB_BZ_OSC_WH),
      VYO_CONTROL(CB_EV_OSC_IN), VYO_CONTROL(CB_EV_OSC_OUT)}},
    {"[Banguela]", 31,
     {VYO_CONTROL(CB_BZ_BGL_IN), VYO_CONTROL(CB_BZ_BGL_OUT), VYO_CONTROL(CB_BZ_BGL_WH),
      VYO_CONTROL(CB_EV_BGL_IN), VYO_CONTROL(CB_EV_BGL_OUT)}},
    {"[Freio motor]", std::nullopt,
     {VYO_CONTROL(CB_BZ_EBK_IN), VYO_CONTROL(CB_BZ_EBK_OUT), {}, VYO_CONTROL(CB_EV_EBK_IN),
      VYO_CONTROL(CB_EV_EBK_OUT)}},
};

#undef VYO_CONTROL

// Non-empty text of digits 0-9 whose value is at most `limit`; nullopt
// otherwise (any length of digits is safe).
std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t limit);

}  // namespace vyo::config_detail
