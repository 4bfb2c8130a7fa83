// The serial port over pseudo-terminals: the port opens the slave side,
// the test plays the device on the master side and pumps the main queue.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/comport.h"
#include "serial/termios2_rate.h"
#include "test_support.h"

namespace vyo {
namespace {

using testing::MainQueue;
using testing::Pty;

constexpr int kRate = 3686400;

// A port wired to a main queue, recording what it hands to the window.
struct Harness {
  MainQueue main;
  TCustomComPort port{main.Poster()};
  std::string received;
  std::vector<int> counts;
  std::vector<std::string> lost;
  bool offMainThread = false;

  explicit Harness(const std::string& path, bool readAll = true) {
    port.SetPort(path);
    port.SetCustomBaudRate(kRate);
    port.OnRxChar = [this, readAll](int count) {
      if (std::this_thread::get_id() != main.mainThread()) offMainThread = true;
      counts.push_back(count);
      if (!readAll) return;
      std::string buf(size_t(count), '\0');
      const int n = port.Read(buf.data(), count);
      received.append(buf, 0, size_t(n));
    };
    port.OnConnectionLost = [this](const std::string& reason) {
      if (std::this_thread::get_id() != main.mainThread()) offMainThread = true;
      lost.push_back(reason);
    };
  }

  bool PumpUntilReceived(size_t n) {
    return main.PumpUntil([&] { return received.size() >= n; });
  }
};

// Waits until the port's input queue holds `n` bytes.
bool WaitInput(TCustomComPort& port, int n) {
  for (int i = 0; i < 1000; ++i) {
    if (port.InputCount() >= n) return true;
    poll(nullptr, 0, 2);
  }
  return false;
}

int ExclusiveFlag(int fd) {
  int flag = -1;
  return ioctl(fd, TIOCGEXCL, &flag) == 0 ? flag : -1;
}

TEST(ComPortOpen, AppliesRawEightNOneAtTheCustomRate) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave());
  h.port.SetConnected(true);
  ASSERT_TRUE(h.port.Connected());
  const int fd = h.port.Handle();
  ASSERT_GE(fd, 0);

  unsigned rate = 0;
  ASSERT_EQ(termios2::GetRate(fd, &rate), 0);
  EXPECT_EQ(rate, unsigned(kRate));  // still there after the time-outs were set

  termios tio{};
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
  EXPECT_NE(tio.c_cflag & CREAD, 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST(ComPortOpen, OpenAndCloseAreIdempotent) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave());
  h.port.Close();  // closed: nothing to do
  h.port.SetConnected(false);
  EXPECT_FALSE(h.port.Connected());

  h.port.Open();
  const int fd = h.port.Handle();
  h.port.SetConnected(true);  // already open: same descriptor, nothing reopened
  EXPECT_EQ(h.port.Handle(), fd);
  EXPECT_EQ(ExclusiveFlag(fd), 1);

  h.port.Close();
  h.port.Close();
  EXPECT_FALSE(h.port.Connected());
  EXPECT_EQ(h.port.Handle(), -1);

  // The terminal's exclusive flag is cleared on close: it would otherwise
  // lock every non-root user out while someone else holds the terminal.
  const int probe = open(pty.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(probe, 0);
  EXPECT_EQ(ExclusiveFlag(probe), 0);
  close(probe);

  h.port.Open();  // and opens again after a close
  EXPECT_TRUE(h.port.Connected());
  ASSERT_TRUE(pty.Send("x"));
  EXPECT_TRUE(h.PumpUntilReceived(1));
}

TEST(ComPortOpen, SecondOpenOfTheSamePortIsRefused) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness first(pty.slave());
  first.port.Open();

  MainQueue main;
  TCustomComPort second(main.Poster());
  second.SetPort(pty.slave());
  try {
    second.Open();
    FAIL() << "second open succeeded";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.code(), kComErrOpen);
    EXPECT_TRUE(e.osError() == EWOULDBLOCK || e.osError() == EBUSY) << e.osError();
    EXPECT_NE(std::string(e.what()).find("ocupada"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(second.Connected());
  EXPECT_EQ(second.Handle(), -1);

  // The refused attempt left the first one's exclusive use alone.
  EXPECT_EQ(ExclusiveFlag(first.port.Handle()), 1);
  ASSERT_TRUE(pty.Send("ok"));
  EXPECT_TRUE(first.PumpUntilReceived(2));

  first.port.Close();
  EXPECT_NO_THROW(second.Open());
}

TEST(ComPortOpen, AnotherProcessCannotOpenTheOpenPort) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave());
  h.port.Open();

  fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int status = 3;
    try {
      TCustomComPort other([](std::function<void()>) {});
      other.SetPort(pty.slave());
      other.Open();
      status = 1;  // opened: exclusivity broken
    } catch (const EComPort& e) {
      status = e.code() == kComErrOpen ? 0 : 2;
    } catch (...) {
    }
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ComPortOpen, DestructorReleasesThePort) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  {
    Harness h(pty.slave());
    h.port.Open();
  }
  Harness again(pty.slave());
  EXPECT_NO_THROW(again.port.Open());
}

TEST(ComPortErrors, OpenFailuresSayWhatToDo) {
  MainQueue main;
  TCustomComPort port(main.Poster());

  try {
    port.Open();
    FAIL() << "opened without a port name";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.code(), kComErrOpen);
  }

  port.SetPort("/dev/ttyVYO-missing-42");
  try {
    port.Open();
    FAIL() << "opened a missing port";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.code(), kComErrOpen);
    EXPECT_EQ(e.osError(), ENOENT);
    const std::string text = e.what();
    EXPECT_NE(text.find("/dev/ttyVYO-missing-42"), std::string::npos) << text;
    EXPECT_NE(text.find("não existe"), std::string::npos) << text;
  }
  EXPECT_FALSE(port.Connected());

  // A file that is not a terminal is refused and left closed.
  char tmpl[] = "/tmp/vyo-serial-XXXXXX";
  const int tmp = mkstemp(tmpl);
  ASSERT_GE(tmp, 0);
  close(tmp);
  port.SetPort(tmpl);
  try {
    port.Open();
    FAIL() << "opened a plain file";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.osError(), ENOTTY);
    EXPECT_NE(std::string(e.what()).find("não é uma porta serial"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), -1);
  unlink(tmpl);

}

TEST(ComPortErrors, ClosedPortAndBadArgumentsThrow) {
  MainQueue main;
  TCustomComPort port(main.Poster());
  char buf[4] = {};
  auto codeOf = [](auto&& call) {
    try {
      call();
    } catch (const EComPort& e) {
      return e.code();
    }
    return 0;
  };
  EXPECT_EQ(codeOf([&] { port.Write("abc", 3); }), kComErrNotOpen);
  EXPECT_EQ(codeOf([&] { port.Read(buf, 4); }), kComErrNotOpen);
  EXPECT_EQ(codeOf([&] { port.InputCount(); }), kComErrNotOpen);
  EXPECT_EQ(codeOf([&] { port.ClearBuffer(true, true); }), kComErrNotOpen);
  EXPECT_EQ(codeOf([&] { port.SetCustomBaudRate(0); }), kComErrInvalidParam);

  Pty pty;
  ASSERT_TRUE(pty.ok());
  port.SetPort(pty.slave());
  port.Open();
  EXPECT_EQ(codeOf([&] { port.Write(buf, -1); }), kComErrInvalidParam);
  EXPECT_EQ(codeOf([&] { port.Read(buf, -1); }), kComErrInvalidParam);
}

TEST(ComPortReceive, DataIsAnnouncedOnTheMainThread) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave());
  h.port.Open();
  h.port.ClearBuffer(true, true);

  ASSERT_TRUE(pty.Send("\xBC\x12\x04hello"));
  ASSERT_TRUE(h.PumpUntilReceived(8));
  ASSERT_TRUE(pty.Send("world"));
  ASSERT_TRUE(h.PumpUntilReceived(13));
  EXPECT_EQ(h.received, "\xBC\x12\x04helloworld");
  EXPECT_FALSE(h.offMainThread);
  int total = 0;
  for (int c : h.counts) {
    EXPECT_GT(c, 0);
    total += c;
  }
  EXPECT_EQ(total, 13);
  EXPECT_TRUE(h.lost.empty());
}

TEST(ComPortReceive, WaitsForTheMainThreadInsteadOfSpinning) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave());
  h.port.Open();

  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_TRUE(h.main.WaitPosted(1));
  // More data while the first notice is unhandled: no further notices.
  ASSERT_TRUE(pty.Send("defg"));
  ASSERT_TRUE(WaitInput(h.port, 7));
  EXPECT_FALSE(h.main.WaitPosted(2, 50));
  EXPECT_EQ(h.main.posted(), 1);

  // One notice tells of everything waiting when it is handled.
  h.main.PumpUntil([&] { return !h.counts.empty(); });
  ASSERT_EQ(h.counts.size(), 1u);
  EXPECT_EQ(h.counts[0], 7);
  EXPECT_EQ(h.received, "abcdefg");

  // All read: the thread goes back to waiting quietly.
  h.main.PumpFor(50);
  EXPECT_EQ(h.main.posted(), 1);

  // And is armed again.
  ASSERT_TRUE(pty.Send("h"));
  ASSERT_TRUE(h.PumpUntilReceived(8));
}

