// The event thread of a serial port: waits for the port's events and hands
// each one over through a notification function. It never reads data and
// never touches the port's owner; the owner turns notifications into work on
// the main thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "serial/messages.h"

namespace vyo {

struct ComEvent {
  enum class Kind { kRxChar, kLost };
  Kind kind = Kind::kRxChar;
  commsg::LostCause cause = commsg::LostCause::kHangUp;  // for kLost
  int osError = 0;                                      // for kLost
};

class TComThread {
 public:
  // Called on the event thread; must not block.
  using Notify = std::function<void(const ComEvent&)>;

  // Watches the open descriptor `fd` (owned by the caller, which keeps it
  // open until Stop() returns). Throws std::system_error when the wake-up
  // handle or the thread cannot be created.
  TComThread(int fd, Notify notify);
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  // Stops the thread and waits for it. Idempotent; main thread only.
  void Stop();

  // After a kRxChar notification the thread stops watching for incoming
  // data until the receiver has dealt with it and calls this. `delayMs` > 0
  // makes it wait that long before watching again (used when the receiver
  // left the data where it was, so that it is not offered again at once).
  void Rearm(int delayMs = 0);

  // True between a kRxChar notification and the following Rearm().
  bool RxPending() const { return rxPending_.load(); }

 private:
  void Run();
  void Wake();

  int fd_;
  int wakeFd_ = -1;
  Notify notify_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> rxPending_{false};
  std::atomic<int> rearmDelayMs_{0};
  std::thread thread_;
};

}  // namespace vyo
