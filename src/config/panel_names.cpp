#include "config/panel_names.h"

#include <variant>

#include "config/fields.h"

namespace vyo {

using namespace config_detail;

namespace {

struct Entry {
  std::string_view name;
  // Lists carry their table; edit boxes and checkboxes their member.
  std::variant<const ListField*, std::string PanelValues::*, bool PanelValues::*> target;
};

// One entry per control, gathered from the record tables so that each name
// is written down once.
const std::vector<Entry>& Entries() {
  static const std::vector<Entry> entries = [] {
    std::vector<Entry> e;
    for (const auto& l : kListFields) e.push_back({l.control.name, &l});
    for (const auto& f : kNumberFields) e.push_back({f.control.name, f.control.member});
    for (const auto& c : kOtherEdits) e.push_back({c.name, c.member});
    for (const auto& g : kFlagGroups)
      for (const auto& box : g.boxes)
        if (box.member) e.push_back({box.name, box.member});
    return e;
  }();
  return entries;
}

const Entry* Find(std::string_view name) {
  for (const auto& e : Entries())
    if (e.name == name) return &e;
  return nullptr;
}

std::string ListValues(const ListField& l) {
  std::string s;
  for (int i = 0; i < l.count; ++i) {
    if (i) s += ", ";
    s += std::to_string(l.values[i]);
  }
  return s;
}

bool Fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

}  // namespace

std::vector<std::string> PanelValueNames() {
  std::vector<std::string> names;
  for (const auto& e : Entries()) names.emplace_back(e.name);
  return names;
}

std::optional<std::string> GetPanelValue(const PanelValues& values, std::string_view name) {
  const Entry* e = Find(name);
  if (!e) return std::nullopt;
  if (const auto* list = std::get_if<const ListField*>(&e->target)) {
    const int position = values.*(*list)->control.member;
    if (position < 0 || position >= (*list)->count) return std::nullopt;
    return std::to_string((*list)->values[position]);
  }
  if (const auto* text = std::get_if<std::string PanelValues::*>(&e->target))
    return values.**text;
  return values.*std::get<bool PanelValues::*>(e->target) ? "true" : "false";
}

bool SetPanelValue(PanelValues& values, std::string_view name, std::string_view value,
                   std::string* error) {
  const Entry* e = Find(name);
  if (!e) {
    std::string known;
    for (const auto& n : Entries()) known += (known.empty() ? "" : ", ") + std::string(n.name);
    return Fail(error, "unknown setting '" + std::string(name) + "'; known settings: " + known);
  }
  if (const auto* list = std::get_if<const ListField*>(&e->target)) {
    const ListField& l = **list;
    if (const auto number = ParseDecimal(value, 0xFFFFFFFFu)) {
      for (int i = 0; i < l.count; ++i) {
        if (uint32_t(l.values[i]) == *number) {
          values.*l.control.member = i;
          return true;
        }
      }
    }
    return Fail(error, std::string(name) + ": '" + std::string(value) +
                           "' is not allowed; use one of " + ListValues(l) + " (" +
                           l.unit + ")");
  }
  if (const auto* text = std::get_if<std::string PanelValues::*>(&e->target)) {
    values.**text = std::string(value);
    return true;
  }
  const auto member = std::get<bool PanelValues::*>(e->target);
  if (value == "true" || value == "1") {
    values.*member = true;
  } else if (value == "false" || value == "0") {
    values.*member = false;
  } else {
    return Fail(error, std::string(name) + ": '" + std::string(value) +
                           "' is not allowed; use true, false, 1 or 0");
  }
  return true;
}

}  // namespace vyo