TEST(ComPortReceive, UnreadDataIsOfferedAgainAfterTheReadInterval) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave(), /*readAll=*/false);
  h.port.Open();

  ASSERT_TRUE(pty.Send("12345"));
  ASSERT_TRUE(WaitInput(h.port, 5));
  ASSERT_TRUE(h.main.PumpUntil([&] { return h.counts.size() == 1; }));
  const auto first = std::chrono::steady_clock::now();
  ASSERT_TRUE(h.main.PumpUntil([&] { return h.counts.size() == 2; }));
  const auto gap = std::chrono::steady_clock::now() - first;
  EXPECT_GE(gap, std::chrono::milliseconds(kReadIntervalMs - 20));
  EXPECT_EQ(h.counts[1], 5);  // nothing lost meanwhile

  // A partial read is followed up at once.
  h.port.OnRxChar = [&](int count) {
    h.counts.push_back(count);
    char c;
    h.received += h.port.Read(&c, 1) == 1 ? std::string(1, c) : std::string();
  };
  ASSERT_TRUE(h.main.PumpUntil([&] { return h.received.size() == 5; }, 2000));
  EXPECT_EQ(h.received, "12345");
}

TEST(ComPortReceive, NoticeForBytesAlreadyTakenOrClearedIsHarmless) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave());
  h.port.Open();

  ASSERT_TRUE(pty.Send("abcd"));
  ASSERT_TRUE(h.main.WaitPosted(1));
  ASSERT_TRUE(WaitInput(h.port, 4));
  char buf[8];
  ASSERT_EQ(h.port.Read(buf, sizeof buf), 4);  // read outside the handler

  h.main.PumpFor(30);
  EXPECT_TRUE(h.counts.empty());
  EXPECT_TRUE(h.lost.empty()) << h.lost.front();
  EXPECT_TRUE(h.port.Connected());

  // The same when ClearBuffer discarded them.
  ASSERT_TRUE(pty.Send("stale"));
  ASSERT_TRUE(h.main.WaitPosted(2));
  ASSERT_TRUE(WaitInput(h.port, 5));
  h.port.ClearBuffer(true, false);
  EXPECT_EQ(h.port.InputCount(), 0);
  h.main.PumpFor(30);
  EXPECT_TRUE(h.counts.empty());
  EXPECT_TRUE(h.port.Connected());

  ASSERT_TRUE(pty.Send("e"));
  ASSERT_TRUE(h.PumpUntilReceived(1));
  EXPECT_EQ(h.received, "e");
}

TEST(ComPortReceive, NoticesAfterCloseOrDestructionDoNothing) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  {
    Harness h(pty.slave());
    h.port.Open();
    ASSERT_TRUE(pty.Send("late"));
    ASSERT_TRUE(h.main.WaitPosted(1));
    h.port.Close();
    h.main.PumpFor(30);
    EXPECT_TRUE(h.counts.empty());
    EXPECT_TRUE(h.lost.empty());

    // The bytes are still in the terminal: a new connection reports them.
    h.port.Open();
    ASSERT_TRUE(h.PumpUntilReceived(4));
    EXPECT_EQ(h.received, "late");
    EXPECT_TRUE(h.lost.empty());
  }

  MainQueue main;
  int calls = 0;
  auto port = std::make_unique<TCustomComPort>(main.Poster());
  port->SetPort(pty.slave());
  port->SetCustomBaudRate(kRate);
  port->OnRxChar = [&](int) { ++calls; };
  port->Open();
  ASSERT_TRUE(pty.Send("x"));
  ASSERT_TRUE(main.WaitPosted(1));
  port.reset();
  main.PumpFor(30);
  EXPECT_EQ(calls, 0);
}

TEST(ComPortReceive, HandlerMayCloseOrDestroyThePort) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave());
  h.port.Open();
  h.port.OnRxChar = [&](int) { h.port.Close(); };
  ASSERT_TRUE(pty.Send("bye"));
  ASSERT_TRUE(h.main.PumpUntil([&] { return !h.port.Connected(); }));
  EXPECT_TRUE(h.lost.empty());

  MainQueue main;
  auto port = std::make_unique<TCustomComPort>(main.Poster());
  port->SetPort(pty.slave());
  port->SetCustomBaudRate(kRate);
  port->OnRxChar = [&](int) { port.reset(); };
  port->Open();
  ASSERT_TRUE(pty.Send("gone"));
  ASSERT_TRUE(main.PumpUntil([&] { return port == nullptr; }));
}

