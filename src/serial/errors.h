// Failures of the serial port component. Every one carries the component's
// error number and the operating-system error (an errno value, 0 if none);
// what() is a text the window and the command line show as it stands.
#pragma once

#include <stdexcept>
#include <string>

namespace vyo {

// Error numbers of the serial port component.
enum ComError : int {
  kComErrOpen = 1,          // the port could not be opened (absent, busy, no permission)
  kComErrNotOpen = 2,       // an operation that needs an open port found it closed
  kComErrSettings = 3,      // the line settings or time-outs were refused
  kComErrBaudRate = 4,      // the device refused the rate
  kComErrWrite = 5,         // writing failed
  kComErrWriteTimeout = 6,  // the device stopped taking data
  kComErrRead = 7,          // reading or asking for the bytes waiting failed
  kComErrPurge = 8,         // discarding the buffers failed
  kComErrThread = 9,        // the event thread could not be started
  kComErrInvalidParam = 10, // a bad argument (negative count, rate not above zero)
  kComErrEnum = 23,         // the list of serial ports could not be read
};

class EComPort : public std::runtime_error {
 public:
  EComPort(int code, int osError, const std::string& message)
      : std::runtime_error(message), code_(code), osError_(osError) {}

  int code() const noexcept { return code_; }
  int osError() const noexcept { return osError_; }

 private:
  int code_;
  int osError_;
};

}  // namespace vyo
