#include "sim/options.h"

#include <cstdlib>
#include <functional>
#include <map>

#include "sim/state_file.h"

namespace vyo::sim {

namespace {

std::optional<std::set<uint32_t>> ParseList(std::string_view text) {
  std::set<uint32_t> out;
  while (true) {
    const size_t comma = text.find(',');
    const auto n = ParseNumber(text.substr(0, comma), 10, 0xFFFF);
    if (!n || *n == 0) return std::nullopt;
    out.insert(uint32_t(*n));
    if (comma == std::string_view::npos) return out;
    text.remove_prefix(comma + 1);
  }
}

std::optional<uint32_t> ParsePacket(std::string_view text) {
  const auto n = ParseNumber(text, 10, 0xFFFF);
  if (!n || *n == 0) return std::nullopt;
  return uint32_t(*n);
}

}  // namespace

std::string UsageText() {
  return R"(Usage: vyotool-sim [options]
Simulates the Vyo unit on a serial line. Without --port it creates a
pseudo-terminal and prints its path as the first line on standard output.

Port:
  --port PATH             serve PATH instead of a new pseudo-terminal
  --no-replug             identify only once at start; by default every open
                          of the pseudo-terminal counts as plugging the unit in
Unit (a --state file that exists takes precedence over these):
  --version A.B.C.D       firmware version (default 4.0.2.42)
  --mode update|operation mode at start (default update)
  --id W1,W2,W3           identifier words, hexadecimal
  --text1 TEXT, --text2 TEXT   identification texts, at most 12 characters
  --base ADDR             configuration base address, hexadecimal (default 0803F000)
  --record FILE           configuration record from a file of exactly 2032 bytes
  --record-blank          blank record, all bytes 0xFF (default)
  --record-defaults       valid record built from the default panel values
  --reidentify A.B.C.D    after a firmware upload, restart as this version
  --state FILE            load the unit from FILE if it exists; save it there
                          after every change and at exit
Faults (packet and block numbers are hit once each):
  --drop-ack LIST         do not acknowledge these packets (e.g. 1,5,44)
  --nack LIST             refuse these packets with a negative acknowledgement
  --corrupt-ack LIST      send the answer to these packets with a bad checksum
  --drop-read LIST        do not answer these read blocks (1..5)
  --silent-after N        answer nothing once packet N is accepted
  --vanish-after N        close the port and exit with code 3 once packet N
                          is acknowledged
  --split                 write every frame in two pieces, a few ms apart
  --merge                 write every answer twice in one write
  --garbage               write noise bytes before every frame
  --latency MS            delay every answer by MS milliseconds
  --chaos P               with probability P per answer, one random fault
  --seed N                seed for --chaos and --garbage (default 1)
Run:
  --exit-after-transfer   exit 0 once the first upload is stored and acknowledged
  --quiet                 print nothing but errors
  --verbose               log every frame to standard error
  --help                  this text
Exit codes: 0 done, 1 port failure, 2 bad options or input, 3 vanished.
)";
}

