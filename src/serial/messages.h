// The texts of the serial port component, kept together so that they read
// alike. Users are field technicians: each text says what happened and, when
// there is something to do, what to do.
#pragma once

#include <string>

#include "serial/errors.h"

namespace vyo::commsg {

EComPort NoPortChosen();
EComPort OpenFailed(const std::string& path, int err);
EComPort NotOpen();
EComPort InvalidParam(const std::string& what);
EComPort SettingsFailed(const std::string& path, int err);
EComPort RateRefused(const std::string& path, unsigned wanted, unsigned got, int err);
EComPort WriteFailed(const std::string& path, int err);
EComPort WriteTimedOut(const std::string& path, int written, int count);
EComPort ReadFailed(const std::string& path, int err);
EComPort PurgeFailed(const std::string& path, int err);
EComPort ThreadFailed(const std::string& path, int err);
EComPort EnumFailed(const std::string& dir, int err);

// Why an open port was closed under the user's feet.
enum class LostCause { kHangUp, kError, kEndOfData, kIoError, kWaitFailed };
std::string ConnectionLost(LostCause cause, const std::string& path, int err);

}  // namespace vyo::commsg
