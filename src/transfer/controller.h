// The tool's protocol logic: receive handler and identification, the paced
// upload of a block (firmware or configuration record), the block-wise read
// of the configuration record, the start command. One session at a time; all
// of it runs on the main thread, driven by the front end's events.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/panel.h"
#include "config/presets.h"
#include "config/record.h"
#include "protocol/frame.h"
#include "protocol/identification.h"
#include "protocol/receiver.h"
#include "transfer/firmware.h"
#include "transfer/host.h"

namespace vyo {

constexpr uint32_t kNoPacket = 0xFFFFFF;  // never a real packet number
constexpr uint32_t kMaxPackets = 0xFFFF;  // the packet number is 16 bits on the wire
constexpr uint32_t kReadBlockSize = 500;

constexpr uint32_t kTransferFirmware = 1;
constexpr uint32_t kTransferConfig = 6;

struct ControllerOptions {
  // After an identification, follow the version gate (firmware upload or
  // configuration read). Off for front ends that choose the operation.
  bool followGate = true;
  // A record read back that fails its check is replaced by the defaults (or
  // the preset) and written to the unit. Off: only reported.
  bool replaceInvalidRecord = true;
};

class Controller {
 public:
  explicit Controller(Host& host, ControllerOptions options = {});
  Controller(Host& host, ControllerOptions options, TransferIdentifier ids);

  // Event handlers.
  void VCPRxChar(int count);
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();
  void B_FwTxClick();
  void B_FwJumpClick();
  void B_GetConfigClick();
  void B_SetConfigClick();
  // The front end closed the port because the device went away.
  void PortLost();
  // A port was opened: a new connection, nothing identified yet. A session
  // left running from the previous connection ends with its no-connection
  // error.
  void PortOpened();
  // Acts on the identified unit's version: firmware upload, configuration
  // read, or nothing. Runs by itself after an identification when the
  // options say so.
  void FollowGate();

  // Upload session.
  void TxInit();
  void SendPackage();
  // Download session.
  void RequestPackage();

  void SetFirmware(FirmwareImage image) { firmware_ = std::move(image); }
  const FirmwareImage& firmware() const { return firmware_; }
  ControllerOptions& options() { return options_; }

  bool identified() const { return identified_; }
  const UnitInfo& unit() const { return unit_; }
  bool UploadRunning() const { return session_ == Session::Upload; }
  bool DownloadRunning() const { return session_ == Session::Download; }
  bool Busy() const { return session_ != Session::None; }
  const Bytes& configBuffer() const { return configBuffer_; }

  // Session state, readable for diagnostics and tests.
  uint32_t transferType = 0;
  uint32_t totalLength = 0;
  std::array<uint8_t, kTrailerSize> trailerBytes{};
  uint32_t packetCount = 0;
  uint32_t currentPacket = 0;
  uint32_t lastAckedPacket = kNoPacket;
  bool ackReceived = false;
  uint32_t retryCount = 0;
  uint32_t sessionToken = 0;
  uint32_t nackCount = 0, code10Count = 0, code15Count = 0, code20Count = 0;
  uint32_t baseAddress = 0;

 private:
  enum class Session { None, Upload, Download };

  void Dispatch(const Frame& f);
  void HandleIdentification(const Bytes& payload);
  void HandleAck(const Bytes& payload);
  void HandleNack();
  void HandleReadAnswer(const Bytes& payload);
  void OperationModeReport();
  void FinishDownload();
  void StartUpload(uint32_t type, const Bytes& data, const std::array<uint8_t, kTrailerSize>& trailer);
  void EndSession(Outcome outcome);
  void LetMessagesRun();
  void PacingTick(Session session, TimerId timer, void (Controller::*send)(), Outcome noConnection,
                  Outcome failed);

  Host& host_;
  ControllerOptions options_;
  TransferIdentifier ids_;
  FrameReceiver receiver_;
  FirmwareImage firmware_;

  Session session_ = Session::None;
  uint32_t sessionSerial_ = 0;  // counts the sessions started
  Bytes source_;  // the block being uploaded
  bool identified_ = false;
  UnitInfo unit_;
  Bytes configBuffer_;
  std::array<bool, 5> blockReceived_{};
  std::array<bool, 5> blockRequested_{};  // read requests of this read that went out
  bool updatingLogged_ = false;
  // The current upload packet's frame was written whole at least once,
  // first after `packetSentEvent_` receive events.
  bool packetWritten_ = false;
  uint64_t packetSentEvent_ = 0;
  uint64_t rxEvents_ = 0;      // receive events read so far
  uint64_t dispatchEvent_ = 0; // the event of the frame being dispatched; 0: earlier
  int messageDepth_ = 0;
};

}  // namespace vyo
