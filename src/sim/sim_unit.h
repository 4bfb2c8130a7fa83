// The unit's side of the serial protocol, without any I/O: it is fed the
// bytes the tool writes and the current time, and hands back the bytes to
// write, each with the time it is due. The program around it only reads,
// writes and waits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/record.h"
#include "protocol/frame.h"
#include "protocol/receiver.h"

namespace vyo::sim {

constexpr uint32_t kDefaultBaseAddress = 0x0803F000;
// Identification frames go out this often until the tool's first frame.
constexpr uint64_t kIdentificationPeriodMs = 300;
// After a firmware upload the unit restarts and identifies itself again
// this long after the closing acknowledgement.
constexpr uint64_t kRestartPauseMs = 200;
// Time between the two halves of a split answer.
constexpr uint64_t kSplitGapMs = 3;
// The tool reads the record in blocks of this size (the last one shorter).
constexpr uint32_t kReadBlockSize = 500;
// Largest read answer: the payload of a frame is at most 1019 bytes, of
// which 6 carry the address and the count.
constexpr uint32_t kMaxReadSize = uint32_t(kMaxLengthPlusHeader - kFrameHeaderSize - 6);
// Upper bound for one upload; a firmware image is below 100 kB.
constexpr size_t kMaxUploadBytes = 4u << 20;

using Version = std::array<uint8_t, 4>;  // major, minor, release, build
using Trailer = std::array<uint8_t, 5>;

// Everything the unit remembers across restarts.
struct UnitState {
  uint8_t mode = 1;  // non-zero: update mode (loader); 0: operation mode
  std::array<uint32_t, 3> id{0x0041002A, 0x33325117, 0x34383632};
  std::string text1 = "VYO";
  std::string text2 = "SIMULADO";
  Version version{4, 0, 2, 42};
  uint32_t baseAddress = kDefaultBaseAddress;
  Bytes record = Bytes(kRecordSize, 0xFF);

  // The last firmware upload that reached its closing packet.
  bool firmwareAttempted = false;
  uint32_t lastFirmwareSize = 0;
  bool lastFirmwareOk = false;
  // The image installed by the last good firmware upload (empty if none)
  // and the closing bytes it came with.
  Bytes firmware;
  Trailer firmwareTrailer{};

  bool operator==(const UnitState&) const = default;
};

// Faults to inject. Packet numbers and read blocks listed here are hit
// once each over the whole run.
struct Faults {
  std::set<uint32_t> dropAck;     // acknowledgement of these packets not sent
  std::set<uint32_t> nack;        // these packets refused with a nack
  std::set<uint32_t> corruptAck;  // the answer to these packets has a bad checksum
  std::set<uint32_t> dropRead;    // read answers for these blocks (1..5) not sent
  std::optional<uint32_t> silentAfter;  // no answers at all once this packet is accepted
  std::optional<uint32_t> vanishAfter;  // the unit disappears once this packet is acknowledged
  bool split = false;    // every frame written in two pieces
  bool merge = false;    // every answer written twice in one write
  bool garbage = false;  // noise bytes before every frame
  uint32_t latencyMs = 0;
  double chaos = 0;      // probability per answer of one random fault
  uint64_t seed = 1;
};

struct Stats {
  uint64_t framesReceived = 0;   // valid frames addressed to the unit
  uint64_t framesIgnored = 0;    // valid frames addressed elsewhere, unknown codes
  uint64_t packetsReceived = 0;  // upload packets, repeats included
  uint64_t acksSent = 0;
  uint64_t nacksSent = 0;
  uint64_t transfersCompleted = 0;
  uint64_t transfersFailed = 0;  // closing bytes did not match, wrong size
  uint64_t readsAnswered = 0;
  uint64_t identificationsSent = 0;
  uint64_t operationNotices = 0;
  uint64_t faultsInjected = 0;
  std::map<std::string, uint64_t> faultsByKind;
};

// One write to the port.
struct Write {
  uint64_t dueMs = 0;
  Bytes bytes;                  // may be empty for a write that only carries a flag
  bool identification = false;  // unasked: may be dropped when the port is not drained
  bool transferDone = false;    // acknowledges the closing packet of a stored upload
  bool vanish = false;          // the unit disappears once this has gone out
};

class SimUnit {
 public:
  using Logger = std::function<void(const std::string&)>;

