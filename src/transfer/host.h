// Everything the protocol and the transfer sessions need from the outside:
// the serial port, the clock and timers, letting pending events run, the log,
// message boxes, the progress bar and the configuration panel. The window,
// the command line and the tests each provide one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/panel.h"
#include "config/record.h"
#include "protocol/identification.h"

namespace vyo {

enum class TimerId { Timer1 = 0, Timer2 = 1, Timer3 = 2 };
constexpr int kTimerCount = 3;
// Intervals in milliseconds: upload pacing, delayed port close, download pacing.
constexpr int kTimerIntervalMs[kTimerCount] = {500, 50, 100};

enum class BoxIcon { None, Warning, Error, Information };

// How an operation ended, for front ends that wait for one (the command line).
enum class Outcome {
  Identified,          // an identification was handled
  OperationMode,       // the unit runs its application; the port will close
  UploadDone,          // closing packet acknowledged
  UploadFailed,        // "ERRO #0x02", or the block was refused before sending
  UploadNoConnection,  // "ERRO #0x01"
  ReadDone,            // record read back and valid: the panel holds it
  ReadFailed,          // "ERRO #0x04"
  ReadNoConnection,    // "ERRO #0x03"
  RecordInvalid,       // record read back failed its check
  ParameterInvalid,    // the panel's validation refused a field
  FirmwareRefused,     // no identified unit the image fits
  ConnectionLost,      // the port went away
};

class Host {
 public:
  virtual ~Host() = default;

  // Serial port.
  virtual bool PortOpen() = 0;
  virtual size_t PortWrite(const uint8_t* data, size_t n) = 0;  // 0 on failure
  virtual size_t PortRead(uint8_t* buf, size_t n) = 0;
  // Closes the port and brings the connection controls to their closed
  // state, logging "Conexão fechada...".
  virtual void Disconnect() = 0;

  // Clock and timers. An enabled timer calls the controller's handler
  // (Timer1Timer, Timer2Timer, Timer3Timer) every interval.
  virtual uint64_t NowMs() = 0;
  virtual void SetTimer(TimerId id, bool enabled) = 0;
  virtual bool TimerEnabled(TimerId id) = 0;
  // Lets pending events (received data, timer ticks, input) run.
  virtual void ProcessMessages() = 0;

  // Feedback. A log entry may hold "\r\n" between lines.
  virtual void Log(const std::string& text, bool red = false) = 0;
  virtual void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) = 0;
  virtual void SetProgressMax(int max) = 0;
  virtual void SetProgress(int position) = 0;

  // Configuration panel.
  virtual PanelValues ReadPanel() = 0;
  virtual void WritePanel(const PanelValues& values) = 0;
  virtual void ClearPanelField(PanelField field) = 0;
  virtual bool PresetChecked() = 0;
  virtual bool AutoCloseChecked() = 0;
  // The configuration button and the port list.
  virtual void SetConfigControlsEnabled(bool enabled) = 0;

  // Notifications (optional).
  virtual void UnitIdentified(const UnitInfo&) {}
  virtual void OperationEnded(Outcome, uint32_t /*transferType*/) {}
};

}  // namespace vyo
