#include "erase/message_format.h"

namespace erase {
namespace {

class BoundedWriter {
 public:
  explicit BoundedWriter(MessageBuffer& out) : out_(out) {}

  void Put(char c) {
    if (length_ < out_.size() - 1) out_[length_++] = c;
  }
  void Repeat(char c, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) Put(c);
  }
  std::size_t Finish() {
    out_[length_] = '\0';
    return length_;
  }

 private:
  MessageBuffer& out_;
  std::size_t length_ = 0;
};

struct Conversion {
  bool left_align = false;
  bool zero_pad = false;
  std::size_t width = 0;
};

// Digits of `value` in `base`, most significant first, into `digits`.
std::size_t ToDigits(std::uint32_t value, unsigned base, bool upper, std::array<char, 10>& digits) {
  constexpr std::string_view kLowerDigits = "0123456789abcdef";
  constexpr std::string_view kUpperDigits = "0123456789ABCDEF";
  const std::string_view symbols = upper ? kUpperDigits : kLowerDigits;
  std::array<char, 10> reversed{};
  std::size_t count = 0;
  do {
    reversed[count++] = symbols[value % base];
    value /= base;
  } while (value != 0);
  for (std::size_t i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  return count;
}

void PutField(BoundedWriter& writer, const Conversion& conversion, bool negative,
              std::span<const char> digits) {
  const std::size_t length = digits.size() + (negative ? 1 : 0);
  const std::size_t padding = conversion.width > length ? conversion.width - length : 0;
  if (conversion.left_align) {
    if (negative) writer.Put('-');
    for (char d : digits) writer.Put(d);
    writer.Repeat(' ', padding);
    return;
  }
  if (conversion.zero_pad) {
    if (negative) writer.Put('-');
    writer.Repeat('0', padding);
  } else {
    writer.Repeat(' ', padding);
    if (negative) writer.Put('-');
  }
  for (char d : digits) writer.Put(d);
}

}  // namespace

std::size_t FormatMessage(MessageBuffer& out, std::string_view format,
                          std::span<const std::uint32_t> args) {
  BoundedWriter writer(out);
  std::size_t next_arg = 0;
  auto take_arg = [&]() -> std::uint32_t { return next_arg < args.size() ? args[next_arg++] : 0; };

  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      writer.Put(format[i]);
      continue;
    }
    Conversion conversion;
    ++i;
    for (; i < format.size() && (format[i] == '-' || format[i] == '0'); ++i) {
      if (format[i] == '-') conversion.left_align = true;
      if (format[i] == '0') conversion.zero_pad = true;
    }
    for (; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i) {
      conversion.width = conversion.width * 10 + static_cast<std::size_t>(format[i] - '0');
      if (conversion.width > kMessageCapacity) conversion.width = kMessageCapacity;
    }
    if (i == format.size()) break;

    std::array<char, 10> digits{};
    switch (const char type = format[i]) {
      case 'c': {
        const char c = static_cast<char>(take_arg());
        PutField(writer, {conversion.left_align, false, conversion.width}, false,
                 std::span<const char>(&c, 1));
        break;
      }
      case 'd':
      case 'i': {
        const auto value = static_cast<std::int32_t>(take_arg());
        const bool negative = value < 0;
        const std::uint32_t magnitude =
            negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
        const std::size_t count = ToDigits(magnitude, 10, false, digits);
        PutField(writer, conversion, negative, std::span<const char>(digits.data(), count));
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        const unsigned base = type == 'u' ? 10 : 16;
        const std::size_t count = ToDigits(take_arg(), base, type == 'X', digits);
        PutField(writer, conversion, false, std::span<const char>(digits.data(), count));
        break;
      }
      default:
        writer.Put(type);
        break;
    }
  }
  return writer.Finish();
}

}  // namespace erase
