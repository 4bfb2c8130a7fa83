#include <gtest/gtest.h>

#include "config/record.h"

namespace vyo {
namespace {

// Rewrites the record sum after a test has changed bytes 0..35.
void Reseal(Bytes& r) {
  const uint32_t sum = ByteSum(r.data(), 36);
  r[36] = uint8_t(sum >> 16);
  r[37] = uint8_t(sum >> 8);
  r[38] = uint8_t(sum);
}

TEST(ConfigRecord, DefaultsLayout) {
  const Bytes r = BuildRecord(DefaultPanel());
  ASSERT_EQ(r.size(), kRecordSize);
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 8), (Bytes{0xCA, 0xFE, 0xF0, 0xDA, 0x00, 0x1E, 0x01, 0x02}));
  // PING 60 s, RS232-A 115200 / 100, RS232-B 9600 / 100.
  EXPECT_EQ(Bytes(r.begin() + 8, r.begin() + 14), (Bytes{0x00, 60, 0x04, 0x80, 0x00, 96}));
  EXPECT_EQ(r[14], 12);
  EXPECT_EQ(r[15], 15);
  EXPECT_EQ(r[19], 120);
  EXPECT_EQ(r[25], 0x11);  // 4500 rpm
  EXPECT_EQ(r[26], 0x94);
  EXPECT_EQ(r[33], 0x03);  // 900 rpm
  EXPECT_EQ(r[34], 0x84);
  EXPECT_EQ(r[35], 10);
  const uint32_t sum = ByteSum(r.data(), 36);
  EXPECT_EQ(r[36], uint8_t(sum >> 16));
  EXPECT_EQ(r[37], uint8_t(sum >> 8));
  EXPECT_EQ(r[38], uint8_t(sum));
  for (size_t i = 39; i < kRecordSize; ++i) ASSERT_EQ(r[i], 0xFF) << "offset " << i;
  EXPECT_TRUE(CheckRecord(r.data(), r.size()));
}

TEST(ConfigRecord, FlagCodes) {
  PanelValues p = DefaultPanel();
  p.CB_BZ_VMX_IN = p.CB_BZ_VMX_OUT = p.CB_BZ_VMX_WH = p.CB_EV_VMX_IN = p.CB_EV_VMX_OUT = true;
  p.CB_BZ_RPX_IN = p.CB_BZ_RPX_OUT = p.CB_BZ_RPX_WH = p.CB_EV_RPX_IN = p.CB_EV_RPX_OUT = false;
  p.CB_BZ_VCH_IN = p.CB_EV_VCH_IN = false;
  p.CB_BZ_VCH_OUT = p.CB_EV_VCH_OUT = true;                   // 20 + 2
  p.CB_BZ_OSC_IN = p.CB_EV_OSC_IN = false;
  p.CB_BZ_OSC_WH = true;                                       // 40
  p.CB_EV_ACP = false;                                         // 10
  p.CB_BZ_ACN = false;                                         // 1
  const Bytes r = BuildRecord(p);
  EXPECT_EQ(r[18], 73);
  EXPECT_EQ(r[24], 0);
  EXPECT_EQ(r[21], 22);
  EXPECT_EQ(r[28], 40);
  EXPECT_EQ(r[31], 11);  // defaults: buzzer and event on entry
  EXPECT_EQ(r[16], 10);
  EXPECT_EQ(r[17], 1);
}

TEST(ConfigRecord, XorSumTrailer) {
  const uint8_t small[] = {0x01, 0x02, 0x03, 0xFF};
  EXPECT_EQ(XorSumTrailer(small, 4), (std::array<uint8_t, 5>{0xFF, 0x00, 0x00, 0x01, 0x05}));
  const Bytes ones(kRecordSize, 0xFF);  // 2032 * 255 = 0x0007E810, even count XORs to 0
  EXPECT_EQ(XorSumTrailer(ones.data(), ones.size()),
            (std::array<uint8_t, 5>{0x00, 0x00, 0x07, 0xE8, 0x10}));
  EXPECT_EQ(XorSumTrailer(nullptr, 0), (std::array<uint8_t, 5>{}));
}

TEST(ConfigRecord, CheckRefusals) {
  const Bytes good = BuildRecord(DefaultPanel());
  ASSERT_TRUE(CheckRecord(good.data(), good.size()));

  for (size_t i = 0; i < 4; ++i) {
    Bytes r = good;
    r[i] ^= 0x01;
    Reseal(r);
    EXPECT_FALSE(CheckRecord(r.data(), r.size())) << "marker " << i;
  }
  Bytes r = good;
  r[19] += 1;  // a field changed without its sum
  EXPECT_FALSE(CheckRecord(r.data(), r.size()));
  r = good;
  r[38] += 1;
  EXPECT_FALSE(CheckRecord(r.data(), r.size()));

  // Wrong sizes, including no data at all.
  EXPECT_FALSE(CheckRecord(good.data(), kRecordSize - 1));
  Bytes longer = good;
  longer.push_back(0xFF);
  EXPECT_FALSE(CheckRecord(longer.data(), longer.size()));
  EXPECT_FALSE(CheckRecord(nullptr, 0));
  EXPECT_FALSE(CheckRecord(nullptr, kRecordSize));
}

