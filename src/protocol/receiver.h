// Turns the bytes of successive receive events into frames. Bytes of a
// frame that has begun but is not yet whole are kept for the next event;
// several frames in one event are all returned, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/frame.h"

namespace vyo {

struct Frame {
  uint8_t address = 0;
  uint8_t code = 0;
  Bytes payload;
};

// What one receive event gave.
struct ReceiveResult {
  std::vector<Frame> frames;   // accepted frames, in order
  int invalidDestination = 0;  // whole frames addressed to another station
  bool shortEvent = false;     // fewer than 8 bytes and no frame completed
  bool badStart = false;       // did not start with 0xBC and no frame was pending
  bool extraBytes = false;     // more than one frame, or bytes after a frame
  bool partialPending = false; // a started frame waits for more bytes
  // How many of `frames`, from the first, lay whole in bytes of earlier
  // events: found again behind a start byte dropped when its frame timed
  // out. They were sent before anything written since those bytes came.
  size_t earlierFrames = 0;
};

class FrameReceiver {
 public:
  // `station`: the low nibble a frame's address must carry to be ours.
  // `gapMs`: a pending partial frame is dropped when the next bytes come
  // later than this after the previous ones.
  explicit FrameReceiver(uint8_t station = kToolStation, uint64_t gapMs = 200);

  ReceiveResult Feed(const uint8_t* data, size_t n, uint64_t nowMs);
  // Forgets any partial frame (a new session starts).
  void Reset();
  bool PartialPending() const { return !pending_.empty(); }

 private:
  uint8_t station_;
  uint64_t gapMs_;
  uint64_t lastMs_ = 0;
  Bytes pending_;
};

}  // namespace vyo
