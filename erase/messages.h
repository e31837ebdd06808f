#pragma once
// The tool's texts, stored in Windows-1252 (converted to the console's OEM
// code page on output). Hex escapes are split off where a letter follows that
// would extend them.

#include <string_view>

namespace erase::messages {

inline constexpr std::string_view kBannerLine1 =
    "Hilfsprogramm zum L\xF6schen (Deaktivieren) der Firmware vom Kelmo Tarnel-Ger\xE4t\n";
inline constexpr std::string_view kBannerLine2 = "Versionen 1.0 bis 1.4, April 2007\n\n";
inline constexpr std::string_view kNoAdapterFound = "Tarnel anstecken, muss LPTx sein!\n";
inline constexpr std::string_view kReadRequestFailed =
    "Fehler beim Ausf\xFChren der Ger\xE4testeuerung, Tarnel nicht angesteckt?\n";
inline constexpr std::string_view kAlreadyErased =
    "Firmware ist bereits gel\xF6scht. Tarnel abziehen und wieder anstecken!\n";

// One message, formatted with the EEPROM's first byte. Its middle line is
// where the chip vendor offers its free development software for download;
// the formatted question must stay below 256 characters.
inline constexpr std::string_view kQuestion =
    "Firmware im EEPROM des Tarnel jetzt l\xF6schen?\n"
    "[Zum Beschreiben des EEPROM wird die kostenlose Entwicklungssoftware von\n"
    "softwaretools.infineon.com"
    " ben\xF6tigt, davon m.W. das Programm EzMr.exe.]\n"
    "Erstes Byte (0x%02X) l\xF6schen (\xFC"
    "berschreiben mit 0xFF)? J/N: ";

inline constexpr std::string_view kWriteRequestFailed =
    "Fehler beim Ausf\xFChren der Ger\xE4testeuerung, Tarnel nicht angesteckt?\n";
inline constexpr std::string_view kErased =
    "Firmware wurde durch \xDC"
    "berschreiben des ersten Bytes gel\xF6scht.";
inline constexpr std::string_view kEnd =
    "\nBeliebige Taste zum Programmende dr\xFC"
    "cken ...";
inline constexpr std::string_view kKeyEcho = "%c\n";

}  // namespace erase::messages
