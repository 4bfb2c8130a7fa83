// vyotool-bench: is the tool ever the bottleneck of a transfer?
//
// 1. A plain ping-pong over a pseudo-terminal pair in this process: 62 bytes
//    out, 10 back, 1,870 times, the peer a thread that answers as soon as a
//    whole packet is in. This is the floor any tool on this machine has.
//    The same with the hand-off of the tool's design (a thread waits for
//    the port and wakes the main thread), to show what that hand-off costs.
// 2. The firmware upload as the tool does it: TCustomComPort, the Qt host
//    and the Controller, against vyotool-sim on a pseudo-terminal with no
//    added latency; 89,676 bytes in 1,870 acknowledged packets.
// 3. The same upload against a thread of this process that acknowledges
//    each packet at once: the tool's share without the simulated unit's.
// 4. The configuration read (5 blocks) and write (44 packets) the same way.
// 5. The CPU cost of building a packet frame and of accepting an
//    acknowledgement, over a million of each.
//
// Usage: vyotool-bench [--reps N] [--sim PATH]
// Prints best and median of N repetitions (default 5; 20 for the
// configuration) and the ratio of upload to ping-pong.

#include <pty.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <termios.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "app/qt_host.h"
#include "protocol/identification.h"
#include "protocol/receiver.h"
#include "transfer/firmware.h"

namespace vyo::bench {
inline std::string gSim = VYOTOOL_SIM_PATH;
}  // namespace vyo::bench

#define VYOTOOL_SIM ::vyo::bench::gSim
#include "process.h"

namespace vyo::bench {
namespace {

using Clock = std::chrono::steady_clock;
using e2e::Sim;

constexpr int kBaud = 3686400;
constexpr int kPackets = 1870;
constexpr size_t kPacketFrame = 62;  // 5 header + 6 upload header + 48 data + 3 checksum
constexpr size_t kAckFrame = 10;     // 5 header + 2 packet number + 3 checksum

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Processor time of this process so far, all threads, user and system.
double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Figures {
  std::vector<double> runs;
  void Add(double s) { runs.push_back(s); }
  double Best() const { return *std::min_element(runs.begin(), runs.end()); }
  double Median() const {
    std::vector<double> v = runs;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
  double Worst() const { return *std::max_element(runs.begin(), runs.end()); }
};

void MakeRaw(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

// Reads exactly n bytes, waiting as needed.
bool ReadAll(int fd, uint8_t* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = read(fd, buf + got, n - got);
    if (r > 0) {
      got += size_t(r);
    } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 1000);
    } else {
      return false;
    }
  }
  return true;
}

bool WriteAll(int fd, const uint8_t* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = write(fd, buf + done, n - done);
    if (w > 0) {
      done += size_t(w);
    } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 1000);
    } else {
      return false;
    }
  }
  return true;
}

// 1,870 exchanges of a 62-byte packet and a 10-byte answer; the answering
// side is a thread on the master, the asking side this thread on the slave.
double PingPong(double* cpu) {
  int master, slave;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    std::perror("openpty");
    std::exit(1);
  }
  MakeRaw(slave);
  std::thread peer([master] {
    uint8_t in[kPacketFrame], out[kAckFrame] = {};
    for (int i = 0; i < kPackets; ++i)
      if (!ReadAll(master, in, sizeof in) || !WriteAll(master, out, sizeof out)) return;
  });
  uint8_t out[kPacketFrame] = {}, in[kAckFrame];
  const double cpu0 = CpuSeconds();
  const auto start = Clock::now();
  for (int i = 0; i < kPackets; ++i)
    if (!WriteAll(slave, out, sizeof out) || !ReadAll(slave, in, sizeof in)) break;
  const double s = Seconds(Clock::now() - start);
  peer.join();
  *cpu = CpuSeconds() - cpu0;
  close(slave);
  close(master);
  return s;
}

