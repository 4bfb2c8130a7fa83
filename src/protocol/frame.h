// Frames exchanged with the unit: start byte, address, code, big-endian
// length, payload and a 24-bit additive checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vyo {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kStartByte = 0xBC;
// High nibble: sender station, low nibble: receiving station.
// The tool is station 2, the unit station 1.
constexpr uint8_t kToolAddress = 0x21;
constexpr uint8_t kUnitAddress = 0x12;
constexpr uint8_t kToolStation = 2;
constexpr uint8_t kUnitStation = 1;

constexpr size_t kFrameHeaderSize = 5;    // start, address, code, length (2)
constexpr size_t kFrameChecksumSize = 3;
constexpr size_t kFrameOverhead = kFrameHeaderSize + kFrameChecksumSize;
constexpr size_t kMaxLengthPlusHeader = 1024;  // received length + 5 at most

// Frame codes.
enum Code : uint8_t {
  kCodeFirmwarePacket = 1,   // tool -> unit
  kCodeAck = 2,              // unit -> tool
  kCodeNack = 3,             // unit -> tool
  kCodeIdentification = 4,   // unit -> tool
  kCodeStart = 5,            // tool -> unit, leave update mode
  kCodeConfigPacket = 6,     // tool -> unit
  kCodeRead = 7,             // both ways: request and answer
  kCodeOperationMode = 11,   // unit -> tool
};

// Upload packets carry at most this many bytes of the block.
constexpr uint32_t kPacketDataSize = 48;
constexpr size_t kTrailerSize = 5;
constexpr size_t kUploadHeaderSize = 6;  // token, packet number, packet count

// 32-bit sum of the bytes, each taken as 0..255.
uint32_t ByteSum(const uint8_t* data, size_t n);

// Builds start byte, address, code, length, payload and checksum. A payload
// longer than a receiver accepts (1,019 bytes) throws std::length_error.
Bytes BuildFrame(uint8_t code, const uint8_t* payload, size_t n,
                 uint8_t address = kToolAddress);
inline Bytes BuildFrame(uint8_t code, const Bytes& payload,
                        uint8_t address = kToolAddress) {
  return BuildFrame(code, payload.data(), payload.size(), address);
}

// Number of packets for a block of `totalLength` bytes: the data packets
// (48 bytes each, the last one shorter) plus the trailer packet.
uint64_t PacketCountFor(uint64_t totalLength);

// Big-endian helpers.
inline void PutBE16(Bytes& out, uint32_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
inline void PutBE32(Bytes& out, uint32_t v) {
  out.push_back(uint8_t(v >> 24));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
inline uint32_t GetBE16(const uint8_t* p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Draws the 16-bit transfer identifier carried by every packet of an
// upload. The product of the characters of the current date-then-time text
// is shifted by a rotating amount (5..11) and masked; a zero result falls
// back to a pseudo-random number. Both sources can be replaced for tests.
class TransferIdentifier {
 public:
  using TextSource = std::function<std::string()>;
  using RandomSource = std::function<uint32_t()>;

  TransferIdentifier();
  TransferIdentifier(TextSource dateTimeText, RandomSource random);

  uint32_t NewTransferIdentifier(uint32_t mask);
  int shift() const { return shift_; }

  // Local date followed at once by the local time, "dd/mm/yyyyhh:mm:ss".
  static std::string CurrentDateTimeText();

 private:
  TextSource text_;
  RandomSource random_;
  int shift_ = 5;
};

}  // namespace vyo
