#include "message_format.hpp"

namespace erase {
namespace {

class BoundedWriter {
 public:
  explicit BoundedWriter(MessageBuffer& out) : out_(out) {}

  void put(char c) {
    if (length_ < out_.size() - 1) out_[length_++] = c;
  }
  void repeat(char c, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) put(c);
  }
  std::size_t finish() {
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
std::size_t to_digits(std::uint32_t value, unsigned base, bool upper,
                      std::array<char, 10>& digits) {
  constexpr std::string_view lower_digits = "0123456789abcdef";
  constexpr std::string_view upper_digits = "0123456789ABCDEF";
  const std::string_view symbols = upper ? upper_digits : lower_digits;
  std::array<char, 10> reversed{};
  std::size_t count = 0;
  do {
    reversed[count++] = symbols[value % base];
    value /= base;
  } while (value != 0);
  for (std::size_t i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  return count;
}

void put_field(BoundedWriter& writer, const Conversion& conversion, bool negative,
               std::span<const char> digits) {
  const std::size_t length = digits.size() + (negative ? 1 : 0);
  const std::size_t padding = conversion.width > length ? conversion.width - length : 0;
  if (conversion.left_align) {
    if (negative) writer.put('-');
    for (char d : digits) writer.put(d);
    writer.repeat(' ', padding);
    return;
  }
  if (conversion.zero_pad) {
    if (negative) writer.put('-');
    writer.repeat('0', padding);
  } else {
    writer.repeat(' ', padding);
    if (negative) writer.put('-');
  }
  for (char d : digits) writer.put(d);
}

}  // namespace

std::size_t format_message(MessageBuffer& out, std::string_view format,
                           std::span<const std::uint32_t> args) {
  BoundedWriter writer(out);
  std::size_t next_arg = 0;
  auto take_arg = [&]() -> std::uint32_t { return next_arg < args.size() ? args[next_arg++] : 0; };

  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      writer.put(format[i]);
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
      if (conversion.width > message_capacity) conversion.width = message_capacity;
    }
    if (i == format.size()) break;

    std::array<char, 10> digits{};
    switch (const char type = format[i]) {
      case 'c': {
        const char c = static_cast<char>(take_arg());
        put_field(writer, {conversion.left_align, false, conversion.width}, false,
                  std::span<const char>(&c, 1));
        break;
      }
      case 'd':
      case 'i': {
        const auto value = static_cast<std::int32_t>(take_arg());
        const bool negative = value < 0;
        const std::uint32_t magnitude =
            negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
        const std::size_t count = to_digits(magnitude, 10, false, digits);
        put_field(writer, conversion, negative, std::span<const char>(digits.data(), count));
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        const unsigned base = type == 'u' ? 10 : 16;
        const std::size_t count = to_digits(take_arg(), base, type == 'X', digits);
        put_field(writer, conversion, false, std::span<const char>(digits.data(), count));
        break;
      }
      default:
        writer.put(type);
        break;
    }
  }
  return writer.finish();
}

}  // namespace erase
