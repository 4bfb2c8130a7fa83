// vyotool-sim: the simulated unit on a pseudo-terminal (or a given port).
// Everything the unit decides is in SimUnit; this loop only reads, writes,
// waits for the next deadline and keeps the state file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <deque>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "config/presets.h"
#include "config/record.h"
#include "sim/options.h"
#include "sim/sim_unit.h"
#include "sim/state_file.h"

namespace {

using namespace vyo;
using namespace vyo::sim;

// The unit is taken as plugged in this long after a program opens the port,
// so that the identification is not lost to the buffer clearing that
// follows an open.
constexpr uint64_t kPlugDelayMs = 50;
// While the other side of the port is gone, look again this often.
constexpr int kHangupRetryMs = 100;
// An identification frame is not written while more than this many bytes
// wait unread: nobody is listening, and stale frames would pile up.
constexpr int kMaxUnreadForIdentification = 120;
// Before exiting on purpose, wait at most this long for the tool to read
// the last answer.
constexpr uint64_t kDrainLimitMs = 1000;

uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

struct Port {
  std::string path;
  int fd = -1;      // pseudo-terminal master, or the given port
  int slave = -1;   // our own descriptor on the pseudo-terminal's slave side
  int watch = -1;   // inotify descriptor watching opens of the slave
  int openers = 0;  // descriptors other programs hold on the slave
};

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
}

