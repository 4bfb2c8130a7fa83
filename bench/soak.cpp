// vyotool-soak: many firmware and configuration uploads and reads, each by a
// fresh vyotool-cli against a fresh vyotool-sim that injects faults, and a
// check of every outcome against what the unit holds afterwards.
//
// A run ends in one of these ways:
//   success          exit 0, the operation's closing line in the log, and the
//                    data at the unit (or printed by read-config) byte for
//                    byte what was meant;
//   reported failure non-zero exit with the message box on stderr, no line of
//                    success, and the unit holding its old data or the new
//                    data whole, nothing in between;
//   wrong data       anything else that ends with a wrong record, image or
//                    printout, or a corrupt upload the unit had to refuse;
//   crash or hang    the tool ended on a signal or outlived its time-out.
// Each run also has an expectation: faults the protocol recovers from
// (dropped, negative, corrupted, split, merged, late answers, noise) must end
// in success; a unit that falls silent or vanishes mid-upload must end in the
// matching reported failure; random chaos may end either way.
//
// Usage: vyotool-soak [--runs N] [--seed S] [--jobs J] [--timeout SECONDS]
//                     [--verbose] [--keep] [--cli PATH] [--sim PATH]
// --jobs runs so many at once (default 3): a run mostly waits on the
// protocol's timers, so a few side by side cost little.
// Exit code 0 when no run gave wrong data, crashed, hung or missed its
// expectation; 1 otherwise; 2 for bad options.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/panel_names.h"
#include "config/presets.h"
#include "config/record.h"
#include "sim/options.h"
#include "sim/state_file.h"
#include "transfer/firmware.h"

namespace vyo::soak {
// Paths of the programs under test; --cli and --sim replace them.
inline std::string gCli = VYOTOOL_CLI_PATH;
inline std::string gSim = VYOTOOL_SIM_PATH;
}  // namespace vyo::soak

// The end-to-end helpers start the simulated unit from this path.
#define VYOTOOL_SIM ::vyo::soak::gSim
#include "process.h"

namespace vyo::soak {
namespace {

using e2e::ReadFile;
using e2e::StateValue;

constexpr uint32_t kFirmwarePackets = 1870;  // 1,869 data packets and the closing one
constexpr uint32_t kConfigPackets = 44;      // 43 data packets and the closing one
constexpr uint32_t kReadBlocks = 5;

enum class Op { Flash, WriteConfig, ReadConfig, ConnectBlank };
enum class Expect { Success, Either, NoAnswer, Vanished };

const char* OpName(Op op) {
  switch (op) {
    case Op::Flash: return "flash";
    case Op::WriteConfig: return "write-config";
    case Op::ReadConfig: return "read-config";
    case Op::ConnectBlank: return "connect";
  }
  return "?";
}

const char* ExpectName(Expect e) {
  switch (e) {
    case Expect::Success: return "must succeed";
    case Expect::Either: return "may fail";
    case Expect::NoAnswer: return "must fail, unit silent";
    case Expect::Vanished: return "must fail, unit gone";
  }
  return "?";
}

// Bounds of the panel's number fields, for drawing valid configurations;
// ValidatePanel has the last word on every one drawn.
struct NumberBounds {
  const char* name;
  int min, max;
};
constexpr NumberBounds kNumbers[] = {
    {"ED_ACP", 0, 255},    {"ED_ACN", 0, 255},    {"ED_VMX", 0, 150},  {"ED_TVMX", 0, 60},
    {"ED_VCH", 0, 150},    {"ED_TVCH", 0, 60},    {"ED_RPX", 1000, 65535}, {"ED_TRPX", 0, 60},
    {"ED_TOSC", 1, 255},   {"ED_XOSC", 0, 60},    {"ED_VBGL", 1, 255}, {"ED_RBGL", 300, 1000},
    {"ED_TBGL", 0, 30},
};
constexpr int kPing[] = {5, 10, 15, 30, 45, 60, 90, 120, 180, 300};
constexpr int kBaud[] = {9600, 19200, 57600, 115200};

struct Plan {
  Op op = Op::Flash;
  Expect expect = Expect::Success;
  std::vector<std::string> simArgs;  // fault options and the unit's set-up
  std::vector<std::string> cliArgs;  // after --port PATH
  Bytes initialRecord;               // what the unit holds before
  Bytes expectedRecord;              // what it should hold after a write
  PanelValues expectedPanel;         // what read-config should print
};

class Rng {
 public:
  explicit Rng(uint64_t seed) : engine_(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(engine_); }
  double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(engine_); }
  bool Chance(double p) { return Real(0, 1) < p; }
  uint64_t Seed() { return engine_() % 1000000000; }

