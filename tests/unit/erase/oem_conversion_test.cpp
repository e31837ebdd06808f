#include "oem_conversion.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "messages.hpp"

namespace erase {
namespace {

std::string convert(std::string text, unsigned code_page) {
  const OemTable* table = oem_table_for(code_page);
  EXPECT_NE(table, nullptr);
  if (table) ansi_to_oem(text, *table);
  return text;
}

// ä ö ü Ü and the other German letters have the same places in 437 and 850.
TEST(AnsiToOem, GermanLettersInBothCodePages) {
  for (unsigned code_page : {437u, 850u}) {
    EXPECT_EQ(convert("\xE4\xF6\xFC\xC4\xD6\xDC\xDF", code_page), "\x84\x94\x81\x8E\x99\x9A\xE1")
        << code_page;
  }
}

TEST(AnsiToOem, EveryLetterOutsideAsciiInTheTextsIsAnUmlautThatConverts) {
  const std::string_view texts[] = {
      messages::banner_line_1, messages::banner_line_2,  messages::no_adapter_found,
      messages::read_request_failed, messages::already_erased, messages::question,
      messages::write_request_failed, messages::erased,  messages::end,
      messages::key_echo};
  std::set<unsigned char> used;
  for (std::string_view text : texts) {
    for (char c : text) {
      if (static_cast<unsigned char>(c) >= 0x80) used.insert(static_cast<unsigned char>(c));
    }
  }
  EXPECT_EQ(used, (std::set<unsigned char>{0xDC, 0xE4, 0xF6, 0xFC}));  // Ü ä ö ü

  EXPECT_EQ(convert(std::string(messages::banner_line_1), 437),
            "Hilfsprogramm zum L\x94schen (Deaktivieren) der Firmware vom Kelmo Tarnel-Ger\x84t\n");
  EXPECT_EQ(convert(std::string(messages::erased), 850),
            "Firmware wurde durch \x9A" "berschreiben des ersten Bytes gel\x94scht.");
  EXPECT_EQ(convert(std::string(messages::end), 850), "\nBeliebige Taste zum Programmende dr\x81" "cken ...");
}

TEST(AnsiToOem, AsciiStaysAndMissingCharactersGetAReplacement) {
  std::string all_ascii;
  for (int c = 0; c < 0x80; ++c) all_ascii += static_cast<char>(c);
  EXPECT_EQ(convert(all_ascii, 437), all_ascii);
  EXPECT_EQ(convert(all_ascii, 850), all_ascii);
  EXPECT_EQ(convert("\x80\xC0\xF8", 437), "?Ao");  // no euro, no accented capitals in 437
  EXPECT_EQ(convert("\xC0\xF8", 850), "\xB7\x9B");
}

TEST(AnsiToOem, OtherCodePagesHaveNoTable) {
  EXPECT_EQ(oem_table_for(866), nullptr);
  EXPECT_EQ(oem_table_for(1252), nullptr);
}

}  // namespace
}  // namespace erase
