// The configuration record read back from a unit: any block of bytes goes
// through CheckRecord, and one that passes goes through DecodeRecord.
//
// Checked: a block of another size is refused; DecodeRecord accepts exactly
// what CheckRecord accepts; controls without a place in the record keep
// their values; a decoded panel the validation refuses always comes with a
// note saying why; a decoded panel the validation accepts builds a record
// that passes the check, decodes to the same panel and carries the same
// fields, flag codes losing only the bits that have no checkbox.
#include <stdexcept>
#include <string>

#include "config/presets.h"
#include "config/record.h"
#include "fuzz_common.h"

namespace vyo::fuzz {
namespace {

constexpr size_t kFieldsBegin = 8, kFieldsEnd = 36;  // lists, limits and flag codes

// Offsets of the flag codes and the bits each one has checkboxes for: the
// tens digit holds buzzer bits (entry 1, exit 2, during 4), the units digit
// event bits (entry 1, exit 2). Harsh acceleration and braking have only the
// entry boxes.
struct FlagByte {
  size_t offset;
  unsigned tensMask, unitsMask;
};
constexpr FlagByte kFlagBytes[] = {{16, 1, 1}, {17, 1, 1}, {18, 7, 3}, {21, 7, 3},
                                   {24, 7, 3}, {28, 7, 3}, {31, 7, 3}};

const FlagByte* FlagAt(size_t offset) {
  for (const FlagByte& f : kFlagBytes)
    if (f.offset == offset) return &f;
  return nullptr;
}

void CheckDecoding(const Bytes& record, const PanelValues& current) {
  const DecodedRecord decoded = DecodeRecord(record.data(), record.size(), current);
  const PanelValues& v = decoded.values;

  // Engine braking has no place in the record.
  FUZZ_CHECK(v.ED_VEBK == current.ED_VEBK && v.ED_TEBK == current.ED_TEBK && v.ED_REBK == current.ED_REBK);
  FUZZ_CHECK(v.CB_BZ_EBK_IN == current.CB_BZ_EBK_IN && v.CB_BZ_EBK_OUT == current.CB_BZ_EBK_OUT);
  FUZZ_CHECK(v.CB_EV_EBK_IN == current.CB_EV_EBK_IN && v.CB_EV_EBK_OUT == current.CB_EV_EBK_OUT);

  if (ValidatePanel(v)) {
    // A value the panel cannot hold is never dropped without a word.
    FUZZ_CHECK(!decoded.notes.empty());
    return;
  }
  const Bytes again = BuildRecord(v);
  FUZZ_CHECK(again.size() == kRecordSize);
  FUZZ_CHECK(CheckRecord(again.data(), again.size()));
  const DecodedRecord twice = DecodeRecord(again.data(), again.size(), current);
  FUZZ_CHECK(twice.values == v);
  FUZZ_CHECK(twice.notes.empty());

  for (size_t i = kFieldsBegin; i < kFieldsEnd; ++i) {
    if (const FlagByte* f = FlagAt(i)) {
      const unsigned code = record[i];
      const unsigned known = 10 * ((code / 10) & f->tensMask) + ((code % 10) & f->unitsMask);
      FUZZ_CHECK(again[i] == known);
      // Bits without a checkbox are reported.
      if (known != code) FUZZ_CHECK(!decoded.notes.empty());
    } else {
      FUZZ_CHECK(again[i] == record[i]);
    }
  }
}

}  // namespace
}  // namespace vyo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vyo;
  using namespace vyo::fuzz;

  // As given: only a block of the record's size can pass.
  if (size != kRecordSize) FUZZ_CHECK(!CheckRecord(data, size));

  // As a record: the input over a blank block. The first byte may set the
  // markers, the body length and the sum right, so that the decoding is
  // reached with any field values.
  Input in(data, size);
  const uint8_t mode = in.Byte();
  Bytes record(kRecordSize, 0xFF);
  const Bytes body = in.Take(kRecordSize);
  std::copy(body.begin(), body.end(), record.begin());
  if (mode & 1) {
    record[0] = 0xCA;
    record[1] = 0xFE;
    record[2] = 0xF0;
    record[3] = 0xDA;
  }
  if (mode & 2) {
    // Mostly the usual body length; sometimes a longer one from the input.
    size_t length = kRecordBodyLength;
    if (mode & 4) length = kRecordBodyLength + GetBE16(&record[4]) % (kRecordSize - kRecordBodyLength - 8);
    record[4] = uint8_t(length >> 8);
    record[5] = uint8_t(length);
    const uint32_t sum = ByteSum(record.data(), length + 6);
    record[length + 6] = uint8_t(sum >> 16);
    record[length + 7] = uint8_t(sum >> 8);
    record[length + 8] = uint8_t(sum);
  }

  PanelValues current = mode & 8 ? PresetPanel() : DefaultPanel();
  if (mode & 16) current.ED_VEBK = "abc";  // what is not in the record is not looked at

  if (CheckRecord(record.data(), record.size())) {
    CheckDecoding(record, current);
  } else {
    bool refused = false;
    try {
      DecodeRecord(record.data(), record.size(), current);
    } catch (const std::invalid_argument&) {
      refused = true;
    }
    FUZZ_CHECK(refused);
  }

  // The closing bytes of an upload, for a block of any size.
  const std::array<uint8_t, kTrailerSize> t = XorSumTrailer(data, size);
  uint8_t x = 0;
  uint32_t sum = 0;
  for (size_t i = 0; i < size; ++i) {
    x ^= data[i];
    sum += data[i];
  }
  FUZZ_CHECK(t[0] == x && GetBE32(&t[1]) == sum);
  return 0;
}
