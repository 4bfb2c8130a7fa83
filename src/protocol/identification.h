// The unit's identification frame and the decision taken on its version.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/frame.h"

namespace vyo {

constexpr size_t kIdentificationSize = 45;

struct UnitInfo {
  uint8_t mode = 0;  // non-zero: update mode; 0: running its application
  std::array<uint32_t, 3> id{};
  std::string text1, text2;
  uint8_t major = 0, minor = 0, release = 0, build = 0;
  uint32_t baseAddress = 0;

  // The two texts joined with " - ".
  std::string Description() const;
  // "Vyo v4.0.2.42\r\nId: 00000001 00000002 00000003"
  std::string LogLine() const;
  std::string VersionText() const;  // "4.0.2.42"
  std::string IdText() const;       // "00000001 00000002 00000003"
};

// Reads an identification payload; nullopt when it is shorter than 45 bytes.
std::optional<UnitInfo> ParseIdentification(const Bytes& payload);
// The payload the unit sends (used by the simulated unit and tests).
Bytes BuildIdentification(const UnitInfo& info);

enum class GateAction {
  UpdateFirmware,          // old firmware: upload the image
  ReadConfig,              // up to date: read the configuration
  ReadConfigDiscontinued,  // discontinued model: warn, then read the configuration
  LogOnly,                 // unknown major version: nothing further
};

GateAction VersionGate(uint8_t major, uint8_t release, uint8_t build);

// Majors whose firmware the built-in image fits.
bool FirmwareFitsMajor(uint8_t major);

}  // namespace vyo
