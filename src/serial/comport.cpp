#include "serial/comport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "serial/messages.h"
#include "serial/termios2_rate.h"

namespace vyo {
namespace {

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : int(std::min<long long>(left, 1 << 30));
}

bool RateMatches(unsigned wanted, unsigned got) {
  const unsigned long long diff = wanted > got ? wanted - got : got - wanted;
  return diff * 1000ULL <= static_cast<unsigned long long>(wanted) * kRateTolerancePerMille;
}

}  // namespace

TCustomComPort::TCustomComPort(PostFn post) : post_(std::move(post)), shared_(std::make_shared<Shared>()) {
  if (!post_) throw commsg::InvalidParam("falta a função que entrega os eventos à janela");
  shared_->owner = this;
}

TCustomComPort::~TCustomComPort() {
  shared_->owner = nullptr;
  Close();
}

void TCustomComPort::SetPort(std::string name) { port_ = std::move(name); }

std::string TCustomComPort::DevicePath() const {
  if (port_.find('/') != std::string::npos) return port_;
  return "/dev/" + port_;
}

void TCustomComPort::SetCustomBaudRate(int rate) {
  if (rate <= 0) throw commsg::InvalidParam("velocidade " + std::to_string(rate) + " bps");
  baudRate_ = rate;
}

void TCustomComPort::SetConnected(bool connected) {
  if (connected)
    Open();
  else
    Close();
}

void TCustomComPort::Open() {
  if (connected_) return;
  if (port_.empty()) throw commsg::NoPortChosen();
  const std::string path = DevicePath();

  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw commsg::OpenFailed(path, errno);
  // No sharing: the lock keeps out every other opener that asks for it,
  // root included; TIOCEXCL keeps out later opens by anyone but root.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno;
    ::close(fd);
    throw commsg::OpenFailed(path, err);
  }

  fd_ = fd;
  exclusive_ = true;
  openPath_ = path;
  connected_ = true;
  ++shared_->generation;
  try {
    SetupComPort();
    const uint64_t generation = shared_->generation;
    try {
      thread_ = std::make_unique<TComThread>(fd_, [this, generation](const ComEvent& event) {
        PostEvent(generation, event);
      });
    } catch (const std::system_error& e) {
      throw commsg::ThreadFailed(path, e.code().value());
    }
  } catch (...) {
    Close();
    throw;
  }
}

void TCustomComPort::SetupComPort() {
  SetupBuffers();
  SetupLine();
  SetupTimeouts();
}

void TCustomComPort::SetupBuffers() {
  // The kernel and the driver own the queues (kInputBufferSize and
  // kOutputBufferSize are their counterparts); nothing to set here.
}

void TCustomComPort::SetupLine() {
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) throw commsg::SettingsFailed(openPath_, errno);
  cfmakeraw(&tio);
  // 8 data bits, 1 stop bit, no parity; no hardware or software flow
  // control; modem lines ignored, so a missing carrier neither blocks nor
  // hangs up the line.
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) throw commsg::SettingsFailed(openPath_, errno);

  const unsigned wanted = unsigned(baudRate_);
  if (const int err = termios2::SetRate(fd_, wanted); err != 0)
    throw commsg::RateRefused(openPath_, wanted, 0, err);
  unsigned got = 0;
  if (const int err = termios2::GetRate(fd_, &got); err != 0)
    throw commsg::RateRefused(openPath_, wanted, 0, err);
  if (!RateMatches(wanted, got)) throw commsg::RateRefused(openPath_, wanted, got, 0);

  // DTR and RTS off. Lines the device does not have (a pseudo-terminal has
  // none) are no reason to refuse it.
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd_, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
    throw commsg::SettingsFailed(openPath_, errno);
}

void TCustomComPort::SetupTimeouts() {
  // Reads return at once with what is there; the descriptor is
  // non-blocking and the event thread says when to read.
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) throw commsg::SettingsFailed(openPath_, errno);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) throw commsg::SettingsFailed(openPath_, errno);
}

void TCustomComPort::DrainOutput() {
  // Frames written just before closing (the start command, for one) must
  // still reach the device; but a device that stopped reading must not hold
  // up the close, which the kernel would otherwise let wait for many seconds.
  const auto deadline = Clock::now() + std::chrono::milliseconds(kCloseDrainMs);
  for (;;) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    if (Clock::now() >= deadline) break;
    poll(nullptr, 0, 5);
  }
  tcflush(fd_, TCOFLUSH);
}

void TCustomComPort::Close() {
  if (fd_ < 0) {
    connected_ = false;
    return;
  }
  ++shared_->generation;  // notices already posted now find nothing to do
  if (thread_) {
    thread_->Stop();
    thread_.reset();
  }
  DrainOutput();
  // The exclusive flag belongs to the terminal, not to this descriptor, and
  // outlives it while anyone else holds the terminal open.
  if (exclusive_) ioctl(fd_, TIOCNXCL);
  exclusive_ = false;
  ::close(fd_);  // also releases the lock
  fd_ = -1;
  connected_ = false;
}

void TCustomComPort::ClearBuffer(bool input, bool output) {
  if (!connected_) throw commsg::NotOpen();
  if (!input && !output) return;
  const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  if (tcflush(fd_, which) != 0) throw commsg::PurgeFailed(openPath_, errno);
}

