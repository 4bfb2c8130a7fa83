// The vyotool-sim program on a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/record.h"
#include "protocol/frame.h"
#include "protocol/receiver.h"

extern char** environ;

namespace vyo {
namespace {

constexpr int kTimeoutMs = 10000;  // generous: the machine may be busy

uint64_t Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), VYOTOOL_SIM_PATH);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    out_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  bool started() const { return pid_ > 0; }

  // The first line the program prints.
  std::string FirstLine() {
    std::string line;
    const uint64_t end = Now() + kTimeoutMs;
    char c;
    while (Now() < end) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      if (read(out_, &c, 1) != 1 || c == '\n') break;
      line.push_back(c);
    }
    return line;
  }

  // Exit code, or -1 when the program has not ended within the time-out.
  int Wait() {
    const uint64_t end = Now() + kTimeoutMs;
    while (Now() < end) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      pollfd none{-1, 0, 0};
      poll(&none, 0, 10);
    }
    return -1;
  }
  void Signal(int sig) { kill(pid_, sig); }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  return fd;
}

// Reads frames from the port until `count` frames have arrived or the port
// hangs up or the time-out passes.
std::vector<Frame> ReadFrames(int fd, FrameReceiver& rx, size_t count, bool* hungUp = nullptr) {
  std::vector<Frame> frames;
  const uint64_t end = Now() + kTimeoutMs;
  while (frames.size() < count && Now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    uint8_t buf[1024];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) {
      if (n < 0 && errno == EAGAIN) continue;
      if (hungUp) *hungUp = true;
      break;
    }
    for (Frame& f : rx.Feed(buf, size_t(n), Now()).frames) frames.push_back(std::move(f));
  }
  return frames;
}

Bytes Packet(uint32_t n, uint32_t count, const Bytes& data) {
  Bytes p;
  PutBE16(p, 0x0101);
  PutBE16(p, n);
  PutBE16(p, count);
  p.insert(p.end(), data.begin(), data.end());
  return BuildFrame(kCodeFirmwarePacket, p);
}

void WriteAll(int fd, const Bytes& b) { ASSERT_EQ(write(fd, b.data(), b.size()), ssize_t(b.size())); }

TEST(SimProgram, IdentifiesAcknowledgesAndSavesItsStateOnTermination) {
  char stateFile[] = "/tmp/vyo-sim-state-XXXXXX";
  const int tmp = mkstemp(stateFile);
  ASSERT_GE(tmp, 0);
  close(tmp);
  unlink(stateFile);  // created by the program

  SimProcess sim({"--quiet", "--state", stateFile, "--version", "4.0.2.41"});
  ASSERT_TRUE(sim.started());
  const std::string path = sim.FirstLine();
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  const int fd = OpenRaw(path);
  ASSERT_GE(fd, 0);
  FrameReceiver rx(kToolStation);

  const auto ids = ReadFrames(fd, rx, 2);
  ASSERT_EQ(ids.size(), 2u);
  for (const Frame& f : ids) {
    EXPECT_EQ(f.code, kCodeIdentification);
    ASSERT_EQ(f.payload.size(), 45u);
    EXPECT_EQ(f.payload[40], 41);
  }

  const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const auto trailer = XorSumTrailer(data.data(), data.size());
  WriteAll(fd, Packet(1, 2, data));
  // An identification may still have been on its way.
  std::vector<Frame> answers;
  while (answers.empty()) {
    auto f = ReadFrames(fd, rx, 1);
    ASSERT_FALSE(f.empty());
    if (f[0].code != kCodeIdentification) answers = f;
  }
  EXPECT_EQ(answers[0].code, kCodeAck);
  EXPECT_EQ(GetBE16(answers[0].payload.data()), 1u);
  WriteAll(fd, Packet(2, 2, Bytes(trailer.begin(), trailer.end())));
  answers = ReadFrames(fd, rx, 1);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].code, kCodeAck);
  EXPECT_EQ(GetBE16(answers[0].payload.data()), 2u);

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  close(fd);
  std::ifstream in(stateFile);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("firmware-last 10 ok"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("firmware 0102030405060708090A"), std::string::npos);
  EXPECT_NE(text.str().find("acks=2 "), std::string::npos);
  unlink(stateFile);
}

TEST(SimProgram, VanishesWithItsOwnExitCode) {
  SimProcess sim({"--quiet", "--vanish-after", "1"});
  ASSERT_TRUE(sim.started());
  const int fd = OpenRaw(sim.FirstLine());
  ASSERT_GE(fd, 0);
  FrameReceiver rx(kToolStation);
  ASSERT_EQ(ReadFrames(fd, rx, 1).size(), 1u);
  WriteAll(fd, Packet(1, 3, Bytes(48, 0x55)));
  bool hungUp = false;
  std::vector<Frame> seen = ReadFrames(fd, rx, 100, &hungUp);
  EXPECT_TRUE(hungUp);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().code, kCodeAck) << "the acknowledgement comes before the port goes";
  EXPECT_EQ(sim.Wait(), 3);
  close(fd);
}

TEST(SimProgram, BadOptionsExitWithUsage) {
  SimProcess sim({"--chaos", "2"});
  ASSERT_TRUE(sim.started());
  EXPECT_EQ(sim.Wait(), 2);
}

}  // namespace
}  // namespace vyo