 private:
  std::mt19937_64 engine_;
};

// Values --set accepts for every control that goes into the record: the
// lists, the number fields and the buzzer and event boxes.
std::vector<std::pair<std::string, std::string>> RandomSettings(Rng& rng) {
  std::vector<std::pair<std::string, std::string>> out;
  out.emplace_back("CB_PING", std::to_string(kPing[rng.Int(0, 9)]));
  out.emplace_back("CB_A232", std::to_string(kBaud[rng.Int(0, 3)]));
  out.emplace_back("CB_B232", std::to_string(kBaud[rng.Int(0, 3)]));
  for (const NumberBounds& n : kNumbers) out.emplace_back(n.name, std::to_string(rng.Int(n.min, n.max)));
  for (const std::string& name : PanelValueNames())
    if ((name.rfind("CB_BZ_", 0) == 0 || name.rfind("CB_EV_", 0) == 0) && name.find("EBK") == std::string::npos)
      out.emplace_back(name, rng.Chance(0.5) ? "true" : "false");
  return out;
}

PanelValues Apply(PanelValues base, const std::vector<std::pair<std::string, std::string>>& settings) {
  for (const auto& [name, value] : settings) {
    std::string error;
    if (!SetPanelValue(base, name, value, &error)) {
      std::fprintf(stderr, "vyotool-soak: internal error: %s=%s: %s\n", name.c_str(), value.c_str(), error.c_str());
      std::exit(2);
    }
  }
  if (const auto err = ValidatePanel(base)) {
    std::fprintf(stderr, "vyotool-soak: internal error: drawn panel refused: %s\n", err->message.c_str());
    std::exit(2);
  }
  return base;
}

std::string List(Rng& rng, uint32_t count, int most) {
  // Now and then the first, the last data or the closing packet, where
  // off-by-one faults hide.
  std::string out;
  const int n = rng.Int(1, most);
  for (int i = 0; i < n; ++i) {
    uint32_t k;
    switch (rng.Int(0, 5)) {
      case 0: k = 1; break;
      case 1: k = count - 1; break;
      case 2: k = count; break;
      default: k = uint32_t(rng.Int(1, int(count))); break;
    }
    out += (out.empty() ? "" : ",") + std::to_string(k);
  }
  return out;
}

// Faults the protocol must recover from, for an operation that uploads
// `packets` packets (0: none) and reads the record or not.
void RecoverableFaults(Rng& rng, Plan& p, uint32_t packets, bool reads) {
  std::vector<int> kinds;
  if (packets) kinds.insert(kinds.end(), {0, 1, 2});  // drop-ack, nack, corrupt-ack
  if (reads) kinds.push_back(3);                     // drop-read
  kinds.insert(kinds.end(), {4, 5, 6, 7});           // split, merge, garbage, latency
  const int n = rng.Int(1, 3);
  std::map<int, bool> chosen;
  for (int i = 0; i < n; ++i) chosen[kinds[size_t(rng.Int(0, int(kinds.size()) - 1))]] = true;
  for (const auto& [kind, _] : chosen) {
    switch (kind) {
      case 0: p.simArgs.insert(p.simArgs.end(), {"--drop-ack", List(rng, packets, 2)}); break;
      case 1: p.simArgs.insert(p.simArgs.end(), {"--nack", List(rng, packets, 2)}); break;
      case 2: p.simArgs.insert(p.simArgs.end(), {"--corrupt-ack", List(rng, packets, 2)}); break;
      case 3: p.simArgs.insert(p.simArgs.end(), {"--drop-read", List(rng, kReadBlocks, 2)}); break;
      case 4: p.simArgs.push_back("--split"); break;
      case 5: p.simArgs.push_back("--merge"); break;
      case 6: p.simArgs.push_back("--garbage"); break;
      case 7: {
        // Every answer late: a few ms on the 1,870 firmware packets, up to
        // a quarter second (beyond the read pacing of 100 ms) otherwise.
        const int ms = packets == kFirmwarePackets ? rng.Int(1, 3) : rng.Int(20, 250);
        p.simArgs.insert(p.simArgs.end(), {"--latency", std::to_string(ms)});
        break;
      }
    }
  }
}

Plan Draw(Rng& rng) {
  Plan p;
  const int o = rng.Int(0, 99);
  p.op = o < 25 ? Op::Flash : o < 55 ? Op::WriteConfig : o < 80 ? Op::ReadConfig : Op::ConnectBlank;
  const bool uploads = p.op != Op::ReadConfig;
  const bool reads = p.op != Op::Flash;
  const uint32_t packets = p.op == Op::Flash ? kFirmwarePackets : uploads ? kConfigPackets : 0;

  // The unit: an old firmware for the upload, a valid record of random
  // values, or a blank one for the connect road.
  PanelValues held = Apply(DefaultPanel(), RandomSettings(rng));
  if (p.op == Op::ConnectBlank) {
    p.initialRecord.assign(kRecordSize, 0xFF);
    p.expectedRecord = BuildRecord(DefaultPanel());
  } else {
    p.initialRecord = BuildRecord(held);
    p.expectedRecord = p.initialRecord;
  }
  p.simArgs = {"--version", p.op == Op::Flash ? "4.0.1.99" : "4.0.2.42"};

  switch (p.op) {
    case Op::Flash:
      p.cliArgs = {"flash"};
      break;
    case Op::ReadConfig: {
      p.cliArgs = {"read-config"};
      // Engine braking has no place in the record: the panel's defaults stay.
      const PanelValues d = DefaultPanel();
      p.expectedPanel = held;
      p.expectedPanel.ED_VEBK = d.ED_VEBK;
      p.expectedPanel.ED_TEBK = d.ED_TEBK;
      p.expectedPanel.ED_REBK = d.ED_REBK;
      p.expectedPanel.CB_BZ_EBK_IN = d.CB_BZ_EBK_IN;
      p.expectedPanel.CB_BZ_EBK_OUT = d.CB_BZ_EBK_OUT;
      p.expectedPanel.CB_EV_EBK_IN = d.CB_EV_EBK_IN;
      p.expectedPanel.CB_EV_EBK_OUT = d.CB_EV_EBK_OUT;
      break;
    }
    case Op::WriteConfig: {
      const auto settings = RandomSettings(rng);
      p.expectedRecord = BuildRecord(Apply(DefaultPanel(), settings));
      p.cliArgs = {"write-config", "--defaults"};
      for (const auto& [name, value] : settings) p.cliArgs.insert(p.cliArgs.end(), {"--set", name + "=" + value});
      break;
    }
    case Op::ConnectBlank:
      p.cliArgs = {"connect"};
      break;
  }

  // The faults. A unit falling silent or vanishing makes sense only during
  // an upload; heavy chaos only where a run stays short.
  const int f = rng.Int(0, 99);
  if (f < 50 || (!uploads && f < 70)) {
    p.expect = Expect::Success;
    RecoverableFaults(rng, p, packets, reads);
  } else if (f < 75 || !uploads) {
    p.expect = Expect::Either;
    const bool heavy = p.op != Op::Flash && rng.Chance(0.4);
    const double chance = p.op == Op::Flash ? rng.Real(0.002, 0.01) : heavy ? rng.Real(0.25, 0.5) : rng.Real(0.02, 0.15);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", chance);
    p.simArgs.insert(p.simArgs.end(), {"--chaos", text, "--seed", std::to_string(rng.Seed())});
  } else {
    const bool vanish = f >= 88;
    p.expect = vanish ? Expect::Vanished : Expect::NoAnswer;
    const int n = rng.Int(1, int(packets) - 1);
    p.simArgs.insert(p.simArgs.end(), {vanish ? "--vanish-after" : "--silent-after", std::to_string(n)});
    // Transport faults on top change nothing about the outcome.
    if (rng.Chance(0.3)) p.simArgs.push_back(rng.Chance(0.5) ? "--split" : "--garbage");
  }
  return p;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Hex(const Bytes& b) { return sim::ToHex(b.data(), b.size()); }

std::string Join(const std::vector<std::string>& v) {
  std::string out;
  for (const std::string& s : v) {
    const bool quote = s.empty() || s.find_first_of(" \"'$") != std::string::npos;
    out += (out.empty() ? "" : " ") + (quote ? "'" + s + "'" : s);
  }
  return out;
}

// The printout read-config gives for `v`, one NAME=VALUE line each.
std::string Printout(const PanelValues& v) {
  std::string out;
  for (const std::string& name : PanelValueNames()) out += name + "=" + GetPanelValue(v, name).value_or("") + "\n";
  return out;
}

enum class Verdict { Success, ReportedFailure, WrongData, CrashOrHang };

// What one run gave, handed from the child that ran it to the parent.
struct RunRecord {
  Verdict verdict = Verdict::CrashOrHang;
  Expect expect = Expect::Success;
  Op op = Op::Flash;
  bool missed = false;  // the outcome was not the one expected
  double seconds = 0;
  uint64_t faults = 0;
  std::map<std::string, uint64_t> faultsByKind;
  std::string report;  // lines to print
};

std::string Serialize(const RunRecord& r) {
  std::ostringstream o;
  o << int(r.verdict) << " " << int(r.expect) << " " << int(r.op) << " " << r.missed << " " << r.seconds << " "
    << r.faults << "\n";
  for (const auto& [kind, n] : r.faultsByKind) o << kind << "=" << n << " ";
  o << "\n" << r.report;
  return o.str();
}

bool Deserialize(const std::string& text, RunRecord& r) {
  std::istringstream in(text);
  int v, e, op;
  std::string kinds;
  if (!(in >> v >> e >> op >> r.missed >> r.seconds >> r.faults)) return false;
  r.verdict = Verdict(v);
  r.expect = Expect(e);
  r.op = Op(op);
  in.ignore(1);
  std::getline(in, kinds);
  std::istringstream ks(kinds);
  std::string word;
  while (ks >> word) {
    const size_t eq = word.find('=');
    if (eq != std::string::npos) r.faultsByKind[word.substr(0, eq)] = std::strtoull(word.c_str() + eq + 1, nullptr, 10);
  }
  r.report.assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

uint64_t StatsNumber(const std::string& state, const std::string& key) {
  const std::string stats = " " + StateValue(state, "stats");
  const size_t at = stats.find(" " + key + "=");
  return at == std::string::npos ? 0 : std::strtoull(stats.c_str() + at + key.size() + 2, nullptr, 10);
}

struct Options {
  int runs = 300;
  uint64_t seed = 1;
  int timeoutS = 120;
  int jobs = 3;
  bool verbose = false, keep = false;
};

std::string Format(const char* fmt, auto... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

// Runs the unit and the tool once in `dir` and judges the outcome.
RunRecord Execute(int index, const Plan& plan, const Options& opt, const std::string& dir) {
  RunRecord rec;
  rec.expect = plan.expect;
  rec.op = plan.op;
  const std::string state = dir + "/unit.state", record = dir + "/record.bin";
  std::ofstream(record, std::ios::binary).write(reinterpret_cast<const char*>(plan.initialRecord.data()),
                                                std::streamsize(plan.initialRecord.size()));
  std::vector<std::string> simArgs = {"--quiet", "--state", state, "--record", record};
  simArgs.insert(simArgs.end(), plan.simArgs.begin(), plan.simArgs.end());

  e2e::Sim sim(simArgs);
  std::vector<std::string> cli = {gCli, "--port", sim.path()};
  cli.insert(cli.end(), plan.cliArgs.begin(), plan.cliArgs.end());
  const e2e::Result r = sim.path().empty() ? e2e::Result{} : e2e::Run(cli, opt.timeoutS);
  const int simExit = sim.Stop();
  const std::string st = ReadFile(state);
  rec.seconds = r.seconds;

  // The unit's own count of what it injected.
  std::istringstream kinds(StateValue(st, "faults"));
  std::string word;
  while (kinds >> word)
    if (const size_t eq = word.find('='); eq != std::string::npos)
      rec.faultsByKind[word.substr(0, eq)] += std::strtoull(word.c_str() + eq + 1, nullptr, 10);
  rec.faults = StatsNumber(st, "faults");

  std::vector<std::string> problems;
  Verdict& v = rec.verdict;
  const bool hung = r.exitCode == 128 + SIGKILL && r.seconds >= opt.timeoutS;
  const bool signalled = r.exitCode >= 128 || r.exitCode < 0;
  const bool success = r.exitCode == 0;
  const std::string successLine = plan.op != Op::ReadConfig ? "Atualização concluída com sucesso!"
                                                            : "Leitura da configuração interna concluída!";

  if (sim.path().empty() || st.empty()) {
    problems.push_back("the simulated unit did not start or left no state");
    v = Verdict::CrashOrHang;
  } else if (hung || signalled) {
    problems.push_back(hung ? "no end within the time-out" : "ended by signal " + std::to_string(r.exitCode - 128));
    v = Verdict::CrashOrHang;
  } else {
    // What the unit holds, whatever the outcome.
    if (StatsNumber(st, "failed") > 0) problems.push_back("the unit received a corrupt upload and refused it");
    if (plan.op == Op::Flash) {
      const FirmwareImage& img = BuiltinFirmware();
      const std::string fw = StateValue(st, "firmware"), last = StateValue(st, "firmware-last");
      const bool stored = fw == Hex(img.data) && last == std::to_string(img.data.size()) + " ok";
      if (!fw.empty() && !stored) problems.push_back("the unit holds an image that is not the built-in one");
      if (success && !stored) problems.push_back("success reported but the image is not at the unit");
    } else {
      const std::string held = StateValue(st, "record");
      const bool old = held == Hex(plan.initialRecord), fresh = held == Hex(plan.expectedRecord);
      if (!old && !fresh) problems.push_back("the unit holds a record that is neither the old nor the new one");
      if (success && !fresh) problems.push_back("success reported but the record at the unit is not the one meant");
      if (plan.op == Op::ReadConfig && StatsNumber(st, "packets") != 0)
        problems.push_back("read-config sent upload packets");
      if (plan.op == Op::ReadConfig && success && !Has(r.out, Printout(plan.expectedPanel)))
        problems.push_back("read-config printed values other than the unit's");
    }
    if (success && !Has(r.out, successLine)) problems.push_back("exit 0 without \"" + successLine + "\"");
    if (!success) {
      if (!Has(r.err, "ERRO #0x") && !Has(r.err, "Erro: ")) problems.push_back("failure without its message box");
      if (Has(r.out, "sucesso")) problems.push_back("failure with a line of success");
    }
    v = !problems.empty() ? Verdict::WrongData : success ? Verdict::Success : Verdict::ReportedFailure;
  }

  // The expectation.
  std::string missed;
  if (v == Verdict::Success || v == Verdict::ReportedFailure) {
    switch (plan.expect) {
      case Expect::Success:
        if (!success) missed = "recoverable faults ended in failure";
        break;
      case Expect::Either:
        break;
      case Expect::NoAnswer:
        if (r.exitCode != 1 || !Has(r.err, "ERRO #0x02: A operação não foi concluida!"))
          missed = "a silent unit must end in ERRO #0x02 and exit 1";
        break;
      case Expect::Vanished:
        if (r.exitCode != 3 || !Has(r.err, "ERRO #0x01: Não há conexão ativa!"))
          missed = "a vanished unit must end in ERRO #0x01 and exit 3";
        break;
    }
    if (plan.expect == Expect::Vanished ? simExit != sim::kExitVanished : simExit != 0)
      missed += (missed.empty() ? "" : "; ") + std::string("simulated unit exit ") + std::to_string(simExit);
  }
  rec.missed = !missed.empty();

  const bool bad = v == Verdict::WrongData || v == Verdict::CrashOrHang || rec.missed;
  if (opt.verbose || bad) {
    const char* outcome = v == Verdict::Success           ? "success"
                          : v == Verdict::ReportedFailure ? "reported failure"
                          : v == Verdict::WrongData       ? "WRONG DATA"
                                                          : "CRASH OR HANG";
    rec.report += Format("run %d: %s, %s [%s]: exit %d in %.1f s, %llu faults: %s%s%s\n", index, OpName(plan.op),
                         ExpectName(plan.expect), Join(plan.simArgs).c_str(), r.exitCode, r.seconds,
                         (unsigned long long)rec.faults, outcome, missed.empty() ? "" : " - MISSED: ",
                         missed.c_str());
    for (const std::string& p : problems) rec.report += "  " + p + "\n";
  }
  if (bad) {
    rec.report += "  unit: " + gSim + " " + Join(simArgs) + "\n  tool: " + Join(cli) + "\n";
    rec.report += "  --- stdout\n" + r.out + "  --- stderr\n" + r.err + "  ---\n";
  }
  return rec;
}

struct Tally {
  int runs = 0, successes = 0, failures = 0, wrong = 0, crashes = 0, missed = 0;
  int failuresExpected = 0, failuresChaos = 0;
  uint64_t faults = 0;
  std::map<std::string, uint64_t> faultsByKind;
  std::map<std::string, int> byOp, byExpect;

  void Add(const RunRecord& r) {
    ++runs;
    ++byOp[OpName(r.op)];
    ++byExpect[ExpectName(r.expect)];
    faults += r.faults;
    for (const auto& [kind, n] : r.faultsByKind) faultsByKind[kind] += n;
    switch (r.verdict) {
      case Verdict::Success: ++successes; break;
      case Verdict::ReportedFailure:
        ++failures;
        ++(r.expect == Expect::Either ? failuresChaos : failuresExpected);
        break;
      case Verdict::WrongData: ++wrong; break;
      case Verdict::CrashOrHang: ++crashes; break;
    }
    if (r.missed) ++missed;
  }
};

void RemoveDir(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

// Runs the plans, `jobs` at a time, each in a child process of its own so
// that one run's processes and descriptors cannot touch another's.
void RunAll(const std::vector<Plan>& plans, const Options& opt, Tally& tally) {
  std::map<pid_t, std::pair<int, std::string>> running;  // pid -> run number, directory
  size_t next = 0;
  while (next < plans.size() || !running.empty()) {
    while (next < plans.size() && int(running.size()) < opt.jobs) {
      char name[] = "/tmp/vyo-soak-XXXXXX";
      if (!mkdtemp(name)) {
        std::perror("vyotool-soak: mkdtemp");
        std::exit(2);
      }
      const std::string dir = name;
      const int index = int(next) + 1;
      std::fflush(stdout);
      const pid_t pid = fork();
      if (pid == 0) {
        const RunRecord rec = Execute(index, plans[next], opt, dir);
        std::ofstream(dir + "/result") << Serialize(rec);
        _exit(0);
      }
      if (pid < 0) {
        std::perror("vyotool-soak: fork");
        std::exit(2);
      }
      running[pid] = {index, dir};
      ++next;
    }
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    const auto it = running.find(pid);
    if (it == running.end()) continue;
    const auto [index, dir] = it->second;
    running.erase(it);
    RunRecord rec;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !Deserialize(ReadFile(dir + "/result"), rec)) {
      rec.report = Format("run %d: the soak's own child failed (status %d)\n", index, status);
      rec.missed = true;
    }
    tally.Add(rec);
    const bool bad = rec.verdict == Verdict::WrongData || rec.verdict == Verdict::CrashOrHang || rec.missed;
    std::fputs(rec.report.c_str(), stdout);
    if (opt.keep || bad)
      std::printf("  files of run %d kept in %s\n", index, dir.c_str());
    else
      RemoveDir(dir);
    if (!opt.verbose && tally.runs % 25 == 0)
      std::printf("%d of %zu runs done, %d with a problem\n", tally.runs, plans.size(),
                  tally.wrong + tally.crashes + tally.missed);
    std::fflush(stdout);
  }
}

int Usage(const char* why) {
  std::fprintf(stderr,
               "vyotool-soak: %s\nUsage: vyotool-soak [--runs N] [--seed S] [--jobs J] [--timeout SECONDS] "
               "[--verbose] [--keep] [--cli PATH] [--sim PATH]\n",
               why);
  return 2;
}

int Main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--verbose") {
      opt.verbose = true;
    } else if (a == "--keep") {
      opt.keep = true;
    } else if (a == "--runs" || a == "--seed" || a == "--timeout" || a == "--jobs" || a == "--cli" || a == "--sim") {
      const char* v = value();
      if (!v) return Usage((a + " needs a value").c_str());
      if (a == "--cli") {
        gCli = v;
        continue;
      }
      if (a == "--sim") {
        gSim = v;
        continue;
      }
      char* end = nullptr;
      const unsigned long long n = std::strtoull(v, &end, 10);
      if (*v == '\0' || *end != '\0' || (a != "--seed" && (n == 0 || n > 100000)))
        return Usage(("bad value for " + a).c_str());
      if (a == "--runs") opt.runs = int(n);
      else if (a == "--seed") opt.seed = n;
      else if (a == "--jobs") opt.jobs = int(std::min<unsigned long long>(n, 16));
      else opt.timeoutS = int(n);
    } else {
      return Usage(("unknown option " + a).c_str());
    }
  }
  if (access(gCli.c_str(), X_OK) != 0 || access(gSim.c_str(), X_OK) != 0)
    return Usage(("cannot run " + gCli + " or " + gSim).c_str());
  signal(SIGPIPE, SIG_IGN);

  std::printf("vyotool-soak: %d runs, seed %llu, %d at a time, time-out %d s per run\n", opt.runs,
              (unsigned long long)opt.seed, opt.jobs, opt.timeoutS);
  const auto start = std::chrono::steady_clock::now();
  // Drawn up front, so a seed gives the same runs whatever the number of jobs.
  Rng rng(opt.seed);
  std::vector<Plan> plans;
  for (int i = 0; i < opt.runs; ++i) plans.push_back(Draw(rng));
  Tally t;
  RunAll(plans, opt, t);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("\nruns %d (", t.runs);
  const char* sep = "";
  for (const auto& [op, n] : t.byOp) {
    std::printf("%s%s %d", sep, op.c_str(), n);
    sep = ", ";
  }
  std::printf(") in %.0f s\n", wall);
  std::printf("expected:");
  sep = " ";
  for (const auto& [expect, n] : t.byExpect) {
    std::printf("%s%s: %d", sep, expect.c_str(), n);
    sep = "; ";
  }
  std::printf("\n");
  std::printf("faults injected %llu (", (unsigned long long)t.faults);
  sep = "";
  for (const auto& [kind, n] : t.faultsByKind) {
    std::printf("%s%s %llu", sep, kind.c_str(), (unsigned long long)n);
    sep = ", ";
  }
  std::printf(")\n");
  std::printf("successes %d\n", t.successes);
  std::printf("reported failures %d (%d where the unit fell silent or vanished, %d under chaos)\n", t.failures,
              t.failuresExpected, t.failuresChaos);
  std::printf("wrong data %d\n", t.wrong);
  std::printf("crashes/hangs %d\n", t.crashes);
  std::printf("outcomes other than expected %d\n", t.missed);
  const bool ok = t.wrong == 0 && t.crashes == 0 && t.missed == 0;
  std::printf("%s\n", ok ? "soak passed" : "SOAK FAILED");
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace vyo::soak

int main(int argc, char** argv) { return vyo::soak::Main(argc, argv); }
