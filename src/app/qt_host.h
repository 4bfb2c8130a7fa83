// The part of the host shared by the window and the command line: the
// serial port, Qt timers, the monotonic clock and the event loop. Log,
// message boxes, progress and the panel are left to each front end.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <string>

#include "serial/comport.h"
#include "transfer/controller.h"

namespace vyo {

class QtHost : public Host {
 public:
  explicit QtHost(ControllerOptions options = {});
  ~QtHost() override;

  Controller& controller() { return *controller_; }
  TCustomComPort& port() { return port_; }

  // Opens the port by name (a name without a slash means /dev/NAME),
  // clears its buffers and logs "Conexão aberta...". On failure the port
  // stays closed, the reason is logged and returned in `error`.
  bool OpenPort(const std::string& name, std::string* error = nullptr);
  // Closes the port and logs "Conexão fechada..." when it was open.
  void ClosePort();
  bool IsOpen() const { return port_.Connected(); }

  // Host
  bool PortOpen() override { return port_.Connected(); }
  size_t PortWrite(const uint8_t* data, size_t n) override;
  size_t PortRead(uint8_t* buf, size_t n) override;
  void Disconnect() override { ClosePort(); }
  uint64_t NowMs() override { return uint64_t(clock_.elapsed()); }
  void SetTimer(TimerId id, bool enabled) override;
  bool TimerEnabled(TimerId id) override;
  void ProcessMessages() override;

 protected:
  // The connection opened or closed (for the window's controls).
  virtual void ConnectionChanged(bool /*open*/) {}
  QObject* context() { return &context_; }

 private:
  QObject context_;  // receives the serial thread's posted events
  QTimer timers_[kTimerCount];
  QElapsedTimer clock_;
  TCustomComPort port_;
  std::unique_ptr<Controller> controller_;
};

}  // namespace vyo
