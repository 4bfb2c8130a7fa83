#include "app/qt_host.h"

#include <QCoreApplication>

namespace vyo {

QtHost::QtHost(ControllerOptions options)
    : port_([this](std::function<void()> fn) {
        // Runs on the serial event thread: hand the event to the main thread.
        QMetaObject::invokeMethod(&context_, std::move(fn), Qt::QueuedConnection);
      }) {
  clock_.start();
  controller_ = std::make_unique<Controller>(*this, options);
  port_.SetCustomBaudRate(3686400);
  for (int i = 0; i < kTimerCount; ++i) {
    timers_[i].setInterval(kTimerIntervalMs[i]);
    timers_[i].setTimerType(Qt::PreciseTimer);
  }
  QObject::connect(&timers_[0], &QTimer::timeout, &context_, [this] { controller_->Timer1Timer(); });
  QObject::connect(&timers_[1], &QTimer::timeout, &context_, [this] { controller_->Timer2Timer(); });
  QObject::connect(&timers_[2], &QTimer::timeout, &context_, [this] { controller_->Timer3Timer(); });
  port_.OnRxChar = [this](int count) { controller_->VCPRxChar(count); };
  port_.OnConnectionLost = [this](const std::string& reason) {
    Log(reason, true);
    Log("Conexão fechada...");
    ConnectionChanged(false);
    controller_->PortLost();
  };
}

QtHost::~QtHost() {
  for (QTimer& t : timers_) t.stop();
  port_.OnRxChar = nullptr;
  port_.OnConnectionLost = nullptr;
  port_.SetConnected(false);
}

bool QtHost::OpenPort(const std::string& name, std::string* error) {
  if (port_.Connected()) return true;
  try {
    port_.SetPort(name);
    port_.SetConnected(true);
    port_.ClearBuffer(true, true);
  } catch (const EComPort& e) {
    port_.SetConnected(false);
    Log(e.what(), true);
    if (error) *error = e.what();
    return false;
  }
  controller_->PortOpened();
  Log("Conexão aberta...");
  ConnectionChanged(true);
  return true;
}

void QtHost::ClosePort() {
  if (!port_.Connected()) return;
  port_.SetConnected(false);
  Log("Conexão fechada...");
  ConnectionChanged(false);
}

size_t QtHost::PortWrite(const uint8_t* data, size_t n) {
  try {
    return size_t(port_.Write(data, int(n)));
  } catch (const EComPort& e) {
    // The session notices through its acknowledgements; the reason goes
    // to the log so the technician sees why.
    Log(e.what(), true);
    return 0;
  }
}

size_t QtHost::PortRead(uint8_t* buf, size_t n) {
  try {
    const int got = port_.Read(buf, int(n));
    return got > 0 ? size_t(got) : 0;
  } catch (const EComPort& e) {
    Log(e.what(), true);
    return 0;
  }
}

void QtHost::SetTimer(TimerId id, bool enabled) {
  QTimer& t = timers_[int(id)];
  if (enabled && !t.isActive()) t.start();
  else if (!enabled) t.stop();
}

bool QtHost::TimerEnabled(TimerId id) { return timers_[int(id)].isActive(); }

void QtHost::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

}  // namespace vyo