// The same exchange with the hand-off the tool's design has: a thread that
// only waits for the port and wakes the main thread, which reads and
// answers. The difference to PingPong is the price of that hand-off.
double PingPongHandOff() {
  int master, slave;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    std::perror("openpty");
    std::exit(1);
  }
  MakeRaw(slave);
  fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
  const int ready = eventfd(0, EFD_CLOEXEC), rearm = eventfd(0, EFD_CLOEXEC);
  std::atomic<bool> stop{false};
  std::thread peer([master] {
    uint8_t in[kPacketFrame], out[kAckFrame] = {};
    for (int i = 0; i < kPackets; ++i)
      if (!ReadAll(master, in, sizeof in) || !WriteAll(master, out, sizeof out)) return;
  });
  std::thread watcher([&] {
    uint64_t one = 1;
    while (!stop) {
      pollfd p{slave, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      [[maybe_unused]] ssize_t w = write(ready, &one, sizeof one);
      [[maybe_unused]] ssize_t r = read(rearm, &one, sizeof one);  // wait until the data was taken
    }
  });
  uint8_t out[kPacketFrame] = {}, in[kAckFrame];
  const auto start = Clock::now();
  for (int i = 0; i < kPackets; ++i) {
    if (!WriteAll(slave, out, sizeof out)) break;
    size_t got = 0;
    while (got < sizeof in) {
      uint64_t n;
      [[maybe_unused]] ssize_t r = read(ready, &n, sizeof n);
      const ssize_t k = read(slave, in + got, sizeof in - got);
      if (k > 0) got += size_t(k);
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t w = write(rearm, &one, sizeof one);
    }
  }
  const double s = Seconds(Clock::now() - start);
  stop = true;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t w = write(rearm, &one, sizeof one);
  peer.join();
  watcher.join();
  close(ready);
  close(rearm);
  close(slave);
  close(master);
  return s;
}

// The least a unit can do: a thread on the master side of a pseudo-terminal
// pair that acknowledges every upload packet as soon as it is whole.
class Responder {
 public:
  Responder() {
    char name[128];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
      std::perror("openpty");
      std::exit(1);
    }
    path_ = name;
    MakeRaw(slave_);
    thread_ = std::thread([this] { Run(); });
  }
  ~Responder() {
    stop_ = true;
    thread_.join();
    close(slave_);
    close(master_);
  }
  const std::string& path() const { return path_; }
  // The identification of an old unit, so that the image fits.
  void Identify() {
    UnitInfo u;
    u.mode = 1;
    u.major = 4;
    u.release = 1;
    u.build = 99;
    const Bytes f = BuildFrame(kCodeIdentification, BuildIdentification(u), kUnitAddress);
    WriteAll(master_, f.data(), f.size());
  }

 private:
  void Run() {
    FrameReceiver rx(kUnitStation);
    uint8_t buf[4096];
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) continue;
      for (const Frame& f : rx.Feed(buf, size_t(n), 0).frames) {
        if ((f.code != kCodeFirmwarePacket && f.code != kCodeConfigPacket) || f.payload.size() < 4) continue;
        const Bytes ack = BuildFrame(kCodeAck, Bytes{f.payload[2], f.payload[3]}, kUnitAddress);
        WriteAll(master_, ack.data(), ack.size());
      }
    }
  }

  int master_ = -1, slave_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The host the command line and the window share, quiet, timing outcomes.
class BenchHost : public QtHost {
 public:
  BenchHost() : QtHost(Options()) {}
  static ControllerOptions Options() {
    ControllerOptions o;
    o.followGate = false;  // this program chooses what to do
    return o;
  }

  std::function<void(Outcome)> onOutcome;
  std::vector<std::string> boxes;

  void Log(const std::string&, bool) override {}
  void ShowMessage(const std::string& caption, const std::string& text, BoxIcon) override {
    boxes.push_back(caption + ": " + text);
  }
  void SetProgressMax(int) override {}
  void SetProgress(int) override {}
  PanelValues ReadPanel() override { return panel; }
  void WritePanel(const PanelValues& v) override { panel = v; }
  void ClearPanelField(PanelField) override {}
  bool PresetChecked() override { return false; }
  bool AutoCloseChecked() override { return false; }
  void SetConfigControlsEnabled(bool) override {}
  void OperationEnded(Outcome o, uint32_t) override {
    if (onOutcome) onOutcome(o);
  }

  PanelValues panel = DefaultPanel();
};

