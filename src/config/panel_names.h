// Access to the panel's values by control name, for the command line and
// its settings profile.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/panel.h"

namespace vyo {

// Every control name: the lists, the edit boxes (engine braking included)
// and all buzzer and event checkboxes.
std::vector<std::string> PanelValueNames();

// CB_PING in seconds, CB_A232/CB_B232 in baud, edit boxes as their text,
// checkboxes "true"/"false". Unknown names and unselected lists give nullopt.
std::optional<std::string> GetPanelValue(const PanelValues& values, std::string_view name);

// Sets one control from text. Lists take a value of their list (seconds or
// baud), edit boxes any text (validated when the record is built),
// checkboxes true/false/1/0. On an unknown name or value returns false,
// leaves `values` unchanged and, if `error` is given, describes the problem.
bool SetPanelValue(PanelValues& values, std::string_view name, std::string_view value,
                   std::string* error);

}  // namespace vyo
