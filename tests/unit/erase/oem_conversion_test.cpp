#include "erase/oem_conversion.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "erase/messages.h"

namespace erase {
namespace {

std::string Convert(std::string text, unsigned code_page) {
  const OemTable* table = OemTableFor(code_page);
  EXPECT_NE(table, nullptr);
  if (table) AnsiToOem(text, *table);
  return text;
}

// ä ö ü Ü and the other German letters have the same places in 437 and 850.
TEST(AnsiToOem, GermanLettersInBothCodePages) {
  for (unsigned code_page : {437u, 850u}) {
    EXPECT_EQ(Convert("\xE4\xF6\xFC\xC4\xD6\xDC\xDF", code_page), "\x84\x94\x81\x8E\x99\x9A\xE1")
        << code_page;
  }
}

TEST(AnsiToOem, EveryLetterOutsideAsciiInTheTextsIsAnUmlautThatConverts) {
  const std::string_view texts[] = {messages::kBannerLine1,
                                    messages::kBannerLine2,
                                    messages::kNoAdapterFound,
                                    messages::kReadRequestFailed,
                                    messages::kAlreadyErased,
                                    messages::kQuestion,
                                    messages::kWriteRequestFailed,
                                    messages::kErased,
                                    messages::kEnd,
                                    messages::kKeyEcho};
  std::set<unsigned char> used;
  for (std::string_view text : texts) {
    for (char c : text) {
      if (static_cast<unsigned char>(c) >= 0x80) used.insert(static_cast<unsigned char>(c));
    }
  }
  EXPECT_EQ(used, (std::set<unsigned char>{0xDC, 0xE4, 0xF6, 0xFC}));  // Ü ä ö ü

  EXPECT_EQ(Convert(std::string(messages::kBannerLine1), 437),
            "Hilfsprogramm zum L\x94schen (Deaktivieren) der Firmware vom Kelmo Tarnel-Ger\x84t\n");
  EXPECT_EQ(Convert(std::string(messages::kErased), 850),
            "Firmware wurde durch \x9A"
            "berschreiben des ersten Bytes gel\x94scht.");
  EXPECT_EQ(Convert(std::string(messages::kEnd), 850),
            "\nBeliebige Taste zum Programmende dr\x81"
            "cken ...");
}

TEST(AnsiToOem, AsciiStaysAndMissingCharactersGetAReplacement) {
  std::string all_ascii;
  for (int c = 0; c < 0x80; ++c) all_ascii += static_cast<char>(c);
  EXPECT_EQ(Convert(all_ascii, 437), all_ascii);
  EXPECT_EQ(Convert(all_ascii, 850), all_ascii);
  EXPECT_EQ(Convert("\x80\xC0\xF8", 437), "?Ao");  // no euro, no accented capitals in 437
  EXPECT_EQ(Convert("\xC0\xF8", 850), "\xB7\x9B");
}

TEST(AnsiToOem, OtherCodePagesHaveNoTable) {
  EXPECT_EQ(OemTableFor(866), nullptr);
  EXPECT_EQ(OemTableFor(1252), nullptr);
}

}  // namespace
}  // namespace erase