  explicit SimUnit(UnitState state = {}, Faults faults = {},
                   std::optional<Version> reidentify = std::nullopt);

  // The unit is plugged in: identification frames start `delayMs` from
  // now and repeat until the tool's first frame.
  void PowerUp(uint64_t nowMs, uint64_t delayMs = 0);
  // Unplugged: partial frames, an open transfer and unsent writes are lost.
  void PowerDown();
  bool powered() const { return powered_; }

  // Bytes written by the tool, in any pieces.
  void Receive(const uint8_t* data, size_t n, uint64_t nowMs);
  // Runs the identification timer.
  void Tick(uint64_t nowMs);
  // Writes due at `nowMs`, in order.
  std::vector<Write> TakeDue(uint64_t nowMs);
  // The earliest time at which Tick or TakeDue has something to do.
  std::optional<uint64_t> NextDeadline() const;

  // True once after each change of the remembered state.
  bool TakeStateChanged();
  const UnitState& state() const { return state_; }
  const Stats& stats() const { return stats_; }
  bool silent() const { return silent_; }
  bool identifying() const { return identifying_; }

  void SetLogger(Logger log) { log_ = std::move(log); }

  // The identification payload: mode, three identifier words, two
  // 12-character texts, version, base address (45 bytes).
  static Bytes IdentificationPayload(const UnitState& s);

 private:
  enum class Phase { None, Receiving, Completed, Discarded };
  struct Transfer {
    Phase phase = Phase::None;
    uint8_t type = 0;
    uint32_t token = 0;
    uint32_t count = 0;
    uint32_t lastAccepted = 0;
    Bytes data;
  };
  enum class ChaosFault { None, Drop, Nack, Split, Merge, Latency, Garbage, Corrupt };
  struct AnswerInfo {
    std::optional<uint32_t> packet;     // upload packet answered
    std::optional<uint32_t> readBlock;  // read block answered
    bool transferDone = false;
    bool vanish = false;
  };

  void HandleFrame(const Frame& f, uint64_t nowMs);
  void HandlePacket(const Frame& f, uint64_t nowMs, ChaosFault chaos);
  void HandleRead(const Frame& f, uint64_t nowMs, ChaosFault chaos);
  void Accept(uint32_t number, const Bytes& data, uint64_t nowMs, ChaosFault chaos);
  void Ack(uint32_t number, uint32_t packet, uint64_t nowMs, ChaosFault chaos,
           bool transferDone = false, bool vanish = false);
  void Nack(uint32_t number, std::optional<uint32_t> packet, uint64_t nowMs, ChaosFault chaos);
  void Answer(uint8_t code, const Bytes& payload, const AnswerInfo& info, uint64_t nowMs,
              ChaosFault chaos);
  void Emit(Bytes frame, uint64_t dueMs, bool transportFaults, bool random, Write flags);
  void PrependNoise(Bytes& frame);
  void CountFault(const char* kind);
  ChaosFault DrawChaos(bool packet);
  uint64_t Random();
  void Log(const std::string& line);

  UnitState state_;
  Faults faults_;
  std::optional<Version> reidentify_;
  Stats stats_;
  FrameReceiver rx_;
  Transfer transfer_;
  std::vector<Write> out_;  // sorted by due time
  uint64_t lastDueMs_ = 0;
  bool powered_ = false;
  bool identifying_ = false;
  uint64_t nextIdentificationMs_ = 0;
  bool silent_ = false;
  bool vanishing_ = false;
  bool stateChanged_ = false;
  uint64_t rng_;
  Logger log_;
};

}  // namespace vyo::sim
