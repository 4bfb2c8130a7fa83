// The firmware image uploaded to units in update mode.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/frame.h"

namespace vyo {

constexpr uint32_t kBuiltinFirmwareSize = 89676;
// Largest block the 16-bit packet numbering can carry (65,535 packets, one
// of them the closing packet).
constexpr uint64_t kMaxUploadBytes = uint64_t(0xFFFF - 1) * kPacketDataSize;

struct FirmwareImage {
  Bytes data;
  std::array<uint8_t, kTrailerSize> trailer{};  // XOR of all bytes, then their 32-bit sum
  std::string name;
};

// The image built into the tool.
const FirmwareImage& BuiltinFirmware();

// Reads a replacement image; its closing bytes follow the same rule as the
// built-in one. Returns nullopt and a Portuguese text in `error` when the
// file cannot be read, is empty or is too large for the packet numbering.
std::optional<FirmwareImage> LoadFirmwareImage(const std::string& path, std::string* error);
FirmwareImage MakeFirmwareImage(Bytes data, std::string name);

}  // namespace vyo
