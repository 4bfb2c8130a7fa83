#include "protocol/frame.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <stdexcept>

namespace vyo {

uint32_t ByteSum(const uint8_t* data, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += data[i];
  return sum;
}

Bytes BuildFrame(uint8_t code, const uint8_t* payload, size_t n, uint8_t address) {
  if (n + kFrameHeaderSize > kMaxLengthPlusHeader)
    throw std::length_error("frame payload of " + std::to_string(n) + " bytes exceeds the frame limit");
  Bytes f;
  f.reserve(n + kFrameOverhead);
  f.push_back(kStartByte);
  f.push_back(address);
  f.push_back(code);
  PutBE16(f, uint32_t(n));
  f.insert(f.end(), payload, payload + n);
  const uint32_t sum = ByteSum(f.data(), f.size());
  f.push_back(uint8_t(sum >> 16));
  f.push_back(uint8_t(sum >> 8));
  f.push_back(uint8_t(sum));
  return f;
}

uint64_t PacketCountFor(uint64_t totalLength) {
  return totalLength / kPacketDataSize + (totalLength % kPacketDataSize ? 1 : 0) + 1;
}

TransferIdentifier::TransferIdentifier()
    : TransferIdentifier(&TransferIdentifier::CurrentDateTimeText, nullptr) {}

TransferIdentifier::TransferIdentifier(TextSource dateTimeText, RandomSource random)
    : text_(std::move(dateTimeText)), random_(std::move(random)) {
  if (!random_) {
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    random_ = [engine] { return uint32_t((*engine)()); };
  }
}

std::string TransferIdentifier::CurrentDateTimeText() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d%02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

uint32_t TransferIdentifier::NewTransferIdentifier(uint32_t mask) {
  // Zero-filled buffer: characters past the end of the text count as 0.
  char c[14] = {};
  const std::string text = text_ ? text_() : std::string();
  for (size_t i = 0; i < 14 && i < text.size(); ++i) c[i] = text[i];

  uint32_t product = uint32_t(int32_t(static_cast<signed char>(c[13])));
  for (int i = 0; i <= 12; ++i)
    product *= uint32_t(int32_t(static_cast<signed char>(c[i])));

  uint32_t result = (product >> shift_) & mask;
  shift_ = shift_ < 11 ? shift_ + 1 : 5;
  if (result == 0) result = mask == 0 ? 0 : random_() % mask;
  return result;
}

}  // namespace vyo
