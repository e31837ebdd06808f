// The monitor dialog's logic: start-up, the 100 ms poll with its change
// detection, the hex fields with their delayed write, and bit toggling.
//
// How a shell drives the core (everything on the dialog's thread):
//   program start        OpenAccessPath(device_io, port_io); run the dialog
//                        IDD_EMULATION modally without owner; then
//                        CloseAccessPath(); exit code 0
//   WM_INITDIALOG        StartMonitor(dialog, graphics)            -> TRUE
//   WM_DESTROY           DeleteDrawingObjects()                    -> FALSE
//   WM_PAINT             PaintDiagram(canvas of BeginPaint)        -> FALSE
//   WM_SETCURSOR         TrackHover(GetMessagePos, same in client) -> its result
//   WM_NOTIFY TTN_GETDISPINFOA  GetTooltipText(info->szText)       -> FALSE
//   WM_COMMAND           HandleCommand(LOWORD(wParam), HIWORD(wParam));
//                        true means EndDialog(hwnd, IDCANCEL)      -> FALSE
//   WM_TIMER             HandleTimer(wParam)                       -> FALSE
//   WM_LBUTTONDOWN, WM_LBUTTONDBLCLK
//                        ToggleBit(GET_X_LPARAM, GET_Y_LPARAM)     -> FALSE
//                        (signed 16-bit client coordinates)
#pragma once

#include "monitor/platform.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace port_monitor {

// WM_INITDIALOG: fill the mode list, write 0x8F to the data register, read
// all 16 registers, create the drawing objects, initialise the common
// controls and create the tooltip, check "&Adresse", start the poll timer.
void StartMonitor(Dialog& dialog, Graphics& graphics);

// Timer 1: read back the registers the current ECR mode needs (at most six
// reads) and redraw only what changed.
void PollRegisters();

// Read one register back and bring the display up to date; nothing is drawn
// or rewritten when the value did not change.
void RefreshRegister(int index);

// Set hex field `field_id` to "%02X" of the value and cancel the delayed
// write its change notification just started.
void ShowValue(int field_id, std::uint8_t value);

// Delay timer of a hex field (160..162, 168..170) expired.
void DelayedWrite(unsigned timer_id);

// Left click or double click at a client position: flip the bit of the pin
// or bit box there.
void ToggleBit(int x, int y);

// EN_CHANGE of a hex field: (re)start its 500 ms delay timer.
void OnEditChange(int field_id);

// The text of a hex field as a number: "0x" put in front, read as
// hexadecimal. Empty text, text that is not entirely hex digits (also a
// typed "0x") and text longer than 9 characters fail.
std::optional<std::uint64_t> ParseHexInput(std::string_view text);
// Reads the field's text and parses it.
std::optional<std::uint64_t> ReadHexInput(int field_id);

// Two uppercase hex digits and a NUL.
struct HexText {
  char text[3];
};
HexText FormatHex(std::uint8_t value);

// WM_COMMAND from control `id` with notification `code`. Returns true when
// the dialog is to end (IDCANCEL, result 2).
bool HandleCommand(int id, int code);
// WM_TIMER with `timer_id`.
void HandleTimer(unsigned timer_id);

// Current ECR mode: bits 7..5 of the shown ECR.
int CurrentMode();

}  // namespace port_monitor
