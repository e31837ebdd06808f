// Text forms of the simulated adapter's state for tarnel-sim-ctl:
//   registers: 16 two-digit uppercase hex values, index 0..15, single spaces
//   EEPROM byte: two-digit uppercase hex
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "sim/adapter/model/adapter.h"

namespace tarnel_sim {

// "00 11 ... FF": 16 * 3 - 1 characters.
inline constexpr std::size_t kRegisterLineLength = kRegisterCount * 3 - 1;

// Writes the two lines of `get` ("<registers>\n<eeprom>\n") into `text` and
// returns their length; `text` needs room for kRegisterLineLength + 4.
std::size_t FormatState(std::span<const std::uint8_t, kRegisterCount> registers,
                        std::uint8_t eeprom_first, std::span<char> text);

// One or two hex digits, either case.
bool ParseHexByte(std::string_view text, std::uint8_t& value);
// Exactly 16 such values separated by spaces.
bool ParseRegisterValues(std::string_view text, std::array<std::uint8_t, kRegisterCount>& values);
// A decimal number 0..255.
bool ParseLptNumber(std::string_view text, std::uint8_t& number);
// An animation period: a decimal number of milliseconds 1..65535, or "off"
// (period 0).
bool ParseAnimationPeriod(std::string_view text, std::uint16_t& period_ms);
// "read", "write" or "none".
bool ParseFailure(std::string_view text, EepromFailure& failure);

}  // namespace tarnel_sim