// Runs the event loop until one of `wanted` is reported; returns the time
// from `start()` to the report, or a negative value on another outcome or
// after `limitMs`.
double Measure(BenchHost& host, const std::function<void()>& start, std::initializer_list<Outcome> wanted,
               int limitMs = 60000) {
  bool done = false, ok = false;
  Clock::time_point end;
  host.onOutcome = [&](Outcome o) {
    if (done) return;
    end = Clock::now();
    done = true;
    ok = std::find(wanted.begin(), wanted.end(), o) != wanted.end();
  };
  QTimer tick;  // wakes the loop now and then to look at the clock
  tick.start(50);
  const auto begin = Clock::now();
  start();
  while (!done && Seconds(Clock::now() - begin) * 1000 < limitMs)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  host.onOutcome = nullptr;
  if (!done || !ok) return -1;
  return Seconds(end - begin);
}

void Fail(const char* what, const BenchHost& host) {
  std::fprintf(stderr, "vyotool-bench: %s\n", what);
  for (const std::string& b : host.boxes) std::fprintf(stderr, "  %s\n", b.c_str());
  std::exit(1);
}

template <class F>
double NsPer(int n, F&& f) {
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i) f(i);
  return Seconds(Clock::now() - start) * 1e9 / n;
}

int Main(int argc, char** argv) {
  int reps = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--reps" && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--sim" && i + 1 < argc) {
      gSim = argv[++i];
    } else {
      std::fprintf(stderr, "Usage: vyotool-bench [--reps N] [--sim PATH]\n");
      return 2;
    }
  }
  QCoreApplication app(argc, argv);

  // What the wire itself takes at the unit's rate: 10 bits a byte.
  const FirmwareImage& image = BuiltinFirmware();
  const uint64_t outBytes = uint64_t(image.data.size() / 48) * kPacketFrame +
                            (image.data.size() % 48 ? kFrameOverhead + 6 + image.data.size() % 48 : 0) +
                            kFrameOverhead + 6 + kTrailerSize;
  const uint64_t backBytes = uint64_t(kPackets) * kAckFrame;
  const double wire = double(outBytes + backBytes) * 10 / kBaud;
  std::printf("firmware image %zu bytes, %d packets: %llu bytes out, %llu back; %.3f s on the wire at %d baud\n",
              image.data.size(), kPackets, (unsigned long long)outBytes, (unsigned long long)backBytes, wire, kBaud);

  // The unit restarts as the same old version after each upload, so that
  // one connection serves every repetition.
  Sim sim({"--quiet", "--version", "4.0.1.99", "--reidentify", "4.0.1.99", "--record-defaults"});
  if (sim.path().empty()) {
    std::fprintf(stderr, "vyotool-bench: %s did not start\n", gSim.c_str());
    return 1;
  }
  BenchHost host;
  std::string error;
  if (Measure(host, [&] { host.OpenPort(sim.path(), &error); }, {Outcome::Identified}, 10000) < 0)
    Fail(("no identification on " + sim.path() + " " + error).c_str(), host);

  // Each upload right after its ping-pong, so that both meet the same
  // state of the machine; the ratio is taken pair by pair.
  Figures pingPong, handOff, upload, ratios, pingPongCpu, uploadCpu, read, write;
  for (int i = 0; i < reps; ++i) {
    double cpu = 0;
    pingPong.Add(PingPong(&cpu));
    pingPongCpu.Add(cpu);
    handOff.Add(PingPongHandOff());
    const double cpu0 = CpuSeconds();
    const double s = Measure(host, [&] { host.controller().B_FwTxClick(); }, {Outcome::UploadDone});
    if (s < 0) Fail("the firmware upload failed", host);
    uploadCpu.Add(CpuSeconds() - cpu0);
    upload.Add(s);
    ratios.Add(s / pingPong.runs.back());
    // The unit restarts and identifies itself again.
    if (Measure(host, [] {}, {Outcome::Identified}, 10000) < 0) Fail("no identification after the restart", host);
  }
  for (int i = 0; i < 4 * reps; ++i) {
    const double r = Measure(host, [&] { host.controller().B_GetConfigClick(); }, {Outcome::ReadDone});
    if (r < 0) Fail("the configuration read failed", host);
    read.Add(r);
    const double w = Measure(host, [&] { host.controller().B_SetConfigClick(); }, {Outcome::UploadDone});
    if (w < 0) Fail("the configuration write failed", host);
    write.Add(w);
  }
  host.ClosePort();
  sim.Stop();

  Figures local;
  {
    Responder unit;
    BenchHost direct;
    if (!direct.OpenPort(unit.path(), &error)) Fail(error.c_str(), direct);
    for (int i = 0; i < reps; ++i) {
      if (Measure(direct, [&] { unit.Identify(); }, {Outcome::Identified}, 10000) < 0)
        Fail("the answering thread was not identified", direct);
      const double s = Measure(direct, [&] { direct.controller().B_FwTxClick(); }, {Outcome::UploadDone});
      if (s < 0) Fail("the upload to the answering thread failed", direct);
      local.Add(s);
    }
    direct.ClosePort();
  }

  std::printf("ping-pong, %d x (%zu bytes out, %zu back), pseudo-terminal pair: best %.3f s, median %.3f s, "
              "worst %.3f s (%.1f us per exchange)\n",
              kPackets, kPacketFrame, kAckFrame, pingPong.Best(), pingPong.Median(), pingPong.Worst(),
              pingPong.Median() * 1e6 / kPackets);
  std::printf("ping-pong with the tool's hand-off (a waiting thread wakes the main thread): best %.3f s, median "
              "%.3f s (%.1f us per exchange)\n",
              handOff.Best(), handOff.Median(), handOff.Median() * 1e6 / kPackets);
  std::printf("firmware upload to vyotool-sim: best %.3f s, median %.3f s, worst %.3f s (%.1f us per packet)\n",
              upload.Best(), upload.Median(), upload.Worst(), upload.Median() * 1e6 / kPackets);
  const double ratio = ratios.Median();
  std::printf("ratio upload / ping-pong, pair by pair: median %.2f, range %.2f to %.2f; of the best times %.2f; "
              "target 2, aim 1.5: %s\n",
              ratio, ratios.Best(), ratios.Worst(), upload.Best() / pingPong.Best(),
              ratio <= 1.5 ? "aim met" : ratio <= 2 ? "target met" : "TARGET MISSED");
  std::printf("processor time per packet, both ends in this process: ping-pong %.1f us, tool %.1f us (median; "
              "the unit's own is not counted)\n",
              pingPongCpu.Median() * 1e6 / kPackets, uploadCpu.Median() * 1e6 / kPackets);
  std::printf("tool overhead per packet beyond the ping-pong: %.1f us\n",
              (upload.Median() - pingPong.Median()) * 1e6 / kPackets);
  std::printf("the same upload to an answering thread in this process (no simulated unit): best %.3f s, median "
              "%.3f s; %.2f times the ping-pong's median\n",
              local.Best(), local.Median(), local.Median() / pingPong.Median());
  std::printf("upload against the ping-pong with the same hand-off: %.2f\n", upload.Median() / handOff.Median());
  std::printf("upload against the wire time at %d baud: %.2f (below 1: the wire is the bottleneck)\n", kBaud,
              upload.Median() / wire);
  std::printf("configuration read (5 blocks, 2,032 bytes): best %.1f ms, median %.1f ms\n", read.Best() * 1e3,
              read.Median() * 1e3);
  std::printf("configuration write (44 packets): best %.1f ms, median %.1f ms\n", write.Best() * 1e3,
              write.Median() * 1e3);

  // CPU cost of the frame work of one packet.
  constexpr int kMillion = 1000000;
  uint64_t sink = 0;
  Bytes payload(6 + 48);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 7);
  const double build = NsPer(kMillion, [&](int i) {
    payload[3] = uint8_t(i);
    const Bytes f = BuildFrame(kCodeFirmwarePacket, payload);
    sink += f[f.size() - 1];
  });
  Bytes ack = BuildFrame(kCodeAck, Bytes{0x00, 0x01}, kUnitAddress);
  FrameReceiver receiver(kToolStation);
  const double accept = NsPer(kMillion, [&](int i) {
    const ReceiveResult r = receiver.Feed(ack.data(), ack.size(), uint64_t(i));
    sink += r.frames.size();
  });
  std::printf("BuildFrame, 54-byte payload: %.0f ns per frame; FrameReceiver::Feed, 10-byte acknowledgement: "
              "%.0f ns per frame%s\n",
              build, accept, sink == 0 ? " (?)" : "");
  return 0;
}

}  // namespace
}  // namespace vyo::bench

int main(int argc, char** argv) { return vyo::bench::Main(argc, argv); }
