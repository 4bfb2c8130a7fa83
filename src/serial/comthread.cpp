#include "serial/comthread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <system_error>

namespace vyo {

TComThread::TComThread(int fd, Notify notify) : fd_(fd), notify_(std::move(notify)) {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    close(wakeFd_);
    wakeFd_ = -1;
    throw;
  }
}

TComThread::~TComThread() {
  Stop();
  if (wakeFd_ >= 0) close(wakeFd_);
}

void TComThread::Wake() {
  const uint64_t one = 1;
  // The counter cannot overflow in practice; a failed write only means a
  // wake-up is already pending.
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

void TComThread::Stop() {
  if (!thread_.joinable()) return;
  stop_.store(true);
  Wake();
  thread_.join();
}

void TComThread::Rearm(int delayMs) {
  rearmDelayMs_.store(delayMs > 0 ? delayMs : 0);
  rxPending_.store(false);
  Wake();
}

void TComThread::Run() {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> resumeAt;  // watch for data again from then on
  while (!stop_.load()) {
    bool watchRx = !rxPending_.load();
    int timeoutMs = -1;
    if (watchRx) {
      const int delay = rearmDelayMs_.exchange(0);
      if (delay > 0) resumeAt = Clock::now() + std::chrono::milliseconds(delay);
      if (resumeAt) {
        const auto now = Clock::now();
        if (now < *resumeAt) {
          watchRx = false;
          timeoutMs = int(std::chrono::ceil<std::chrono::milliseconds>(*resumeAt - now).count());
        } else {
          resumeAt.reset();
        }
      }
    }

    // Hang-ups and errors are reported whatever is asked for, so the port is
    // watched for them even while incoming data waits for the main thread.
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, short(watchRx ? POLLIN : 0), 0}};
    const int n = poll(fds, 2, timeoutMs);
    if (n < 0) {
      if (errno == EINTR) continue;
      notify_({ComEvent::Kind::kLost, commsg::LostCause::kWaitFailed, errno});
      return;
    }
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] ssize_t r = read(wakeFd_, &count, sizeof count);
      continue;  // look at the flags again; port events are still pending if any
    }
    const short rev = fds[1].revents;
    if (rev & POLLHUP) {
      notify_({ComEvent::Kind::kLost, commsg::LostCause::kHangUp, 0});
      return;
    }
    if (rev & (POLLERR | POLLNVAL)) {
      notify_({ComEvent::Kind::kLost, commsg::LostCause::kError, (rev & POLLNVAL) ? EBADF : EIO});
      return;
    }
    if (watchRx && (rev & POLLIN)) {
      // Set before notifying: the receiver's Rearm() must find it set.
      rxPending_.store(true);
      notify_({ComEvent::Kind::kRxChar, commsg::LostCause::kHangUp, 0});
    }
  }
}

}  // namespace vyo
