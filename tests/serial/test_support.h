// Helpers for the serial port tests: a pseudo-terminal pair standing in for
// the device, and a main-thread queue that the test thread pumps.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vyo::testing {

// The test process's side of a pseudo-terminal: the port under test opens
// the slave path, the test plays the device on the master.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      char name[128];
      if (ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
    }
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0 && !slave_.empty(); }
  int master() const { return master_; }
  const std::string& slave() const { return slave_; }

  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  bool Send(const std::string& bytes) {
    return write(master_, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  }

  // Reads from the master until `n` bytes came or the time-out passed.
  std::string Receive(size_t n, int timeoutMs = 5000) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, int(left)) <= 0) continue;
      char buf[65536];
      const ssize_t got = read(master_, buf, std::min(sizeof buf, n - out.size()));
      if (got <= 0) break;
      out.append(buf, size_t(got));
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// Stands in for the window's message queue: the port posts from its event
// thread, the test thread runs what was posted.
class MainQueue {
 public:
  std::function<void(std::function<void()>)> Poster() {
    return [this](std::function<void()> task) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
        ++posted_;
      }
      cv_.notify_all();
    };
  }

  std::thread::id mainThread() const { return mainThread_; }

  int posted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
  }
  size_t queued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return tasks_.size();
  }

  // Waits, without running anything, until `n` tasks were posted in all.
  bool WaitPosted(int n, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return posted_ >= n; });
  }

  // Runs posted tasks until `done` holds or the time-out passed.
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) return done();
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
    return true;
  }

  // Runs whatever is posted during `ms` milliseconds.
  void PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
  }

 private:
  std::thread::id mainThread_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
  int posted_ = 0;
};

}  // namespace vyo::testing
