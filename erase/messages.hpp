#pragma once
// The tool's texts, stored in Windows-1252 (converted to the console's OEM
// code page on output). Hex escapes are split off where a letter follows that
// would extend them.

#include <string_view>

namespace erase::messages {

inline constexpr std::string_view banner_line_1 =
    "Hilfsprogramm zum L\xF6schen (Deaktivieren) der Firmware vom Kelmo Tarnel-Ger\xE4t\n";
inline constexpr std::string_view banner_line_2 = "Versionen 1.0 bis 1.4, April 2007\n\n";
inline constexpr std::string_view no_adapter_found = "Tarnel anstecken, muss LPTx sein!\n";
inline constexpr std::string_view read_request_failed =
    "Fehler beim Ausf\xFChren der Ger\xE4testeuerung, Tarnel nicht angesteckt?\n";
inline constexpr std::string_view already_erased =
    "Firmware ist bereits gel\xF6scht. Tarnel abziehen und wieder anstecken!\n";

// One message, formatted with the EEPROM's first byte. Its middle line is
// where the chip vendor offers its free development software for download;
// the formatted question must stay below 256 characters.
inline constexpr std::string_view question =
    "Firmware im EEPROM des Tarnel jetzt l\xF6schen?\n"
    "[Zum Beschreiben des EEPROM wird die kostenlose Entwicklungssoftware von\n"
    "softwaretools.infineon.com"
    " ben\xF6tigt, davon m.W. das Programm EzMr.exe.]\n"
    "Erstes Byte (0x%02X) l\xF6schen (\xFC" "berschreiben mit 0xFF)? J/N: ";

inline constexpr std::string_view write_request_failed =
    "Fehler beim Ausf\xFChren der Ger\xE4testeuerung, Tarnel nicht angesteckt?\n";
inline constexpr std::string_view erased =
    "Firmware wurde durch \xDC" "berschreiben des ersten Bytes gel\xF6scht.";
inline constexpr std::string_view end = "\nBeliebige Taste zum Programmende dr\xFC" "cken ...";
inline constexpr std::string_view key_echo = "%c\n";

}  // namespace erase::messages