bool OpenPseudoTerminal(Port& p, bool replug, std::string* error) {
  p.fd = posix_openpt(O_RDWR | O_NOCTTY);
  char name[128];
  if (p.fd < 0 || grantpt(p.fd) != 0 || unlockpt(p.fd) != 0 ||
      ptsname_r(p.fd, name, sizeof name) != 0) {
    *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  p.path = name;
  fcntl(p.fd, F_SETFD, FD_CLOEXEC);
  fcntl(p.fd, F_SETFL, fcntl(p.fd, F_GETFL) | O_NONBLOCK);
  // Holding the slave open keeps the master from seeing a hang-up while no
  // tool has the port open, and lets us set the line raw once for all.
  p.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (p.slave < 0) {
    *error = p.path + ": " + std::strerror(errno);
    return false;
  }
  MakeRaw(p.slave);
  if (replug) {
    p.watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (p.watch >= 0 &&
        inotify_add_watch(p.watch, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
      close(p.watch);
      p.watch = -1;
    }
  }
  return true;
}

bool OpenGivenPort(Port& p, const std::string& path, std::string* error) {
  p.path = path;
  p.fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (p.fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  if (isatty(p.fd)) MakeRaw(p.fd);
  return true;
}

// Bytes written to the port that the other side has not read yet.
int Unread(const Port& p) {
  int n = 0;
  if (p.slave >= 0) {
    if (ioctl(p.slave, FIONREAD, &n) != 0) n = 0;
  } else if (ioctl(p.fd, TIOCOUTQ, &n) != 0) {
    n = 0;
  }
  return n;
}

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return !in.bad();
}

bool SaveStateFile(const std::string& path, const SimUnit& unit) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << StateToText(unit.state(), &unit.stats());
    out.flush();
    if (!out) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

std::string StatsText(const Stats& s) {
  std::ostringstream o;
  o << "packets received " << s.packetsReceived << ", acks sent " << s.acksSent
    << ", nacks sent " << s.nacksSent << ", transfers completed " << s.transfersCompleted
    << ", transfers failed " << s.transfersFailed << ", reads answered " << s.readsAnswered
    << ", identifications sent " << s.identificationsSent << ", faults injected "
    << s.faultsInjected;
  const char* sep = " (";
  for (const auto& [kind, n] : s.faultsByKind) {
    o << sep << kind << " " << n;
    sep = ", ";
  }
  if (!s.faultsByKind.empty()) o << ")";
  return o.str();
}

class Program {
 public:
  explicit Program(const SimOptions& o) : opt_(o) {}
  int Run();

 private:
  void Say(const std::string& line) const {
    if (!opt_.quiet) std::fprintf(stderr, "vyotool-sim: %s\n", line.c_str());
  }
  void Verbose(const std::string& line) const {
    const uint64_t t = NowMs() - start_;
    std::fprintf(stderr, "[%6llu.%03llu] %s\n", (unsigned long long)(t / 1000),
                 (unsigned long long)(t % 1000), line.c_str());
  }
  bool Prepare(UnitState& unit);
  void SaveIfChanged(bool force = false);
  void QueueDue(uint64_t now);
  // Writes what can be written now; returns an exit code when a written
  // answer ends the run, else -1.
  int Flush();
  void ReadPort();
  void HandleWatch(uint64_t now);
  void Drain();
  void Finish();

  const SimOptions& opt_;
  uint64_t start_ = NowMs();
  Port port_;
  std::unique_ptr<SimUnit> unit_;
  std::deque<Write> queue_;
  uint64_t hangupUntil_ = 0;
  std::string reported_;  // the last state summary printed
};

bool Program::Prepare(UnitState& unit) {
  switch (opt_.recordSource) {
    case RecordSource::Blank:
      unit.record.assign(kRecordSize, 0xFF);
      break;
    case RecordSource::Defaults:
      unit.record = BuildRecord(DefaultPanel());
      break;
    case RecordSource::File: {
      std::string data;
      if (!ReadFile(opt_.recordFile, data)) {
        std::fprintf(stderr, "vyotool-sim: %s: %s\n", opt_.recordFile.c_str(),
                     std::strerror(errno));
        return false;
      }
      if (data.size() != kRecordSize) {
        std::fprintf(stderr, "vyotool-sim: %s: %zu bytes, a record has exactly %zu\n",
                     opt_.recordFile.c_str(), data.size(), kRecordSize);
        return false;
      }
      unit.record.assign(data.begin(), data.end());
      break;
    }
  }
  if (!opt_.stateFile.empty() && access(opt_.stateFile.c_str(), F_OK) == 0) {
    std::string text, why;
    if (!ReadFile(opt_.stateFile, text) || !StateFromText(text, unit, &why)) {
      std::fprintf(stderr, "vyotool-sim: %s: %s\n", opt_.stateFile.c_str(),
                   why.empty() ? std::strerror(errno) : why.c_str());
      return false;
    }
  }
  return true;
}

void Program::SaveIfChanged(bool force) {
  if (!unit_->TakeStateChanged() && !force) return;
  const auto& st = unit_->stats();
  const auto& s = unit_->state();
  const std::string summary = "mode " + std::string(s.mode ? "update" : "operation") +
                              ", version " + VersionText(s.version) + ", transfers completed " +
                              std::to_string(st.transfersCompleted) + ", failed " +
                              std::to_string(st.transfersFailed);
  if (summary != reported_) {
    if (!reported_.empty()) Say(summary);
    reported_ = summary;
  }
  if (!opt_.stateFile.empty() && !SaveStateFile(opt_.stateFile, *unit_))
    std::fprintf(stderr, "vyotool-sim: cannot write %s: %s\n", opt_.stateFile.c_str(),
                 std::strerror(errno));
}

void Program::QueueDue(uint64_t now) {
  for (Write& w : unit_->TakeDue(now)) {
    if (w.identification && (!queue_.empty() || Unread(port_) > kMaxUnreadForIdentification)) {
      if (opt_.verbose) Verbose("identification not written: nobody is reading");
      continue;
    }
    queue_.push_back(std::move(w));
  }
}

int Program::Flush() {
  while (!queue_.empty()) {
    Write& w = queue_.front();
    if (!w.bytes.empty()) {
      if (NowMs() < hangupUntil_) return -1;
      const ssize_t n = write(port_.fd, w.bytes.data(), w.bytes.size());
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return -1;
        // The other side is gone: what was to be written is lost with it.
        if (opt_.verbose) Verbose(std::string("write: ") + std::strerror(errno));
        hangupUntil_ = NowMs() + kHangupRetryMs;
        const bool vanish = w.vanish;
        queue_.clear();
        return vanish ? kExitVanished : -1;
      }
      w.bytes.erase(w.bytes.begin(), w.bytes.begin() + n);
      if (!w.bytes.empty()) return -1;  // the rest when the port takes more
    }
    const Write done = std::move(w);
    queue_.pop_front();
    if (done.vanish) return kExitVanished;
    if (done.transferDone && opt_.exitAfterTransfer) return kExitOk;
  }
  return -1;
}

void Program::ReadPort() {
  uint8_t buf[4096];
  while (true) {
    const ssize_t n = read(port_.fd, buf, sizeof buf);
    if (n > 0) {
      unit_->Receive(buf, size_t(n), NowMs() - start_);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // EIO or end of file: no program holds the other side. Wait for it to
    // come back without spinning.
    hangupUntil_ = NowMs() + kHangupRetryMs;
    return;
  }
}

void Program::HandleWatch(uint64_t now) {
  alignas(inotify_event) char buf[4096];
  const ssize_t n = read(port_.watch, buf, sizeof buf);
  if (n <= 0) return;
  // Events one by one: a tool that opens the port, writes a frame and
  // closes it at once (the start command) shows up as an open and a close
  // in the same batch, and its frame must still reach the unit.
  for (char* p = buf; p < buf + n;) {
    const auto* e = reinterpret_cast<const inotify_event*>(p);
    p += sizeof(inotify_event) + e->len;
    if (e->mask & IN_OPEN) {
      if (port_.openers++ == 0) {
        Say("port opened: unit plugged in");
        unit_->PowerUp(now, kPlugDelayMs);
      }
    }
    if ((e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) && port_.openers > 0) {
      if (--port_.openers == 0) {
        ReadPort();  // what the tool wrote before closing
        Say("port closed: unit unplugged");
        unit_->PowerDown();
        std::erase_if(queue_, [](const Write& w) { return !w.vanish; });
      }
    }
  }
}

void Program::Drain() {
  // Give the tool the chance to read the last answer before the port goes.
  const uint64_t limit = NowMs() + kDrainLimitMs;
  do {
    usleep(20000);
  } while (Unread(port_) > 0 && NowMs() < limit);
}

void Program::Finish() {
  SaveIfChanged(true);
  if (!opt_.quiet) std::fprintf(stderr, "vyotool-sim: %s\n", StatsText(unit_->stats()).c_str());
  if (port_.watch >= 0) close(port_.watch);
  if (port_.slave >= 0) close(port_.slave);
  if (port_.fd >= 0) close(port_.fd);
}

int Program::Run() {
  UnitState unit = opt_.unit;
  if (!Prepare(unit)) return kExitUsage;

  // Stop cleanly on these even when started with them ignored (a
  // background job of a script ignores SIGINT).
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int sigfd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);

  std::string error;
  const bool ok = opt_.port.empty() ? OpenPseudoTerminal(port_, opt_.replug, &error)
                                    : OpenGivenPort(port_, opt_.port, &error);
  if (!ok) {
    std::fprintf(stderr, "vyotool-sim: %s\n", error.c_str());
    return kExitFailure;
  }
  std::printf("%s\n", port_.path.c_str());
  std::fflush(stdout);

  unit_ = std::make_unique<SimUnit>(unit, opt_.faults, opt_.reidentify);
  if (opt_.verbose) unit_->SetLogger([this](const std::string& l) { Verbose(l); });
  const auto& s = unit_->state();
  Say("serving " + port_.path + " as Vyo " + VersionText(s.version) + " in " +
      (s.mode ? "update" : "operation") + " mode" +
      (port_.watch >= 0 ? "; waiting for the port to be opened" : ""));
  if (port_.watch < 0) unit_->PowerUp(NowMs() - start_);
  SaveIfChanged(true);

  int exitCode = -1;
  bool signalled = false;
  while (exitCode < 0) {
    const uint64_t now = NowMs() - start_;
    unit_->Tick(now);
    QueueDue(now);
    exitCode = Flush();
    SaveIfChanged();
    if (exitCode >= 0) break;

    int timeout = -1;
    if (const auto next = unit_->NextDeadline())
      timeout = *next <= now ? 0 : int(std::min<uint64_t>(*next - now, 60000));
    const uint64_t wall = NowMs();
    const bool hungUp = wall < hangupUntil_;
    if (hungUp) {
      const int wait = int(hangupUntil_ - wall);
      timeout = timeout < 0 ? wait : std::min(timeout, wait);
    }
    pollfd fds[3] = {{sigfd, POLLIN, 0}, {hungUp ? -1 : port_.fd, POLLIN, 0}, {port_.watch, POLLIN, 0}};
    if (!queue_.empty()) fds[1].events |= POLLOUT;
    if (poll(fds, 3, timeout) < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "vyotool-sim: poll: %s\n", std::strerror(errno));
      exitCode = kExitFailure;
      break;
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo si{};
      if (read(sigfd, &si, sizeof si) > 0) Say(std::string("stopping on ") + strsignal(int(si.ssi_signo)));
      exitCode = kExitOk;
      signalled = true;
      break;
    }
    if (fds[2].revents & POLLIN) HandleWatch(NowMs() - start_);
    if (fds[1].revents & POLLIN) {
      ReadPort();
    } else if (fds[1].revents & (POLLHUP | POLLERR)) {
      hangupUntil_ = NowMs() + kHangupRetryMs;
    }
  }
  if (exitCode == kExitVanished) {
    Drain();
    Say("vanishing as asked");
  } else if (exitCode == kExitOk && !signalled) {
    Drain();  // --exit-after-transfer: the closing acknowledgement is out
  }
  Finish();
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = ParseOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "vyotool-sim: %s\n\n%s", error.c_str(), UsageText().c_str());
    return kExitUsage;
  }
  if (options->help) {
    std::printf("%s", UsageText().c_str());
    return kExitOk;
  }
  return Program(*options).Run();
}
