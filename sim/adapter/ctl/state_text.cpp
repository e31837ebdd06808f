#include "sim/adapter/ctl/state_text.h"

namespace tarnel_sim {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void PutHex(std::span<char> text, std::size_t at, std::uint8_t value) {
  text[at] = kHexDigits[value >> 4];
  text[at + 1] = kHexDigits[value & 0x0F];
}

}  // namespace

std::size_t FormatState(std::span<const std::uint8_t, kRegisterCount> registers,
                        std::uint8_t eeprom_first, std::span<char> text) {
  if (text.size() < kRegisterLineLength + 4) return 0;
  std::size_t at = 0;
  for (unsigned i = 0; i < kRegisterCount; ++i) {
    if (i != 0) text[at++] = ' ';
    PutHex(text, at, registers[i]);
    at += 2;
  }
  text[at++] = '\n';
  PutHex(text, at, eeprom_first);
  at += 2;
  text[at++] = '\n';
  return at;
}

bool ParseHexByte(std::string_view text, std::uint8_t& value) {
  if (text.empty() || text.size() > 2) return false;
  unsigned result = 0;
  for (char c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return false;
    result = result * 16 + static_cast<unsigned>(digit);
  }
  value = static_cast<std::uint8_t>(result);
  return true;
}

bool ParseRegisterValues(std::string_view text, std::array<std::uint8_t, kRegisterCount>& values) {
  std::array<std::uint8_t, kRegisterCount> parsed{};
  unsigned count = 0;
  std::size_t at = 0;
  while (true) {
    while (at < text.size() && text[at] == ' ') ++at;
    if (at == text.size()) break;
    std::size_t end = at;
    while (end < text.size() && text[end] != ' ') ++end;
    if (count == kRegisterCount ||
        !ParseHexByte(std::string_view(text.data() + at, end - at), parsed[count]))
      return false;
    ++count;
    at = end;
  }
  if (count != kRegisterCount) return false;
  values = parsed;
  return true;
}

bool ParseLptNumber(std::string_view text, std::uint8_t& number) {
  if (text.empty() || text.size() > 3) return false;
  unsigned result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<unsigned>(c - '0');
  }
  if (result > 255) return false;
  number = static_cast<std::uint8_t>(result);
  return true;
}

bool ParseAnimationPeriod(std::string_view text, std::uint16_t& period_ms) {
  if (text == "off") {
    period_ms = 0;
    return true;
  }
  if (text.empty() || text.size() > 5) return false;
  unsigned result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<unsigned>(c - '0');
  }
  if (result == 0 || result > 65535) return false;
  period_ms = static_cast<std::uint16_t>(result);
  return true;
}

bool ParseFailure(std::string_view text, EepromFailure& failure) {
  if (text == "read")
    failure = EepromFailure::kRead;
  else if (text == "write")
    failure = EepromFailure::kWrite;
  else if (text == "none")
    failure = EepromFailure::kNone;
  else
    return false;
  return true;
}

}  // namespace tarnel_sim
