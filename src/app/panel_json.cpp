#include "app/panel_json.h"

#include <algorithm>
#include <vector>

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include "config/panel_names.h"

namespace vyo {
namespace {

bool IsCheckbox(const std::string& name) { return name.rfind("CB_BZ_", 0) == 0 || name.rfind("CB_EV_", 0) == 0; }

bool IsInteger(const std::string& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool IsKnownName(const std::string& name) {
  static const std::vector<std::string> names = PanelValueNames();
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

QJsonObject PanelToJson(const PanelValues& values) {
  QJsonObject obj;
  for (const std::string& name : PanelValueNames()) {
    const std::optional<std::string> v = GetPanelValue(values, name);
    const QString key = QString::fromStdString(name);
    if (!v) {
      obj.insert(key, QJsonValue::Null);  // a list with nothing selected
    } else if (IsCheckbox(name)) {
      obj.insert(key, *v == "true");
    } else if (IsInteger(*v)) {
      obj.insert(key, std::stoi(*v));
    } else {
      obj.insert(key, QString::fromStdString(*v));
    }
  }
  return obj;
}

bool PanelFromJson(const QByteArray& json, PanelValues& values, std::string* error) {
  QJsonParseError perr{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &perr);
  if (doc.isNull()) {
    if (error) *error = "invalid JSON: " + perr.errorString().toStdString() + " at offset " + std::to_string(perr.offset);
    return false;
  }
  if (!doc.isObject()) {
    if (error) *error = "the profile must be a JSON object of control names and values";
    return false;
  }
  PanelValues result = values;
  const QJsonObject obj = doc.object();
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    const std::string name = it.key().toStdString();
    const QJsonValue v = it.value();
    std::string text;
    if (v.isBool()) {
      if (!IsCheckbox(name) && IsKnownName(name)) {
        if (error) *error = name + ": expected a number, not true/false";
        return false;
      }
      text = v.toBool() ? "true" : "false";
    } else if (v.isDouble()) {
      const double d = v.toDouble();
      if (d < 0 || d > 4294967295.0 || d != double(qint64(d))) {
        if (error) *error = name + ": not a whole non-negative number";
        return false;
      }
      text = std::to_string(qint64(d));
    } else if (v.isString()) {
      text = v.toString().toStdString();
    } else if (v.isNull()) {
      // Nothing selected: keep what is there. The name must still be a
      // control's, so that a misspelt one is not passed over in silence.
      const std::vector<std::string> names = PanelValueNames();
      if (std::find(names.begin(), names.end(), name) == names.end()) {
        PanelValues unused;
        SetPanelValue(unused, name, "", error);  // describes the unknown name
        return false;
      }
      continue;
    } else {
      if (error) *error = name + ": expected a number, a text or true/false";
      return false;
    }
    std::string why;
    if (!SetPanelValue(result, name, text, &why)) {
      if (error) *error = why;
      return false;
    }
  }
  values = result;
  return true;
}

}  // namespace vyo
