// The configuration panel's values as a JSON object keyed by control name:
// lists in seconds or baud, edit boxes as integers, checkboxes as booleans.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <string>

#include "config/panel.h"

namespace vyo {

QJsonObject PanelToJson(const PanelValues& values);

// Applies the members of a JSON profile over `values`. Unknown names, wrong
// types and values outside a list are refused: false, `values` unchanged,
// the reason in `error`.
bool PanelFromJson(const QByteArray& json, PanelValues& values, std::string* error);

}  // namespace vyo
