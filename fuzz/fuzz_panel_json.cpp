// The command line's JSON profile: PanelFromJson on any text.
//
// Checked: nothing crashes; a refused profile leaves the values as they
// were and says why; in an accepted profile every member names a control
// and reads back through GetPanelValue as it was given (lists as their
// value, checkboxes as true/false); the profile the command line writes
// (PanelToJson) is accepted again and gives the same profile; values that
// pass the validation make a record that reads back to the same record.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <string>
#include <vector>

#include "app/panel_json.h"
#include "config/panel_names.h"
#include "config/presets.h"
#include "config/record.h"
#include "fuzz_common.h"

namespace vyo::fuzz {
namespace {

bool IsDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Without leading zeros ("0060" -> "60", "000" -> "0").
std::string Canonical(const std::string& digits) {
  const size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

bool IsList(const std::string& name) { return name == "CB_PING" || name == "CB_A232" || name == "CB_B232"; }
bool IsCheckbox(const std::string& name) { return name.rfind("CB_BZ_", 0) == 0 || name.rfind("CB_EV_", 0) == 0; }

// What a member of the profile should read back as.
void CheckMember(const PanelValues& before, const PanelValues& after, const std::string& name,
                 const QJsonValue& v) {
  static const std::vector<std::string> names = PanelValueNames();
  FUZZ_CHECK(std::find(names.begin(), names.end(), name) != names.end());
  const std::optional<std::string> got = GetPanelValue(after, name);
  if (v.isNull()) {
    FUZZ_CHECK(got == GetPanelValue(before, name));
    return;
  }
  FUZZ_CHECK(got.has_value());
  std::string given;
  if (v.isBool()) given = v.toBool() ? "true" : "false";
  else if (v.isDouble()) given = std::to_string(qint64(v.toDouble()));
  else {
    FUZZ_CHECK(v.isString());
    given = v.toString().toStdString();
  }
  if (IsCheckbox(name)) {
    FUZZ_CHECK(given == "true" || given == "false" || given == "1" || given == "0");
    FUZZ_CHECK(*got == (given == "true" || given == "1" ? "true" : "false"));
  } else if (IsList(name)) {
    FUZZ_CHECK(IsDigits(given) && *got == Canonical(given));
  } else {
    FUZZ_CHECK(*got == given);
  }
}

void CheckRecordRoundTrip(const PanelValues& values) {
  if (ValidatePanel(values)) return;
  const Bytes record = BuildRecord(values);
  FUZZ_CHECK(CheckRecord(record.data(), record.size()));
  const DecodedRecord decoded = DecodeRecord(record.data(), record.size(), values);
  FUZZ_CHECK(decoded.notes.empty());
  FUZZ_CHECK(!ValidatePanel(decoded.values));
  FUZZ_CHECK(BuildRecord(decoded.values) == record);
}

}  // namespace
}  // namespace vyo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vyo;
  using namespace vyo::fuzz;
  if (size > 64 * 1024) return 0;

  const QByteArray json(reinterpret_cast<const char*>(data), qsizetype(size));
  const PanelValues before = DefaultPanel();
  PanelValues values = before;
  std::string error;
  if (!PanelFromJson(json, values, &error)) {
    FUZZ_CHECK(values == before);
    FUZZ_CHECK(!error.empty());
    return 0;
  }

  const QJsonObject obj = QJsonDocument::fromJson(json).object();
  for (auto it = obj.begin(); it != obj.end(); ++it) CheckMember(before, values, it.key().toStdString(), it.value());

  // The profile the command line writes is taken back as it is.
  const QJsonObject written = PanelToJson(values);
  PanelValues again = PresetPanel();
  std::string againError;
  FUZZ_CHECK(PanelFromJson(QJsonDocument(written).toJson(), again, &againError));
  FUZZ_CHECK(PanelToJson(again) == written);
  for (const std::string& name : PanelValueNames()) {
    const std::optional<std::string> a = GetPanelValue(values, name), b = GetPanelValue(again, name);
    FUZZ_CHECK(a.has_value() == b.has_value());
    // Edit boxes holding a number may lose leading zeros; nothing else changes.
    if (a && *a != *b) FUZZ_CHECK(IsDigits(*a) && Canonical(*a) == *b);
  }

  CheckRecordRoundTrip(values);
  return 0;
}
