// The two named sets of panel values: the defaults shown at start and the
// fleet preset. Both pass ValidatePanel.
#pragma once

#include "config/panel.h"

namespace vyo {

PanelValues DefaultPanel();
PanelValues PresetPanel();

}  // namespace vyo
