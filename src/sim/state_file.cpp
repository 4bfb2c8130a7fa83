#include "sim/state_file.h"

#include <cstdio>
#include <sstream>
#include <vector>

namespace vyo::sim {

namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

std::string TextOf(const Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace

std::optional<uint64_t> ParseNumber(std::string_view text, int base, uint64_t max) {
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    if (digit >= base) return std::nullopt;
    value = value * uint64_t(base) + uint64_t(digit);
    if (value > max) return std::nullopt;  // checked per digit: no overflow
  }
  return value;
}

std::optional<Version> ParseVersion(std::string_view text) {
  Version v{};
  for (int i = 0; i < 4; ++i) {
    const size_t dot = i < 3 ? text.find('.') : std::string_view::npos;
    if (i < 3 && dot == std::string_view::npos) return std::nullopt;
    const auto n = ParseNumber(text.substr(0, dot), 10, 255);
    if (!n) return std::nullopt;
    v[size_t(i)] = uint8_t(*n);
    text = i < 3 ? text.substr(dot + 1) : std::string_view();
  }
  return v;
}

std::string VersionText(const Version& v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", v[0], v[1], v[2], v[3]);
  return buf;
}

std::string ToHex(const uint8_t* data, size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kDigits[data[i] >> 4]);
    s.push_back(kDigits[data[i] & 15]);
  }
  return s;
}

std::optional<Bytes> FromHex(std::string_view text) {
  if (text.size() % 2) return std::nullopt;
  Bytes b;
  b.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const auto v = ParseNumber(text.substr(i, 2), 16, 255);
    if (!v) return std::nullopt;
    b.push_back(uint8_t(*v));
  }
  return b;
}

std::string StateToText(const UnitState& s, const Stats* stats) {
  std::ostringstream o;
  char buf[64];
  o << "# vyotool-sim state\nformat 1\n";
  o << "mode " << int(s.mode) << "\n";
  o << "version " << VersionText(s.version) << "\n";
  std::snprintf(buf, sizeof buf, "%08X %08X %08X", s.id[0], s.id[1], s.id[2]);
  o << "id " << buf << "\n";
  o << "text1 " << ToHex(reinterpret_cast<const uint8_t*>(s.text1.data()), s.text1.size()) << "\n";
  o << "text2 " << ToHex(reinterpret_cast<const uint8_t*>(s.text2.data()), s.text2.size()) << "\n";
  std::snprintf(buf, sizeof buf, "%08X", s.baseAddress);
  o << "base " << buf << "\n";
  o << "record " << ToHex(s.record.data(), s.record.size()) << "\n";
  if (s.firmwareAttempted)
    o << "firmware-last " << s.lastFirmwareSize << (s.lastFirmwareOk ? " ok" : " bad") << "\n";
  else
    o << "firmware-last none\n";
  if (!s.firmware.empty()) {
    o << "firmware-trailer " << ToHex(s.firmwareTrailer.data(), s.firmwareTrailer.size()) << "\n";
    o << "firmware " << ToHex(s.firmware.data(), s.firmware.size()) << "\n";
  }
  if (stats) {
    o << "stats packets=" << stats->packetsReceived << " acks=" << stats->acksSent
      << " nacks=" << stats->nacksSent << " transfers=" << stats->transfersCompleted
      << " failed=" << stats->transfersFailed << " reads=" << stats->readsAnswered
      << " identifications=" << stats->identificationsSent
      << " notices=" << stats->operationNotices << " frames=" << stats->framesReceived
      << " ignored=" << stats->framesIgnored << " faults=" << stats->faultsInjected << "\n";
    o << "faults";
    for (const auto& [kind, n] : stats->faultsByKind) o << " " << kind << "=" << n;
    o << "\n";
  }
  return o.str();
}

bool StateFromText(std::string_view text, UnitState& out, std::string* error) {
  UnitState s = out;
  bool sawFormat = false;
  bool installed = false;
  int lineNo = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(lineNo) + ": " + why;
    return false;
  };
  while (!text.empty()) {
    ++lineNo;
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto w = Words(line);
    if (w.empty() || w[0][0] == '#') continue;
    const std::string_view key = w[0];
    const std::string_view arg = w.size() > 1 ? w[1] : std::string_view();
    if (key == "format") {
      if (w.size() != 2 || arg != "1") return fail("unknown format");
      sawFormat = true;
    } else if (key == "mode") {
      const auto v = ParseNumber(arg, 10, 255);
      if (w.size() != 2 || !v) return fail("bad mode");
      s.mode = uint8_t(*v);
    } else if (key == "version") {
      const auto v = ParseVersion(arg);
      if (w.size() != 2 || !v) return fail("bad version");
      s.version = *v;
    } else if (key == "id") {
      if (w.size() != 4) return fail("id needs three words");
      for (size_t i = 0; i < 3; ++i) {
        const auto v = ParseNumber(w[i + 1], 16, 0xFFFFFFFF);
        if (!v) return fail("bad id word");
        s.id[i] = uint32_t(*v);
      }
    } else if (key == "text1" || key == "text2") {
      const auto b = FromHex(arg);
      if (w.size() > 2 || !b || b->size() > 12) return fail("bad text");
      (key == "text1" ? s.text1 : s.text2) = TextOf(*b);
    } else if (key == "base") {
      const auto v = ParseNumber(arg, 16, 0xFFFFFFFF);
      if (w.size() != 2 || !v) return fail("bad base address");
      s.baseAddress = uint32_t(*v);
    } else if (key == "record") {
      const auto b = FromHex(arg);
      if (w.size() != 2 || !b || b->size() != kRecordSize) return fail("record is not 2032 bytes");
      s.record = *b;
    } else if (key == "firmware-last") {
      if (w.size() == 2 && arg == "none") {
        s.firmwareAttempted = false;
        s.lastFirmwareSize = 0;
        s.lastFirmwareOk = false;
      } else {
        const auto v = ParseNumber(arg, 10, 0xFFFFFFFF);
        if (w.size() != 3 || !v || (w[2] != "ok" && w[2] != "bad"))
          return fail("bad firmware-last");
        s.firmwareAttempted = true;
        s.lastFirmwareSize = uint32_t(*v);
        s.lastFirmwareOk = w[2] == "ok";
      }
    } else if (key == "firmware-trailer") {
      const auto b = FromHex(arg);
      if (w.size() != 2 || !b || b->size() != s.firmwareTrailer.size())
        return fail("bad firmware-trailer");
      std::copy(b->begin(), b->end(), s.firmwareTrailer.begin());
    } else if (key == "firmware") {
      const auto b = FromHex(arg);
      if (w.size() != 2 || !b || b->empty()) return fail("bad firmware");
      s.firmware = *b;
      installed = true;
    }
    // Other keys (stats, faults) describe a past run: not read back.
  }
  if (!sawFormat) {
    lineNo = 0;
    return fail("not a vyotool-sim state file");
  }
  if (!installed) {
    s.firmware.clear();
    s.firmwareTrailer = {};
  }
  out = std::move(s);
  return true;
}

}  // namespace vyo::sim
