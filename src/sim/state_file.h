// The simulated unit's state as text, so that it survives a restart of the
// program. One "key value" line each; bytes are written as hexadecimal:
//
//   format 1
//   mode 1                          1 = update mode, 0 = operation mode
//   version 4.0.2.42
//   id 0041002A 33325117 34383632
//   text1 56594F                    the 12-character texts, hex (may be empty)
//   text2 53494D554C41444F
//   base 0803F000
//   record FFFF...                  the 2032-byte configuration record
//   firmware-last 89676 ok          last firmware upload: size and ok|bad, or "none"
//   firmware-trailer BB00777883     closing bytes of the installed image
//   firmware 0102...                the installed image (absent if none)
//   stats packets=44 acks=44 ...    this run's counters (written, not read back)
//   faults drop-ack=1 nack=2        this run's injected faults by kind
//
// Lines starting with '#' and unknown keys are ignored when reading.
#pragma once

#include <string>
#include <string_view>

#include "sim/sim_unit.h"

namespace vyo::sim {

std::string StateToText(const UnitState& state, const Stats* stats = nullptr);
// Fills `state` from the text; on a malformed line returns false with a
// message naming it, leaving `state` unchanged.
bool StateFromText(std::string_view text, UnitState& state, std::string* error);

// "4.0.2.42": four numbers 0..255.
std::optional<Version> ParseVersion(std::string_view text);
std::string VersionText(const Version& v);

// Whole text as a number in `base` (16 accepts a leading "0x"), at most
// `max`; nullopt for anything else.
std::optional<uint64_t> ParseNumber(std::string_view text, int base, uint64_t max);

std::string ToHex(const uint8_t* data, size_t n);
std::optional<Bytes> FromHex(std::string_view text);

}  // namespace vyo::sim
