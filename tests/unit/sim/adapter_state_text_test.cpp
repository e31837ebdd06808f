#include <gtest/gtest.h>

#include <string>

#include "sim/adapter/ctl/state_text.h"

namespace tarnel_sim {
namespace {

TEST(AdapterStateText, FormatsTwoLines) {
  std::array<std::uint8_t, kRegisterCount> registers{};
  registers[1] = 0xA5;
  registers[10] = 0x01;
  registers[15] = 0x0F;
  char text[kRegisterLineLength + 4];
  const std::size_t length = FormatState(registers, 0xC2, text);
  EXPECT_EQ(std::string(text, length), "00 A5 00 00 00 00 00 00 00 00 01 00 00 00 00 0F\nC2\n");
  char small[kRegisterLineLength + 3];
  EXPECT_EQ(FormatState(registers, 0xC2, small), 0u);
}

TEST(AdapterStateText, ParsesRegisterValues) {
  std::array<std::uint8_t, kRegisterCount> values{};
  ASSERT_TRUE(ParseRegisterValues("00 a5 4 00 00 00 00 00 00 00 23  00 00 00 00 FF", values));
  EXPECT_EQ(values[1], 0xA5);
  EXPECT_EQ(values[2], 0x04);
  EXPECT_EQ(values[10], 0x23);
  EXPECT_EQ(values[15], 0xFF);
  for (const char* bad : {"", "00", "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
                          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
                          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 100",
                          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0G",
                          "00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00"}) {
    std::array<std::uint8_t, kRegisterCount> untouched{};
    untouched[0] = 0x77;
    EXPECT_FALSE(ParseRegisterValues(bad, untouched)) << '"' << bad << '"';
    EXPECT_EQ(untouched[0], 0x77) << "a failed parse changes nothing";
  }
}

TEST(AdapterStateText, ParsesSingleValues) {
  std::uint8_t byte = 0;
  EXPECT_TRUE(ParseHexByte("c2", byte));
  EXPECT_EQ(byte, 0xC2);
  for (const char* bad : {"", "0x1", "123", "G", " 1"})
    EXPECT_FALSE(ParseHexByte(bad, byte)) << bad;

  std::uint8_t number = 9;
  EXPECT_TRUE(ParseLptNumber("0", number));
  EXPECT_EQ(number, 0);
  EXPECT_TRUE(ParseLptNumber("255", number));
  EXPECT_EQ(number, 255);
  for (const char* bad : {"", "256", "-1", "2a", "1000"})
    EXPECT_FALSE(ParseLptNumber(bad, number)) << bad;

  EepromFailure failure = EepromFailure::kNone;
  EXPECT_TRUE(ParseFailure("write", failure));
  EXPECT_EQ(failure, EepromFailure::kWrite);
  EXPECT_FALSE(ParseFailure("READ", failure));
  EXPECT_FALSE(ParseFailure("", failure));

  std::uint16_t period = 7;
  EXPECT_TRUE(ParseAnimationPeriod("off", period));
  EXPECT_EQ(period, 0);
  EXPECT_TRUE(ParseAnimationPeriod("65535", period));
  EXPECT_EQ(period, 65535);
  for (const char* bad : {"", "0", "65536", "100000", "OFF", "5ms"})
    EXPECT_FALSE(ParseAnimationPeriod(bad, period)) << bad;
  EXPECT_EQ(period, 65535);
}

}  // namespace
}  // namespace tarnel_sim
