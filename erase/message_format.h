#pragma once
// The message formatter of firmware-erase: the subset of the Windows
// formatter (wvsprintfA) that the tool's texts use, bounded to one message
// buffer, so the same bytes come out on every platform.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace erase {

// Every message, the question included, fits in 255 characters plus NUL.
inline constexpr std::size_t kMessageCapacity = 256;
using MessageBuffer = std::array<char, kMessageCapacity>;

// Formats `format` with integer `args` into `out` and returns the number of
// characters written (at most 255; `out` is always NUL-terminated).
// Conversions: %c, %d, %i, %u, %x, %X and %%, with the flags '-' and '0' and
// a decimal width, as the Windows formatter reads them. A missing argument
// counts as 0; any other character after '%' is copied as it stands.
std::size_t FormatMessage(MessageBuffer& out, std::string_view format,
                          std::span<const std::uint32_t> args);

}  // namespace erase