std::optional<SimOptions> ParseOptions(const std::vector<std::string>& args, std::string* error) {
  SimOptions o;
  int recordOptions = 0;
  std::string err;

  // Options taking a value: name -> handler returning false when the value is bad.
  using Handler = std::function<bool(std::string_view)>;
  const std::map<std::string, Handler> valued = {
      {"--port", [&](std::string_view v) { o.port = v; return !v.empty(); }},
      {"--version",
       [&](std::string_view v) {
         const auto ver = ParseVersion(v);
         if (ver) o.unit.version = *ver;
         return ver.has_value();
       }},
      {"--mode",
       [&](std::string_view v) {
         if (v != "update" && v != "operation") return false;
         o.unit.mode = v == "update" ? 1 : 0;
         return true;
       }},
      {"--id",
       [&](std::string_view v) {
         for (size_t i = 0; i < 3; ++i) {
           const size_t comma = v.find(',');
           if ((i < 2) == (comma == std::string_view::npos)) return false;
           const auto w = ParseNumber(v.substr(0, comma), 16, 0xFFFFFFFF);
           if (!w) return false;
           o.unit.id[i] = uint32_t(*w);
           v = i < 2 ? v.substr(comma + 1) : std::string_view();
         }
         return true;
       }},
      {"--text1", [&](std::string_view v) { o.unit.text1 = v; return v.size() <= 12; }},
      {"--text2", [&](std::string_view v) { o.unit.text2 = v; return v.size() <= 12; }},
      {"--base",
       [&](std::string_view v) {
         const auto a = ParseNumber(v, 16, 0xFFFFFFFF);
         if (a) o.unit.baseAddress = uint32_t(*a);
         return a.has_value();
       }},
      {"--record",
       [&](std::string_view v) {
         ++recordOptions;
         o.recordSource = RecordSource::File;
         o.recordFile = v;
         return !v.empty();
       }},
      {"--reidentify",
       [&](std::string_view v) {
         o.reidentify = ParseVersion(v);
         return o.reidentify.has_value();
       }},
      {"--state", [&](std::string_view v) { o.stateFile = v; return !v.empty(); }},
      {"--drop-ack",
       [&](std::string_view v) {
         const auto l = ParseList(v);
         if (l) o.faults.dropAck = *l;
         return l.has_value();
       }},
      {"--nack",
       [&](std::string_view v) {
         const auto l = ParseList(v);
         if (l) o.faults.nack = *l;
         return l.has_value();
       }},
      {"--corrupt-ack",
       [&](std::string_view v) {
         const auto l = ParseList(v);
         if (l) o.faults.corruptAck = *l;
         return l.has_value();
       }},
      {"--drop-read",
       [&](std::string_view v) {
         const auto l = ParseList(v);
         if (l) o.faults.dropRead = *l;
         return l.has_value();
       }},
      {"--silent-after",
       [&](std::string_view v) {
         o.faults.silentAfter = ParsePacket(v);
         return o.faults.silentAfter.has_value();
       }},
      {"--vanish-after",
       [&](std::string_view v) {
         o.faults.vanishAfter = ParsePacket(v);
         return o.faults.vanishAfter.has_value();
       }},
      {"--latency",
       [&](std::string_view v) {
         const auto ms = ParseNumber(v, 10, 60000);
         if (ms) o.faults.latencyMs = uint32_t(*ms);
         return ms.has_value();
       }},
      {"--chaos",
       [&](std::string_view v) {
         const std::string s(v);
         char* end = nullptr;
         const double p = std::strtod(s.c_str(), &end);
         if (s.empty() || end != s.c_str() + s.size() || !(p >= 0 && p <= 1)) return false;
         o.faults.chaos = p;
         return true;
       }},
      {"--seed",
       [&](std::string_view v) {
         const auto n = ParseNumber(v, 10, UINT64_MAX / 10);
         if (n) o.faults.seed = *n;
         return n.has_value();
       }},
  };
  const std::map<std::string, std::function<void()>> flags = {
      {"--no-replug", [&] { o.replug = false; }},
      {"--record-blank",
       [&] {
         ++recordOptions;
         o.recordSource = RecordSource::Blank;
       }},
      {"--record-defaults",
       [&] {
         ++recordOptions;
         o.recordSource = RecordSource::Defaults;
       }},
      {"--split", [&] { o.faults.split = true; }},
      {"--merge", [&] { o.faults.merge = true; }},
      {"--garbage", [&] { o.faults.garbage = true; }},
      {"--exit-after-transfer", [&] { o.exitAfterTransfer = true; }},
      {"--quiet", [&] { o.quiet = true; }},
      {"--verbose", [&] { o.verbose = true; }},
      {"--help", [&] { o.help = true; }},
  };

  auto fail = [&](const std::string& why) -> std::optional<SimOptions> {
    if (error) *error = why;
    return std::nullopt;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (const auto f = flags.find(name); f != flags.end()) {
      if (value) return fail(name + " takes no value");
      f->second();
      continue;
    }
    const auto h = valued.find(name);
    if (h == valued.end()) return fail("unknown option '" + name + "'");
    if (!value) {
      if (i + 1 >= args.size()) return fail(name + " needs a value");
      value = args[++i];
    }
    if (!h->second(*value)) return fail("bad value for " + name + ": '" + *value + "'");
  }
  if (recordOptions > 1)
    return fail("--record, --record-blank and --record-defaults exclude each other");
  if (o.quiet && o.verbose) return fail("--quiet and --verbose exclude each other");
  return o;
}

}  // namespace vyo::sim
