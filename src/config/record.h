// The unit's configuration record: a fixed 2032-byte block built from the
// panel's values, written to the unit as an upload and read back from it.
//
// Layout (big-endian, unsigned):
//   0-3   markers CA FE F0 DA
//   4-5   body length, bytes 6..35 = 30
//   6-7   01 02
//   8-13  PING seconds, RS232-A baud / 100, RS232-B baud / 100 (2 bytes each)
//   14-35 limits, validation times and flag codes of the monitored items
//   36-38 sum of bytes 0..35, low 24 bits
//   39-   filler 0xFF
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/panel.h"
#include "config/panel_names.h"
#include "config/presets.h"
#include "protocol/frame.h"

namespace vyo {

constexpr size_t kRecordSize = 2032;
constexpr size_t kRecordBodyLength = 30;    // bytes 6..35
constexpr size_t kRecordSumOffset = 36;     // 3 bytes
constexpr size_t kRecordFillerOffset = 39;

// The panel controls whose values go into the record.
enum class PanelField {
  ED_ACP, ED_ACN, ED_VMX, ED_TVMX, ED_VCH, ED_TVCH, ED_RPX, ED_TRPX,
  ED_TOSC, ED_XOSC, ED_VBGL, ED_RBGL, ED_TBGL, CB_PING, CB_A232, CB_B232
};

// The control's name, e.g. "ED_VMX".
const char* PanelFieldName(PanelField field);

struct ValidationError {
  PanelField field;
  std::string message;  // whole message box text, "Parâmetro inválido!\r\n[...]"
};

// Checks the panel's values in record order (the three lists first, then the
// edit boxes) and returns the first one that cannot be stored. Edit boxes
// must hold digits only, within their bounds and within the width of their
// record field; lists must have a valid selection.
std::optional<ValidationError> ValidatePanel(const PanelValues& values);

// The 2032-byte record for validated values. Throws std::invalid_argument
// when ValidatePanel refuses the values.
Bytes BuildRecord(const PanelValues& values);

// Closing bytes of an upload: XOR of all bytes, then the 32-bit sum of all
// bytes, big-endian.
std::array<uint8_t, 5> XorSumTrailer(const uint8_t* data, size_t n);

// Acceptance of a record read back from the unit: exactly kRecordSize bytes,
// markers CA FE F0 DA, a body length covering at least the known fields
// and fitting the block, and the sum of bytes 0..(length + 5) equal to the
// 24-bit value that follows them.
bool CheckRecord(const uint8_t* data, size_t n);

struct DecodedRecord {
  PanelValues values;
  // Log lines (Portuguese) about values that could not be shown as read.
  std::vector<std::string> notes;
};

// Writes an accepted record's values over `current`. Controls that have no
// place in the record (engine braking) keep `current`'s values. A list value
// that is not one of the list's entries leaves the list unselected; unknown
// bits of a flag code are left off; both, and numbers outside the panel's
// bounds, are reported in `notes`. Throws std::invalid_argument when
// CheckRecord refuses the data.
DecodedRecord DecodeRecord(const uint8_t* data, size_t n, const PanelValues& current);

}  // namespace vyo
