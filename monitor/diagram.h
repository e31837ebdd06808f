// The connector diagram: 25 pins with their levels, the data, status and
// control registers as rows of bit boxes, and the links between them. All
// coordinates are client-area pixels.
#pragma once

#include "monitor/platform.h"

#include <array>
#include <cstdint>
#include <optional>

namespace port_monitor {

// A register bit: bits 7..4 the row (0 data, 1 status, 2 control), bit 3 the
// inverted flag (the pin's level is the complement of the bit), bits 2..0
// the bit number. 0xFF marks a ground pin.
using SignalCode = std::uint8_t;
inline constexpr SignalCode kGroundPin = 0xFF;
inline constexpr SignalCode kInvertedFlag = 0x08;

constexpr int RowOf(SignalCode code) { return code >> 4; }
constexpr int BitOf(SignalCode code) { return code & 7; }
constexpr bool IsInverted(SignalCode code) { return (code & kInvertedFlag) != 0; }

inline constexpr int kPinCount = 25;
inline constexpr int kSignalPinCount = 17;  // pins 1..17; 18..25 are ground

// Signal code of each pin, by pin index (pin number - 1).
inline constexpr std::array<SignalCode, kPinCount> kPinMap = {
    0x28, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x16, 0x1F, 0x15, 0x14,
    0x29, 0x13, 0x22, 0x2B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

inline constexpr std::array<Color, 3> kRowColors = {Color{0, 255, 0}, Color{255, 0, 0},
                                                    Color{224, 224, 0}};
inline constexpr Color kLinkColor{0, 0, 255};
inline constexpr Color kOutlineColor{0, 0, 0};
inline constexpr char kRowLetters[] = "DSC";

Point PinCentre(int pin_index);
Rect PinSquare(int pin_index);        // +-5 pixels around the centre
Point BitBoxCentre(SignalCode code);  // inverted flag ignored
Rect BitBoxSquare(SignalCode code);   // +-8 pixels around the centre

// Start-up / WM_DESTROY: the 11 drawing objects.
void CreateDrawingObjects();
void DeleteDrawingObjects();

// WM_PAINT: outline, links, pins with numbers, rows.
void PaintDiagram(Canvas& canvas);
void DrawPin(Canvas& canvas, int pin_index);
void DrawBitBox(Canvas& canvas, SignalCode code);
void DrawRow(Canvas& canvas, int row);
// DrawRow on a canvas obtained for the moment.
void RedrawRow(int row);

// Hit tests: left and top edges inside, right and bottom edges outside.
std::optional<int> PinAt(int x, int y);  // signal pins only
std::optional<SignalCode> BitBoxAt(int x, int y);
// Lowest pin index whose code equals `code` ignoring the inverted flag.
std::optional<int> LabelPinOf(SignalCode code);

}  // namespace port_monitor