int TCustomComPort::Write(const void* buffer, int count) {
  if (!connected_) throw commsg::NotOpen();
  if (count < 0 || (count > 0 && buffer == nullptr))
    throw commsg::InvalidParam("escrita de " + std::to_string(count) + " bytes");
  const long long limitMs =
      std::max<long long>(kWriteTimeoutMinMs, kWriteTotalConstantMs + kWriteTotalMultiplierMs * (long long)count);
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  int done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, bytes + done, size_t(count - done));
    if (n > 0) {
      done += int(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) throw commsg::WriteFailed(openPath_, errno);

    // The device's queue is full: wait until it takes more.
    const int waitMs = MsUntil(deadline);
    if (waitMs <= 0) throw commsg::WriteTimedOut(openPath_, done, count);
    pollfd p{fd_, POLLOUT, 0};
    const int r = poll(&p, 1, waitMs);
    if (r < 0 && errno != EINTR) throw commsg::WriteFailed(openPath_, errno);
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) throw commsg::WriteFailed(openPath_, EIO);
  }
  return done;
}

int TCustomComPort::Read(void* buffer, int count) {
  if (!connected_) throw commsg::NotOpen();
  if (count < 0 || (count > 0 && buffer == nullptr))
    throw commsg::InvalidParam("leitura de " + std::to_string(count) + " bytes");
  if (count == 0) return 0;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, size_t(count));
    if (n >= 0) {
      bytesRead_ += uint64_t(n);
      return int(n);  // 0: end of data; the event thread reports the hang-up
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    throw commsg::ReadFailed(openPath_, errno);
  }
}

int TCustomComPort::InputCount() {
  if (!connected_) throw commsg::NotOpen();
  int count = 0;
  if (ioctl(fd_, FIONREAD, &count) != 0) throw commsg::ReadFailed(openPath_, errno);
  return count;
}

void TCustomComPort::PostEvent(uint64_t generation, const ComEvent& event) {
  std::weak_ptr<Shared> weak = shared_;
  post_([weak, generation, event] {
    if (auto shared = weak.lock()) Dispatch(shared, generation, event);
  });
}

void TCustomComPort::Dispatch(const std::shared_ptr<Shared>& shared, uint64_t generation, const ComEvent& event) {
  TCustomComPort* self = shared->owner;
  if (self == nullptr || shared->generation != generation) return;  // closed or gone since
  if (event.kind == ComEvent::Kind::kRxChar) {
    HandleRxChar(shared, generation);
  } else {
    self->LoseConnection(commsg::ConnectionLost(event.cause, self->openPath_, event.osError));
  }
}

void TCustomComPort::HandleRxChar(const std::shared_ptr<Shared>& shared, uint64_t generation) {
  using commsg::LostCause;
  TCustomComPort* self = shared->owner;
  const int fd = self->fd_;
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0) {
    self->LoseConnection(commsg::ConnectionLost(LostCause::kIoError, self->openPath_, errno));
    return;
  }
  if (count <= 0) {
    // The port polled readable but nothing waits: the other end is gone,
    // or the bytes were taken (Read, ClearBuffer) after the notice was sent.
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) < 0) {
      self->LoseConnection(commsg::ConnectionLost(LostCause::kIoError, self->openPath_, errno));
      return;
    }
    if (p.revents & POLLHUP) {
      self->LoseConnection(commsg::ConnectionLost(LostCause::kHangUp, self->openPath_, 0));
      return;
    }
    if (p.revents & (POLLERR | POLLNVAL)) {
      self->LoseConnection(commsg::ConnectionLost(LostCause::kError, self->openPath_, EIO));
      return;
    }
    if (p.revents & POLLIN) {
      // Bytes may have come in between the two looks; only a readable port
      // with still nothing waiting is at its end.
      if (ioctl(fd, FIONREAD, &count) != 0) {
        self->LoseConnection(commsg::ConnectionLost(LostCause::kIoError, self->openPath_, errno));
        return;
      }
      if (count <= 0) {
        self->LoseConnection(commsg::ConnectionLost(LostCause::kEndOfData, self->openPath_, 0));
        return;
      }
    }
  }

  int delayMs = 0;
  if (count > 0) {
    const uint64_t readBefore = self->bytesRead_;
    // A copy: the handler may replace it, or close or destroy the port.
    const auto handler = self->OnRxChar;
    if (handler) {
      try {
        handler(count);
      } catch (...) {
        // Keep receiving: a failed handler must not silence the port.
        if (shared->owner == self && shared->generation == generation) self->thread_->Rearm(0);
        throw;
      }
    }
    if (shared->owner != self || shared->generation != generation) return;
    if (self->bytesRead_ == readBefore) {
      int left = 0;
      if (ioctl(fd, FIONREAD, &left) != 0) {
        self->LoseConnection(commsg::ConnectionLost(LostCause::kIoError, self->openPath_, errno));
        return;
      }
      // Nothing was taken: offer the data again later, not at once, so an
      // unread queue does not keep both threads busy.
      if (left > 0) delayMs = kReadIntervalMs;
    }
  }
  self->thread_->Rearm(delayMs);
}

void TCustomComPort::LoseConnection(const std::string& reason) {
  Close();
  const auto handler = OnConnectionLost;  // may destroy the port
  if (handler) handler(reason);
}

}  // namespace vyo
