#include "upload/wide_text.h"

#include <cstdint>
#include <cstdlib>

namespace hex_upload {
namespace {

bool IsHigh(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

size_t WideToUtf8(std::span<const char16_t> wide, std::span<char> utf8, LoneSurrogate lone) {
  size_t out = 0;
  auto put = [&](uint32_t byte) { utf8[out++] = static_cast<char>(byte); };
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (IsHigh(c) && i + 1 < wide.size() && IsLow(wide[i + 1]))
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    else if ((IsHigh(c) || IsLow(c)) && lone == LoneSurrogate::kReplace)
      c = 0xFFFD;
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | c >> 6);
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | c >> 12);
      put(0x80 | (c >> 6 & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | c >> 18);
      put(0x80 | (c >> 12 & 0x3F));
      put(0x80 | (c >> 6 & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  utf8[out] = 0;
  return out;
}

size_t Utf8ToWide(std::string_view utf8, std::span<char16_t> wide, LoneSurrogate lone) {
  static constexpr uint8_t kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  size_t out = 0;
  for (size_t i = 0; i < utf8.size();) {
    auto lead = static_cast<uint8_t>(utf8[i]);
    size_t length = lead < 0x80             ? 1
                    : (lead & 0xE0) == 0xC0 ? 2
                    : (lead & 0xF0) == 0xE0 ? 3
                    : (lead & 0xF8) == 0xF0 ? 4
                                            : 0;
    char32_t c = lead & kLeadBits[length];
    bool valid = length != 0 && i + length <= utf8.size();
    for (size_t k = 1; valid && k < length; ++k) {
      auto next = static_cast<uint8_t>(utf8[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    bool surrogate = IsHigh(c) || IsLow(c);
    if (!valid || c < kLeast[length] || c > 0x10FFFF ||
        (surrogate && lone == LoneSurrogate::kReplace)) {
      wide[out++] = u'\uFFFD';
      ++i;
      continue;
    }
    i += length;
    if (c >= 0x10000) {
      wide[out++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      wide[out++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide[out++] = static_cast<char16_t>(c);
    }
  }
  wide[out] = 0;
  return out;
}

char16_t* NewWide(std::string_view utf8, size_t& length) {
  auto* wide = static_cast<char16_t*>(std::malloc((utf8.size() + 1) * sizeof(char16_t)));
  if (wide != nullptr)
    length = Utf8ToWide(utf8, std::span(wide, utf8.size() + 1), LoneSurrogate::kKeep);
  return wide;
}

}  // namespace hex_upload
