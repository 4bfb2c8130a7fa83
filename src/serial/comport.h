// The serial port the unit appears as. One instance belongs to the main
// window; everything but the event thread runs on the main thread.
//
// Received data is announced, never read, by the event thread: it hands a
// notice to the main thread through the posting function given to the
// constructor, and the main thread reads the bytes waiting and calls
// OnRxChar with their number. A port that goes away (unplugged device,
// hang-up, I/O error) is closed on the main thread, which then calls
// OnConnectionLost.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/comthread.h"
#include "serial/errors.h"

namespace vyo {

// Waiting time after which the main thread is offered data again that it
// left unread when it was told about it.
constexpr int kReadIntervalMs = 200;
// A write waits this long at least for the device to take all the bytes,
// and longer for long writes: constant plus so much per byte.
constexpr int kWriteTimeoutMinMs = 1000;
constexpr int kWriteTotalConstantMs = 2;
constexpr int kWriteTotalMultiplierMs = 2;
// On close, output still queued for the device gets this long to go out.
constexpr int kCloseDrainMs = 500;
// Kernel and driver buffers stand in for the port's 4096-byte queues.
constexpr int kInputBufferSize = 4096;
constexpr int kOutputBufferSize = 4096;
// A rate read back within this many parts per thousand of the rate asked
// for is taken as accepted (drivers round to what their divisor gives).
constexpr unsigned kRateTolerancePerMille = 20;

class TCustomComPort {
 public:
  // Runs the given callable later on the main thread. Called from the event
  // thread; must be thread-safe and must not wait for the main thread.
  using PostFn = std::function<void(std::function<void()>)>;

  explicit TCustomComPort(PostFn post);
  ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // A name without a slash is a device under /dev ("ttyACM0"); a path is
  // used as it stands. Takes effect at the next open.
  void SetPort(std::string name);
  const std::string& Port() const { return port_; }
  std::string DevicePath() const;

  // Rate in bits per second used at the next open. Throws EComPort for a
  // rate not above zero.
  void SetCustomBaudRate(int rate);
  int CustomBaudRate() const { return baudRate_; }

  // true opens the port, false closes it; opening an open port and closing
  // a closed one do nothing. Opening throws EComPort and leaves the port
  // closed when the port is absent, in use, or refuses the settings.
  void SetConnected(bool connected);
  bool Connected() const { return connected_; }
  void Open();
  void Close();

  // Discards received and/or unsent data.
  void ClearBuffer(bool input, bool output);
  // Writes all `count` bytes, waiting for the device as needed; returns the
  // number written. Throws EComPort on an I/O error or when the device
  // stops taking data for longer than the write time-out.
  int Write(const void* buffer, int count);
  // Reads what is there now, up to `count` bytes, without waiting.
  int Read(void* buffer, int count);
  // Number of received bytes waiting to be read.
  int InputCount();

  // The operating-system descriptor, -1 when closed.
  int Handle() const { return fd_; }

  // Main thread: `count` bytes are waiting (always above zero).
  std::function<void(int count)> OnRxChar;
  // Main thread: the port was closed because the device went away.
  std::function<void(const std::string& reason)> OnConnectionLost;

 private:
  // State that notices posted to the main thread look at before acting:
  // they may run after the port was closed, reopened or destroyed.
  struct Shared {
    TCustomComPort* owner = nullptr;
    uint64_t generation = 0;  // changes at every open and close
  };

  void SetupComPort();
  void SetupBuffers();
  void SetupLine();
  void SetupTimeouts();
  void DrainOutput();

  // Event thread.
  void PostEvent(uint64_t generation, const ComEvent& event);
  // Main thread.
  static void Dispatch(const std::shared_ptr<Shared>& shared, uint64_t generation, const ComEvent& event);
  static void HandleRxChar(const std::shared_ptr<Shared>& shared, uint64_t generation);
  void LoseConnection(const std::string& reason);

  PostFn post_;
  std::shared_ptr<Shared> shared_;
  std::string port_;
  std::string openPath_;  // path of the open port, for messages
  int baudRate_ = 9600;
  int fd_ = -1;
  bool connected_ = false;
  bool exclusive_ = false;   // TIOCEXCL set by us, to be cleared on close
  uint64_t bytesRead_ = 0;   // counts reads, to see whether a receiver consumed data
  std::unique_ptr<TComThread> thread_;
};

}  // namespace vyo
