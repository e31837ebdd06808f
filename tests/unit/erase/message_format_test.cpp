#include "erase/message_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "erase/messages.h"

namespace erase {
namespace {

std::string Format(std::string_view text, std::vector<std::uint32_t> args = {}) {
  MessageBuffer out{};
  out.fill('@');
  const std::size_t length = FormatMessage(out, text, args);
  EXPECT_EQ(out[length], '\0');
  return std::string(out.data(), length);
}

TEST(FormatMessage, ConversionsAsTheWindowsFormatterWritesThem) {
  const struct {
    std::string_view format;
    std::vector<std::uint32_t> args;
    std::string expected;
  } cases[] = {
      {"(0x%02X)", {0xB2}, "(0xB2)"},
      {"(0x%02X)", {0x05}, "(0x05)"},
      {"%02X", {0x1FF}, "1FF"},  // a width is a minimum
      {"%x", {0xBEEF}, "beef"},
      {"%c\n", {'j'}, "j\n"},
      {"%c", {0x1E4}, "\xE4"},  // only the low byte is a character
      {"\\\\.\\LPT%u", {8}, "\\\\.\\LPT8"},
      {"%d|%i", {static_cast<std::uint32_t>(-42), 7}, "-42|7"},
      {"%05d", {static_cast<std::uint32_t>(-42)}, "-0042"},
      {"[%4u][%-4u]", {12, 34}, "[  12][34  ]"},
      {"%u", {4294967295u}, "4294967295"},
      {"100%%", {}, "100%"},
      {"%u and %u", {1}, "1 and 0"},  // a missing argument counts as 0
      {"%q", {}, "q"},
      {"end%", {}, "end"},
      {"", {}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Format(c.format, c.args), c.expected) << c.format;
}

TEST(FormatMessage, StopsAtTheBufferAndTerminatesIt) {
  const std::string long_text(300, 'a');
  EXPECT_EQ(Format(long_text), std::string(255, 'a'));
  EXPECT_EQ(Format("%300u", {1}), std::string(255, ' '));
}

TEST(FormatMessage, EveryQuestionFitsWhole) {
  for (std::uint32_t byte = 0; byte <= 0xFF; ++byte) {
    const std::string text = Format(messages::kQuestion, {byte});
    ASSERT_LT(text.size(), 255u);
    ASSERT_TRUE(text.ends_with("mit 0xFF)? J/N: ")) << byte;
  }
}

}  // namespace
}  // namespace erase
