#include "protocol/receiver.h"

namespace vyo {

FrameReceiver::FrameReceiver(uint8_t station, uint64_t gapMs)
    : station_(station & 0x0F), gapMs_(gapMs) {}

void FrameReceiver::Reset() { pending_.clear(); }

ReceiveResult FrameReceiver::Feed(const uint8_t* data, size_t n, uint64_t nowMs) {
  ReceiveResult r;
  // A partial frame older than the read interval will not be completed any
  // more: its start byte is dropped. The bytes behind it are searched again,
  // since a stray start byte in noise may have hidden whole frames there.
  if (!pending_.empty() && nowMs - lastMs_ > gapMs_) pending_.erase(pending_.begin());
  lastMs_ = nowMs;
  if (n == 0) {
    r.partialPending = !pending_.empty();
    return r;
  }

  const bool hadPending = !pending_.empty();
  const size_t earlierBytes = pending_.size();
  if (!hadPending && data[0] != kStartByte) r.badStart = true;

  Bytes& buf = pending_;
  buf.insert(buf.end(), data, data + n);

  size_t pos = 0;
  size_t firstFrameEnd = 0;  // end offset of the first frame handled in this event
  bool frameSeen = false;
  const size_t size = buf.size();
  while (pos < size) {
    if (buf[pos] != kStartByte) {
      ++pos;
      continue;
    }
    const size_t avail = size - pos;
    if (avail < kFrameHeaderSize) break;  // header not yet whole
    const size_t length = GetBE16(&buf[pos + 3]);
    if (length + kFrameHeaderSize > kMaxLengthPlusHeader) {
      ++pos;  // cannot be a frame: look for the next start byte
      continue;
    }
    const size_t total = length + kFrameOverhead;
    if (avail < total) break;  // wait for the rest
    const uint8_t* f = &buf[pos];
    const uint32_t sum = ByteSum(f, length + kFrameHeaderSize) & 0xFFFFFF;
    const uint32_t carried = (uint32_t(f[total - 3]) << 16) | (uint32_t(f[total - 2]) << 8) | f[total - 1];
    if (sum != carried) {
      ++pos;
      continue;
    }
    if (!frameSeen) {
      frameSeen = true;
      firstFrameEnd = pos + total;
    }
    if ((f[1] & 0x0F) != station_) {
      ++r.invalidDestination;
    } else {
      Frame fr;
      fr.address = f[1];
      fr.code = f[2];
      fr.payload.assign(f + kFrameHeaderSize, f + kFrameHeaderSize + length);
      r.frames.push_back(std::move(fr));
      if (pos + total <= earlierBytes) ++r.earlierFrames;
    }
    pos += total;
  }
  // Anything behind the first frame (a second frame, garbage or the start
  // of another frame) came in the same event.
  const bool bytesAfterFrame = frameSeen && size > firstFrameEnd;

  buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(pos));
  const int handled = static_cast<int>(r.frames.size()) + r.invalidDestination;
  r.partialPending = !buf.empty();
  r.shortEvent = n < kFrameOverhead && handled == 0;
  r.extraBytes = handled > 1 || bytesAfterFrame;
  return r;
}

}  // namespace vyo
