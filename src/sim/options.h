// Command line of vyotool-sim.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/sim_unit.h"

namespace vyo::sim {

enum class RecordSource { Blank, Defaults, File };

struct SimOptions {
  std::string port;  // empty: a new pseudo-terminal
  UnitState unit;    // the unit described by the options (record filled in later)
  RecordSource recordSource = RecordSource::Blank;
  std::string recordFile;
  std::optional<Version> reidentify;
  std::string stateFile;
  Faults faults;
  bool exitAfterTransfer = false;
  bool quiet = false;
  bool verbose = false;
  bool replug = true;
  bool help = false;
};

// Parses the arguments after the program name. On a bad option returns
// nullopt with a one-line message in `error`.
std::optional<SimOptions> ParseOptions(const std::vector<std::string>& args, std::string* error);

std::string UsageText();

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;   // the port could not be opened or served
constexpr int kExitUsage = 2;     // bad option or unreadable input file
constexpr int kExitVanished = 3;  // --vanish-after took effect

}  // namespace vyo::sim
