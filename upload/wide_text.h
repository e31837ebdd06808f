// Text between UTF-16, in which Windows names files and writes to a console,
// and the UTF-8 that the core works in.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace hex_upload {

// The bytes WideToUtf8 needs at most for the given number of UTF-16 units,
// its terminator included.
constexpr size_t Utf8Capacity(size_t units) { return 3 * units + 1; }

// What becomes of a surrogate without its partner, which a Windows file name
// may hold: kept as three bytes of its own, as if it were a character, so that
// Utf8ToWide gives the very same name back; or replaced by U+FFFD where the
// text must be strict UTF-8.
enum class LoneSurrogate { kKeep, kReplace };

// Converts UTF-16 to UTF-8 and terminates it; utf8 must hold
// Utf8Capacity(wide.size()) bytes. Returns the length without the terminator.
size_t WideToUtf8(std::span<const char16_t> wide, std::span<char> utf8, LoneSurrogate lone);

// Converts UTF-8 to UTF-16 and terminates it; wide must hold utf8.size() + 1
// units. A byte that starts no valid sequence (cut short, overlong, past
// U+10FFFF, or with kReplace a surrogate) becomes U+FFFD. Returns the length
// without the terminator.
size_t Utf8ToWide(std::string_view utf8, std::span<char16_t> wide, LoneSurrogate lone);

// Utf8ToWide with lone surrogates kept, into a buffer of its own (to be
// freed with std::free); null without memory. length: without the terminator.
char16_t* NewWide(std::string_view utf8, size_t& length);

}  // namespace hex_upload
