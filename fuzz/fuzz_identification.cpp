// The identification payload a unit sends: ParseIdentification, the log
// line built from it and the version gate.
//
// Checked: a payload is read exactly when it has the 45 bytes; the fields
// come from their offsets; the two texts never bring control characters
// into the log and hold at most 12 characters; building the payload again
// from what was read gives the same unit; the log line is the version and
// the identifier as the technician reads them; the gate sends firmware only
// to units it fits, calls majors 1 and 2 discontinued, does nothing for
// unknown majors and leaves units at 2.42 or later alone (release 99 and
// 255.255 mark test builds, which are always replaced).
#include <string>

#include "fuzz_common.h"
#include "protocol/identification.h"

namespace vyo::fuzz {
namespace {

void CheckText(const std::string& t) {
  FUZZ_CHECK(t.size() <= 12);
  for (const char c : t) FUZZ_CHECK(uint8_t(c) >= 0x20 && uint8_t(c) != 0x7F);
  FUZZ_CHECK(t.empty() || t.back() != ' ');
}

bool IsHex8(const std::string& s, size_t at) {
  if (at + 8 > s.size()) return false;
  for (size_t i = at; i < at + 8; ++i)
    if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'A' && s[i] <= 'F'))) return false;
  return true;
}

void CheckGate(uint8_t major, uint8_t release, uint8_t build) {
  const GateAction a = VersionGate(major, release, build);
  const bool fits = FirmwareFitsMajor(major);
  FUZZ_CHECK(fits == (major == 3 || major == 4 || major == 41));
  if (a == GateAction::UpdateFirmware) FUZZ_CHECK(fits);
  FUZZ_CHECK((a == GateAction::ReadConfigDiscontinued) == (major == 1 || major == 2));
  FUZZ_CHECK((a == GateAction::LogOnly) == (!fits && major != 1 && major != 2));
  if (fits) {
    const bool testBuild = release == 99 || (release == 255 && build == 255);
    const bool current = release > 2 || (release == 2 && build >= 42);
    FUZZ_CHECK((a == GateAction::ReadConfig) == (current && !testBuild));
  }
}

}  // namespace
}  // namespace vyo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vyo;
  using namespace vyo::fuzz;

  const Bytes payload(data, data + size);
  const std::optional<UnitInfo> info = ParseIdentification(payload);
  FUZZ_CHECK(info.has_value() == (size >= kIdentificationSize));
  if (size >= 3) CheckGate(data[0], data[1], data[2]);
  if (!info) return 0;

  const UnitInfo& u = *info;
  FUZZ_CHECK(u.mode == data[0]);
  for (int i = 0; i < 3; ++i) FUZZ_CHECK(u.id[i] == GetBE32(data + 1 + 4 * i));
  FUZZ_CHECK(u.major == data[37] && u.minor == data[38] && u.release == data[39] && u.build == data[40]);
  FUZZ_CHECK(u.baseAddress == GetBE32(data + 41));
  CheckText(u.text1);
  CheckText(u.text2);
  FUZZ_CHECK(u.Description() == u.text1 + " - " + u.text2);

  const std::optional<UnitInfo> again = ParseIdentification(BuildIdentification(u));
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(again->mode == u.mode && again->id == u.id && again->text1 == u.text1 &&
             again->text2 == u.text2 && again->major == u.major && again->minor == u.minor &&
             again->release == u.release && again->build == u.build &&
             again->baseAddress == u.baseAddress);

  const std::string version = std::to_string(u.major) + "." + std::to_string(u.minor) + "." +
                              std::to_string(u.release) + "." + std::to_string(u.build);
  FUZZ_CHECK(u.VersionText() == version);
  const std::string id = u.IdText();
  FUZZ_CHECK(id.size() == 26 && IsHex8(id, 0) && id[8] == ' ' && IsHex8(id, 9) && id[17] == ' ' && IsHex8(id, 18));
  for (int i = 0; i < 3; ++i) FUZZ_CHECK(std::stoul(id.substr(size_t(9 * i), 8), nullptr, 16) == u.id[size_t(i)]);
  FUZZ_CHECK(u.LogLine() == "Vyo v" + version + "\r\nId: " + id);

  CheckGate(u.major, u.release, u.build);
  return 0;
}
