#pragma once
// Conversion of the tool's texts from the Windows ANSI code page (1252) to
// the console's OEM code page, for the OEM code pages that go with it on
// Western European and US systems.

#include <array>
#include <cstdint>
#include <span>

namespace erase {

// OEM byte for each ANSI byte 0x80..0xFF; bytes below 0x80 are the same in
// both code pages. Characters the OEM code page lacks get the platform's
// best-fit replacement ('A' for 'Ã', '?' where nothing fits).
using OemTable = std::array<std::uint8_t, 128>;

// The table for OEM code page 437 or 850, or nullptr for any other one.
const OemTable* OemTableFor(unsigned oem_code_page);

// Converts `text` in place with `table`.
void AnsiToOem(std::span<char> text, const OemTable& table);

}  // namespace erase
