#include "protocol/identification.h"

#include <cstdio>

namespace vyo {
namespace {

// A 12-character field of the frame: not terminated, may be padded with
// zeros or spaces. Control characters are not kept.
std::string TextField(const uint8_t* p) {
  std::string s;
  for (int i = 0; i < 12; ++i) {
    if (p[i] == 0) break;
    s.push_back(p[i] < 0x20 || p[i] == 0x7F ? '?' : char(p[i]));
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

std::string UnitInfo::Description() const { return text1 + " - " + text2; }

std::string UnitInfo::VersionText() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", major, minor, release, build);
  return buf;
}

std::string UnitInfo::IdText() const {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.8X %.8X %.8X", id[0], id[1], id[2]);
  return buf;
}

std::string UnitInfo::LogLine() const {
  char buf[96];
  std::snprintf(buf, sizeof buf, "Vyo v%d.%d.%d.%d\r\nId: %.8X %.8X %.8X", major, minor, release,
                build, id[0], id[1], id[2]);
  return buf;
}

std::optional<UnitInfo> ParseIdentification(const Bytes& payload) {
  if (payload.size() < kIdentificationSize) return std::nullopt;
  const uint8_t* p = payload.data();
  UnitInfo u;
  u.mode = p[0];
  for (int i = 0; i < 3; ++i) u.id[i] = GetBE32(p + 1 + 4 * i);
  u.text1 = TextField(p + 13);
  u.text2 = TextField(p + 25);
  u.major = p[37];
  u.minor = p[38];
  u.release = p[39];
  u.build = p[40];
  u.baseAddress = GetBE32(p + 41);
  return u;
}

Bytes BuildIdentification(const UnitInfo& u) {
  Bytes b;
  b.push_back(u.mode);
  for (uint32_t w : u.id) PutBE32(b, w);
  for (const std::string* t : {&u.text1, &u.text2})
    for (size_t i = 0; i < 12; ++i) b.push_back(i < t->size() ? uint8_t((*t)[i]) : 0);
  b.push_back(u.major);
  b.push_back(u.minor);
  b.push_back(u.release);
  b.push_back(u.build);
  PutBE32(b, u.baseAddress);
  return b;
}

bool FirmwareFitsMajor(uint8_t major) { return major == 3 || major == 4 || major == 41; }

GateAction VersionGate(uint8_t major, uint8_t release, uint8_t build) {
  if (major == 1 || major == 2) return GateAction::ReadConfigDiscontinued;
  if (!FirmwareFitsMajor(major)) return GateAction::LogOnly;
  if ((release == 255 && build == 255) || release == 99) return GateAction::UpdateFirmware;
  if (release < 2 || (release == 2 && build < 42)) return GateAction::UpdateFirmware;
  return GateAction::ReadConfig;
}

}  // namespace vyo
