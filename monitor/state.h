// The port monitor's whole run-time state, in one place.
#pragma once

#include "monitor/platform.h"

#include <array>
#include <cstdint>

namespace port_monitor {

inline constexpr int kRegisterCount = 16;
using RegisterValues = std::array<std::uint8_t, kRegisterCount>;

// The 11 drawing objects of the connector diagram, created once when the
// dialog starts and deleted when it is destroyed.
struct DrawingObjects {
  std::array<DrawingObject, 3> row_pens{};     // data, status, control
  std::array<DrawingObject, 3> row_brushes{};  // data, status, control
  DrawingObject outline_pen = 0;               // black, 3 pixels
  DrawingObject link_pen = 0;                  // blue, 1 pixel
  DrawingObject null_pen = 0;
  DrawingObject pin_font = 0;    // "Small Fonts", -7
  DrawingObject label_font = 0;  // "Helv", -10
};

inline constexpr std::uint16_t kNoHover = 0xFFFF;

struct MonitorState {
  // Last value written to each register.
  RegisterValues written_values{};
  // Last value read back and displayed for each register.
  RegisterValues shown_values{};
  // Diagram element under the mouse: (pin index << 8) | 0xFF for a pin,
  // 0xFF00 | code for a bit box, 0xFFFF for none. Starts as 0, which names
  // no element.
  std::uint16_t hover_id = 0;
  // The data register has been read back since start-up. Until then the
  // poll reads it in every mode: its shown value is still the start-up
  // complement, which would otherwise stay on screen in the modes whose poll
  // skips the data register.
  bool data_read_back = false;
  // The access path's device, opened once per run.
  DeviceHandle device = kInvalidDevice;
  DrawingObjects drawing{};

  // The platform the core talks to; set by OpenAccessPath and StartMonitor.
  DeviceIo* device_io = nullptr;
  PortIo* port_io = nullptr;
  Dialog* dialog = nullptr;
  Graphics* graphics = nullptr;
};

// The one instance.
MonitorState& Monitor();

// Back to the state of a freshly started program (for tests).
void ResetMonitor();

}  // namespace port_monitor