// Body length edges: the largest that fits (2023) is accepted with its sum
// at the very end; one more would put the sum outside the block. A length
// below 30 would leave fields unchecked and is refused.
TEST(ConfigRecord, CheckBodyLength) {
  auto withLength = [](uint32_t length) {
    Bytes r = BuildRecord(DefaultPanel());
    r[4] = uint8_t(length >> 8);
    r[5] = uint8_t(length);
    const size_t summed = std::min<size_t>(length + 6, kRecordSize - 3);
    const uint32_t sum = ByteSum(r.data(), summed);
    r[summed] = uint8_t(sum >> 16);
    r[summed + 1] = uint8_t(sum >> 8);
    r[summed + 2] = uint8_t(sum);
    return r;
  };
  for (const auto& [length, accepted] : std::initializer_list<std::pair<uint32_t, bool>>{
           {2023, true}, {31, true}, {2024, false}, {0xFFFF, false}, {29, false}, {0, false}}) {
    const Bytes r = withLength(length);
    EXPECT_EQ(CheckRecord(r.data(), r.size()), accepted) << length;
  }
}

TEST(ConfigRecord, DecodeRoundTripKeepsEngineBraking) {
  PanelValues current;  // nothing selected, empty boxes
  current.ED_VEBK = "77";
  current.ED_TEBK = "8";
  current.ED_REBK = "1900";
  current.CB_BZ_EBK_OUT = current.CB_EV_EBK_OUT = true;
  for (const PanelValues& source : {DefaultPanel(), PresetPanel()}) {
    const Bytes r = BuildRecord(source);
    const DecodedRecord d = DecodeRecord(r.data(), r.size(), current);
    PanelValues expected = source;
    expected.ED_VEBK = "77";
    expected.ED_TEBK = "8";
    expected.ED_REBK = "1900";
    expected.CB_BZ_EBK_IN = expected.CB_EV_EBK_IN = false;
    expected.CB_BZ_EBK_OUT = expected.CB_EV_EBK_OUT = true;
    EXPECT_EQ(d.values, expected);
    EXPECT_TRUE(d.notes.empty());
  }
}

TEST(ConfigRecord, DecodeUnknownValues) {
  Bytes r = BuildRecord(DefaultPanel());
  r[9] = 7;     // PING 7 s
  r[10] = 0;
  r[11] = 97;   // RS232-A 9700 baud
  r[19] = 200;  // speed beyond the panel's bound
  r[18] = 95;   // tens 9 = 1 + 8, units 5 = 1 + 4
  r[16] = 20;   // harsh acceleration has no buzzer-on-exit box
  Reseal(r);
  const DecodedRecord d = DecodeRecord(r.data(), r.size(), PanelValues{});
  EXPECT_EQ(d.values.CB_PING, -1);
  EXPECT_EQ(d.values.CB_A232, -1);
  EXPECT_EQ(d.values.CB_B232, 0);
  EXPECT_EQ(d.values.ED_VMX, "200");
  EXPECT_TRUE(d.values.CB_BZ_VMX_IN);
  EXPECT_FALSE(d.values.CB_BZ_VMX_OUT || d.values.CB_BZ_VMX_WH || d.values.CB_EV_VMX_OUT);
  EXPECT_TRUE(d.values.CB_EV_VMX_IN);
  EXPECT_FALSE(d.values.CB_BZ_ACP || d.values.CB_EV_ACP);
  EXPECT_EQ(d.notes, (std::vector<std::string>{
                         "Valor de PING desconhecido na configuração: 7",
                         "Valor de RS232-A desconhecido na configuração: 9700",
                         "Valor fora dos limites na configuração [Velocidade]: 200",
                         "Código de alertas desconhecido na configuração [Aceleração]: 20 "
                         "(opções desconhecidas desmarcadas)",
                         "Código de alertas desconhecido na configuração [Velocidade]: 95 "
                         "(opções desconhecidas desmarcadas)",
                     }));
  // The panel refuses to write back what it could not show.
  EXPECT_TRUE(ValidatePanel(d.values).has_value());
}

TEST(ConfigRecord, DecodeRefusedRecordThrows) {
  Bytes r = BuildRecord(DefaultPanel());
  r[0] = 0;
  EXPECT_THROW(DecodeRecord(r.data(), r.size(), DefaultPanel()), std::invalid_argument);
  EXPECT_THROW(DecodeRecord(r.data(), 10, DefaultPanel()), std::invalid_argument);
}

}  // namespace
}  // namespace vyo