TEST(ComPortReceive, HandlerThatThrowsDoesNotSilenceThePort) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave());
  h.port.Open();
  const auto readAll = h.port.OnRxChar;
  h.port.OnRxChar = [&](int) { throw std::runtime_error("decoder failed"); };
  ASSERT_TRUE(pty.Send("x"));
  EXPECT_THROW(h.main.PumpUntil([] { return false; }), std::runtime_error);

  h.port.OnRxChar = readAll;
  ASSERT_TRUE(pty.Send("y"));
  ASSERT_TRUE(h.PumpUntilReceived(2));
  EXPECT_EQ(h.received, "xy");
}

TEST(ComPortHangUp, DeviceGoneClosesThePortAndTellsOnce) {
  auto pty = std::make_unique<Pty>();
  ASSERT_TRUE(pty->ok());
  Harness h(pty->slave());
  h.port.Open();
  ASSERT_TRUE(pty->Send("a"));
  ASSERT_TRUE(h.PumpUntilReceived(1));

  pty->CloseMaster();
  ASSERT_TRUE(h.main.PumpUntil([&] { return !h.lost.empty(); }));
  EXPECT_FALSE(h.port.Connected());
  EXPECT_EQ(h.port.Handle(), -1);
  EXPECT_NE(h.lost[0].find(pty->slave()), std::string::npos) << h.lost[0];
  h.main.PumpFor(50);
  EXPECT_EQ(h.lost.size(), 1u);
  EXPECT_FALSE(h.offMainThread);

  // A new device: the same port object connects again.
  Pty next;
  ASSERT_TRUE(next.ok());
  h.port.SetPort(next.slave());
  h.port.Open();
  ASSERT_TRUE(next.Send("b"));
  ASSERT_TRUE(h.PumpUntilReceived(2));
  EXPECT_EQ(h.received, "ab");
  EXPECT_EQ(h.lost.size(), 1u);
}

TEST(ComPortHangUp, HangUpWithANoticePendingTellsOnce) {
  auto pty = std::make_unique<Pty>();
  ASSERT_TRUE(pty->ok());
  Harness h(pty->slave(), /*readAll=*/false);
  h.port.Open();
  ASSERT_TRUE(pty->Send("abc"));
  ASSERT_TRUE(h.main.WaitPosted(1));
  pty->CloseMaster();
  ASSERT_TRUE(h.main.PumpUntil([&] { return !h.lost.empty(); }));
  h.main.PumpFor(50);
  EXPECT_EQ(h.lost.size(), 1u);
  EXPECT_FALSE(h.port.Connected());
}

TEST(ComPortWrite, BytesReachTheDevice) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave());
  h.port.Open();
  const std::string frame("\xBC\x21\x07\x00\x06\x08\x03\xF0\x00\x01\xF4\x00\x03\x2D", 14);
  EXPECT_EQ(h.port.Write(frame.data(), int(frame.size())), int(frame.size()));
  EXPECT_EQ(pty.Receive(frame.size()), frame);

  // Far more than the queues hold: the write waits for the device and
  // delivers everything in order.
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + i / 251);
  std::string got;
  std::thread device([&] { got = pty.Receive(big.size(), 10000); });
  const int written = h.port.Write(big.data(), int(big.size()));
  device.join();
  EXPECT_EQ(written, int(big.size()));
  EXPECT_TRUE(got == big) << "received " << got.size() << " bytes";
}

TEST(ComPortWrite, DeviceThatStopsReadingTimesOut) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Harness h(pty.slave());
  h.port.Open();
  // Fill every queue between port and device, until it stays full.
  const std::string chunk(4096, 'z');
  size_t filled = 0;
  for (;;) {
    const ssize_t n = write(h.port.Handle(), chunk.data(), chunk.size());
    if (n > 0) {
      filled += size_t(n);
      ASSERT_LT(filled, size_t(64) << 20);
      continue;
    }
    ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << errno;
    pollfd p{h.port.Handle(), POLLOUT, 0};
    if (poll(&p, 1, 50) == 0) break;
  }

  const auto start = std::chrono::steady_clock::now();
  try {
    h.port.Write("frame", 5);
    FAIL() << "write reported success";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.code(), kComErrWriteTimeout);
    EXPECT_NE(std::string(e.what()).find("0 de 5"), std::string::npos) << e.what();
  }
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(kWriteTimeoutMinMs - 50));
  EXPECT_LT(took, std::chrono::milliseconds(kWriteTimeoutMinMs + 2000));
}

}  // namespace
}  // namespace vyo
