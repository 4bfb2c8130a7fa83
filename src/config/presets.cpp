#include "config/presets.h"

#include "config/fields.h"

namespace vyo {

namespace {

template <size_t N>
consteval int PositionOf(const int (&list)[N], int value) {
  for (size_t i = 0; i < N; ++i)
    if (list[i] == value) return int(i);
  throw "value not in list";  // fails the build
}

// Checkbox slots in the order buzzer on entry, on exit, during; event on
// entry, on exit. Every group gets the same choice; groups without a slot
// (harsh acceleration and braking have one buzzer and one event box, on
// entry) skip it.
void SetAllFlags(PanelValues& p, const bool (&slots)[5]) {
  for (const auto& group : config_detail::kFlagGroups)
    for (int i = 0; i < 5; ++i)
      if (group.boxes[i].member) p.*group.boxes[i].member = slots[i];
}

}  // namespace

// The values the panel shows at start.
PanelValues DefaultPanel() {
  PanelValues p;
  p.CB_PING = PositionOf(kPingSeconds, 60);
  p.CB_A232 = PositionOf(kRs232Baud, 115200);
  p.CB_B232 = PositionOf(kRs232Baud, 9600);
  p.ED_ACP = "12";
  p.ED_ACN = "15";
  p.ED_VMX = "120";
  p.ED_TVMX = "5";
  p.ED_VCH = "80";
  p.ED_TVCH = "5";
  p.ED_RPX = "4500";
  p.ED_TRPX = "5";
  p.ED_TOSC = "5";
  p.ED_XOSC = "30";
  p.ED_VBGL = "20";
  p.ED_RBGL = "900";
  p.ED_TBGL = "10";
  p.ED_VEBK = "50";
  p.ED_TEBK = "5";
  p.ED_REBK = "2500";
  SetAllFlags(p, {true, false, false, true, false});
  return p;
}

// Fleet preset: tighter limits and shorter validation times, buzzer while a
// limit is exceeded and events on entry and exit.
PanelValues PresetPanel() {
  PanelValues p;
  p.CB_PING = PositionOf(kPingSeconds, 30);
  p.CB_A232 = PositionOf(kRs232Baud, 115200);
  p.CB_B232 = PositionOf(kRs232Baud, 19200);
  p.ED_ACP = "10";
  p.ED_ACN = "12";
  p.ED_VMX = "110";
  p.ED_TVMX = "3";
  p.ED_VCH = "80";
  p.ED_TVCH = "3";
  p.ED_RPX = "3000";
  p.ED_TRPX = "3";
  p.ED_TOSC = "3";
  p.ED_XOSC = "20";
  p.ED_VBGL = "15";
  p.ED_RBGL = "800";
  p.ED_TBGL = "5";
  p.ED_VEBK = "40";
  p.ED_TEBK = "3";
  p.ED_REBK = "2200";
  SetAllFlags(p, {true, false, true, true, true});
  return p;
}

}  // namespace vyo
