#include <gtest/gtest.h>

#include "protocol/frame.h"

namespace vyo {
namespace {

TEST(Frame, StartCommandIsTheEightKnownBytes) {
  EXPECT_EQ(BuildFrame(kCodeStart, nullptr, 0), (Bytes{0xBC, 0x21, 0x05, 0x00, 0x00, 0x00, 0x00, 0xE2}));
}

TEST(Frame, ChecksumIsTheLow24BitsOfTheByteSumBigEndian) {
  // 0xBC + 0x21 + 0x07 + 0x00 + 0x06 + 0xFF * 6 = 0x6E4
  const Bytes f = BuildFrame(kCodeRead, Bytes(6, 0xFF));
  ASSERT_EQ(f.size(), 14u);
  EXPECT_EQ(f[3], 0x00);
  EXPECT_EQ(f[4], 0x06);
  EXPECT_EQ(f[11], 0x00);
  EXPECT_EQ(f[12], 0x06);
  EXPECT_EQ(f[13], 0xE4);
  // A large payload carries into the upper byte.
  const Bytes big = BuildFrame(kCodeRead, Bytes(1019, 0xFF));
  const uint32_t sum = ByteSum(big.data(), big.size() - 3);
  EXPECT_GT(sum, 0xFFFFu);
  EXPECT_EQ(big[big.size() - 3], uint8_t(sum >> 16));
  EXPECT_EQ(big[big.size() - 2], uint8_t(sum >> 8));
  EXPECT_EQ(big[big.size() - 1], uint8_t(sum));
}

TEST(Frame, PacketCountsIncludeTheClosingPacket) {
  EXPECT_EQ(PacketCountFor(1), 2u);
  EXPECT_EQ(PacketCountFor(48), 2u);
  EXPECT_EQ(PacketCountFor(49), 3u);
  EXPECT_EQ(PacketCountFor(96), 3u);
  EXPECT_EQ(PacketCountFor(2032), 44u);
  EXPECT_EQ(PacketCountFor(89676), 1870u);
}

TEST(TransferIdentifier, FollowsTheDateTimeProductWithRotatingShift) {
  const std::string text = "08/12/202613:48:57";
  TransferIdentifier ids([&] { return text; }, [] { return 777u; });
  // Product of the signed characters 13, 0..12, in 32-bit wrap-around.
  uint32_t product = uint32_t(int32_t(static_cast<signed char>(text[13])));
  for (int i = 0; i <= 12; ++i) product *= uint32_t(int32_t(static_cast<signed char>(text[i])));
  std::vector<uint32_t> expected;
  for (int shift : {5, 6, 7, 8, 9, 10, 11, 5}) {
    uint32_t v = (product >> shift) & 0xFFFF;
    expected.push_back(v == 0 ? 777u % 0xFFFF : v);
  }
  for (uint32_t e : expected) EXPECT_EQ(ids.NewTransferIdentifier(0xFFFF), e);
}

TEST(TransferIdentifier, FallsBackToTheRandomSourceWhenTheProductIsZero) {
  // A text shorter than 14 characters leaves character 13 at zero.
  TransferIdentifier ids([] { return std::string("short"); }, [] { return 0x12345u; });
  EXPECT_EQ(ids.NewTransferIdentifier(0xFFFF), 0x12345u % 0xFFFF);
  EXPECT_EQ(ids.NewTransferIdentifier(0), 0u);
  EXPECT_EQ(ids.shift(), 7);
}

TEST(TransferIdentifier, DefaultTextIsDateThenTime) {
  const std::string t = TransferIdentifier::CurrentDateTimeText();
  ASSERT_EQ(t.size(), 18u);
  EXPECT_EQ(t[2], '/');
  EXPECT_EQ(t[12], ':');
}

}  // namespace
}  // namespace vyo
