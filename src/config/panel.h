// The configuration panel's values, one member per control. Edit boxes hold
// their text as typed (the validation decides what is acceptable); the three
// lists hold their selected position, -1 when nothing is selected.
#pragma once

#include <string>

namespace vyo {

// Positions of the panel's lists.
inline constexpr int kPingSeconds[] = {5, 10, 15, 30, 45, 60, 90, 120, 180, 300};
inline constexpr int kRs232Baud[] = {9600, 19200, 57600, 115200};
inline constexpr int kPingCount = 10;
inline constexpr int kRs232Count = 4;

struct PanelValues {
  // Lists (positions).
  int CB_PING = -1;
  int CB_A232 = -1;
  int CB_B232 = -1;

  // Harsh acceleration and braking.
  std::string ED_ACP, ED_ACN;
  bool CB_BZ_ACP = false, CB_EV_ACP = false;
  bool CB_BZ_ACN = false, CB_EV_ACN = false;

  // Speed.
  std::string ED_VMX, ED_TVMX;
  bool CB_BZ_VMX_IN = false, CB_BZ_VMX_OUT = false, CB_BZ_VMX_WH = false;
  bool CB_EV_VMX_IN = false, CB_EV_VMX_OUT = false;

  // Speed in rain.
  std::string ED_VCH, ED_TVCH;
  bool CB_BZ_VCH_IN = false, CB_BZ_VCH_OUT = false, CB_BZ_VCH_WH = false;
  bool CB_EV_VCH_IN = false, CB_EV_VCH_OUT = false;

  // Engine speed.
  std::string ED_RPX, ED_TRPX;
  bool CB_BZ_RPX_IN = false, CB_BZ_RPX_OUT = false, CB_BZ_RPX_WH = false;
  bool CB_EV_RPX_IN = false, CB_EV_RPX_OUT = false;

  // Idling.
  std::string ED_TOSC, ED_XOSC;
  bool CB_BZ_OSC_IN = false, CB_BZ_OSC_OUT = false, CB_BZ_OSC_WH = false;
  bool CB_EV_OSC_IN = false, CB_EV_OSC_OUT = false;

  // Coasting out of gear.
  std::string ED_VBGL, ED_RBGL, ED_TBGL;
  bool CB_BZ_BGL_IN = false, CB_BZ_BGL_OUT = false, CB_BZ_BGL_WH = false;
  bool CB_EV_BGL_IN = false, CB_EV_BGL_OUT = false;

  // Engine braking: shown on the panel, not part of the record.
  std::string ED_VEBK, ED_TEBK, ED_REBK;
  bool CB_BZ_EBK_IN = false, CB_BZ_EBK_OUT = false;
  bool CB_EV_EBK_IN = false, CB_EV_EBK_OUT = false;

  bool operator==(const PanelValues&) const = default;
};

}  // namespace vyo
