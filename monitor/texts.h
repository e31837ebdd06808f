// Texts of the port monitor, ANSI (Windows-1252). Dialog texts the resource
// script also needs are in resource_ids.h.
//
// Name lists are NUL-terminated strings one after the other, ended by an
// empty string; entries are found by walking the list.
#pragma once

#include <cstddef>
#include <string_view>

namespace port_monitor {

// The entries of mode list 102, index = ECR mode.
inline constexpr char kModeNames[] =
    "SPP (Nibble)\0Bidirektional\0AutoStrobe\0ECP\0EPP\0reserviert\0Test\0"
    "Konfiguration\0";

// Tooltip names. Status lists start with bit 7, control lists with bit 0.
// "\xE4" is a-umlaut, "\xFC" u-umlaut.
inline constexpr char kDefaultStatusNames[] =
    "/BUSY (besch\xE4"
    "ftigt)\0/ACK (Best\xE4"
    "tigung)\0PE (Papierende)\0"
    "SEL (Auswahl)\0/ERR (Fehler)\0/IRQ (Interruptanforderung)\0";
inline constexpr char kDefaultControlNames[] =
    "STB (Strobe)\0AF (AutoFeed)\0/INI (Init, R\xFC"
    "cksetzen)\0"
    "SELIN (Select Input, Auswahl)\0IRQEN (Interruptfreigabe)\0"
    "DIRIN (Datenrichtung: Eingabe)\0";
inline constexpr char kAutoStrobeStatusNames[] = "PtrBusy\0PtrClk\0AckDataReq\0Xflag\0/DataAvail\0";
inline constexpr char kAutoStrobeControlNames[] =
    "HostClk\0HostBusy\0/Init\0"
    "1284Active\0";
inline constexpr char kEcpStatusNames[] =
    "PeriphAck\0PeriphClk\0/AckReverse\0Xflag\0/PeriphRequest\0";
inline constexpr char kEcpControlNames[] =
    "HostClk\0HostAck\0/ReverseRequest\0"
    "1284Active\0";
inline constexpr char kEppStatusNames[] = "/Wait\0/Intr\0Spare\0Spare\0Spare\0-\0-\0Timeout\0";
inline constexpr char kEppControlNames[] = "Write\0DataStb\0/Reset\0AddrStb\0";

// Tooltip of a data bit: "Data " and the bit number.
inline constexpr std::string_view kDataNamePrefix = "Data ";

// Entry `index` of a name list; empty when the list ends before it.
constexpr std::string_view NameListEntry(const char* list, int index) {
  if (index < 0) return {};
  std::string_view entry(list);
  while (!entry.empty() && index > 0) {
    list += entry.size() + 1;
    entry = std::string_view(list);
    --index;
  }
  return entry;
}

// Number of entries of a name list.
constexpr int NameListLength(const char* list) {
  int count = 0;
  while (!NameListEntry(list, count).empty()) ++count;
  return count;
}

static_assert(NameListLength(kModeNames) == 8);
static_assert(NameListLength(kDefaultStatusNames) == 6);
static_assert(NameListLength(kEppStatusNames) == 8);
static_assert(NameListEntry(kModeNames, 7) == "Konfiguration");
static_assert(NameListEntry(kAutoStrobeControlNames, 3) == "1284Active");

}  // namespace port_monitor
