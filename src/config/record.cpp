#include "config/record.h"

#include <stdexcept>

#include "config/fields.h"

namespace vyo {

using namespace config_detail;

namespace {

constexpr uint8_t kMarkers[4] = {0xCA, 0xFE, 0xF0, 0xDA};
constexpr char kInvalidParameter[] = "Parâmetro inválido!\r\n";

ValidationError Invalid(PanelField field, const char* label) {
  return {field, std::string(kInvalidParameter) + label};
}

void PutAt(Bytes& out, size_t offset, int width, uint32_t value) {
  if (width == 2) out[offset++] = uint8_t(value >> 8);
  out[offset] = uint8_t(value);
}

uint8_t FlagCode(const PanelValues& values, const FlagGroup& group) {
  uint8_t code = 0;
  for (int i = 0; i < 5; ++i) {
    const auto member = group.boxes[i].member;
    if (member && values.*member) code += kFlagWeights[i];
  }
  return code;
}

// Sets the group's boxes from a code. Bits that have no box in the group
// (a tens digit above 7, a units digit above 3, or a slot the group lacks)
// are left off; returns false when there were any.
bool SetFlags(PanelValues& values, const FlagGroup& group, uint8_t code) {
  const unsigned tens = code / 10;
  const unsigned units = code % 10;
  unsigned usedTens = 0, usedUnits = 0;
  for (int i = 0; i < 5; ++i) {
    const auto member = group.boxes[i].member;
    if (!member) continue;
    const unsigned weight = kFlagWeights[i];
    const bool isBuzzer = weight >= 10;
    const unsigned bit = isBuzzer ? weight / 10 : weight;
    const bool on = ((isBuzzer ? tens : units) & bit) != 0;
    values.*member = on;
    (isBuzzer ? usedTens : usedUnits) |= bit;
  }
  return (tens & ~usedTens) == 0 && (units & ~usedUnits) == 0;
}

}  // namespace

namespace config_detail {

std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t limit) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + unsigned(c - '0');
    // Checked on every digit, so the value never grows past limit * 10 + 9.
    if (value > limit) return std::nullopt;
  }
  return uint32_t(value);
}

}  // namespace config_detail

const char* PanelFieldName(PanelField field) {
  for (const auto& l : kListFields)
    if (l.field == field) return l.control.name;
  for (const auto& f : kNumberFields)
    if (f.field == field) return f.control.name;
  return "?";
}

std::optional<ValidationError> ValidatePanel(const PanelValues& values) {
  // Record order: the lists (offsets 8-13) come before the edit boxes.
  for (const auto& l : kListFields) {
    const int position = values.*l.control.member;
    if (position < 0 || position >= l.count) return Invalid(l.field, l.label);
  }
  for (const auto& f : kNumberFields) {
    // Bounded by the field's maximum, which fits its record width: a wider
    // value is refused rather than stored as its low bits.
    const auto value = ParseDecimal(values.*f.control.member, f.max);
    if (!value || *value < f.min || *value > f.max) return Invalid(f.field, f.label);
  }
  return std::nullopt;
}

Bytes BuildRecord(const PanelValues& values) {
  if (const auto error = ValidatePanel(values))
    throw std::invalid_argument("configuration record from invalid panel values: " +
                                std::string(PanelFieldName(error->field)));

  Bytes record(kRecordSize, 0x00);
  for (size_t i = 0; i < 4; ++i) record[i] = kMarkers[i];
  PutAt(record, 4, 2, kRecordBodyLength);
  record[6] = 0x01;
  record[7] = 0x02;
  for (const auto& l : kListFields)
    PutAt(record, l.offset, 2, uint32_t(l.values[values.*l.control.member] / l.divisor));
  for (const auto& f : kNumberFields)
    PutAt(record, f.offset, f.width, *ParseDecimal(values.*f.control.member, f.max));
  for (const auto& g : kFlagGroups)
    if (g.offset) record[*g.offset] = FlagCode(values, g);

  const uint32_t sum = ByteSum(record.data(), kRecordSumOffset);
  record[kRecordSumOffset] = uint8_t(sum >> 16);
  record[kRecordSumOffset + 1] = uint8_t(sum >> 8);
  record[kRecordSumOffset + 2] = uint8_t(sum);
  for (size_t i = kRecordFillerOffset; i < kRecordSize; ++i) record[i] = 0xFF;
  return record;
}

std::array<uint8_t, 5> XorSumTrailer(const uint8_t* data, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= data[i];
  const uint32_t sum = n ? ByteSum(data, n) : 0;
  return {x, uint8_t(sum >> 24), uint8_t(sum >> 16), uint8_t(sum >> 8), uint8_t(sum)};
}

bool CheckRecord(const uint8_t* data, size_t n) {
  if (data == nullptr || n != kRecordSize) return false;
  for (size_t i = 0; i < 4; ++i)
    if (data[i] != kMarkers[i]) return false;
  const size_t length = GetBE16(data + 4);
  // The sum must cover every field that is read back; a shorter body would
  // let unchecked bytes reach the panel.
  if (length < kRecordBodyLength || length + 9 > kRecordSize) return false;
  const size_t summed = length + 6;  // bytes 0 .. length + 5
  const uint32_t stored =
      (uint32_t(data[summed]) << 16) | (uint32_t(data[summed + 1]) << 8) | data[summed + 2];
  return (ByteSum(data, summed) & 0xFFFFFFu) == stored;
}

DecodedRecord DecodeRecord(const uint8_t* data, size_t n, const PanelValues& current) {
  if (!CheckRecord(data, n))
    throw std::invalid_argument("configuration record refused by its check");

  DecodedRecord out{current, {}};
  PanelValues& v = out.values;
  for (const auto& l : kListFields) {
    const int value = int(GetBE16(data + l.offset)) * l.divisor;
    int position = -1;
    for (int i = 0; i < l.count; ++i)
      if (l.values[i] == value) position = i;
    v.*l.control.member = position;
    if (position < 0)
      out.notes.push_back(std::string("Valor de ") + l.name +
                          " desconhecido na configuração: " + std::to_string(value));
  }
  for (const auto& f : kNumberFields) {
    const uint32_t value = f.width == 2 ? GetBE16(data + f.offset) : data[f.offset];
    v.*f.control.member = std::to_string(value);
    if (value < f.min || value > f.max)
      out.notes.push_back(std::string("Valor fora dos limites na configuração ") + f.label +
                          ": " + std::to_string(value));
  }
  for (const auto& g : kFlagGroups) {
    if (!g.offset) continue;
    const uint8_t code = data[*g.offset];
    if (!SetFlags(v, g, code))
      out.notes.push_back(std::string("Código de alertas desconhecido na configuração ") +
                          g.label + ": " + std::to_string(code) +
                          " (opções desconhecidas desmarcadas)");
  }
  return out;
}

}  // namespace vyo
