#include "upload/wide_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace hex_upload;

std::string ToUtf8(const std::u16string& wide, LoneSurrogate lone) {
  std::vector<char> utf8(Utf8Capacity(wide.size()));  // exactly: ASan sees any overrun
  size_t length = WideToUtf8(wide, utf8, lone);
  EXPECT_EQ(0, utf8[length]);
  return std::string(utf8.data(), length);
}

std::u16string ToWide(const std::string& utf8) {
  std::vector<char16_t> wide(utf8.size() + 1);
  size_t length = Utf8ToWide(utf8, wide, LoneSurrogate::kKeep);
  EXPECT_EQ(0, wide[length]);
  return std::u16string(wide.data(), length);
}

TEST(WideText, EveryWindowsNameComesBackIntact) {
  const struct {
    const char* what;
    std::u16string wide;
    std::string kept;    // and back to the same name
    std::string strict;  // as messages are written to a file or pipe
  } cases[] = {
      {"ASCII", u"C:\\fw.hex", "C:\\fw.hex", "C:\\fw.hex"},
      {"Cyrillic", u"\u0418\u0432\u0430\u043d", "\u0418\u0432\u0430\u043d",
       "\u0418\u0432\u0430\u043d"},
      {"outside the BMP", u"\U0001D11E.hex", "\U0001D11E.hex", "\U0001D11E.hex"},
      {"lone high", u"a\xD800", "a\xED\xA0\x80", "a\xEF\xBF\xBD"},
      {"lone low", u"\xDC00z", "\xED\xB0\x80z", "\xEF\xBF\xBDz"},
      {"pair reversed", u"\xDC00\xD800", "\xED\xB0\x80\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.kept, ToUtf8(c.wide, LoneSurrogate::kKeep)) << c.what;
    EXPECT_EQ(c.wide, ToWide(c.kept)) << c.what;
    size_t length = 99;
    char16_t* copy = NewWide(c.kept, length);  // as the Windows program opens files
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(c.wide, std::u16string(copy, length)) << c.what;
    EXPECT_EQ(0, copy[length]) << c.what;
    std::free(copy);
    EXPECT_EQ(c.strict, ToUtf8(c.wide, LoneSurrogate::kReplace)) << c.what;
  }
}

}  // namespace
