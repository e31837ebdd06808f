// Register access: the only place that talks to the port.
#pragma once

#include "monitor/platform.h"

#include <cstdint>

#ifndef PORT_MONITOR_ACCESS_METHOD
#define PORT_MONITOR_ACCESS_METHOD 3
#endif
#ifndef PORT_MONITOR_BASE
#define PORT_MONITOR_BASE 0x378
#endif

namespace port_monitor {

// The access path, fixed when the program is built.
enum class AccessMethod : int {
  kPortInstructions = 0,  // in/out on the port address, opens nothing
  kPortIoDriver = 1,      // "\\.\ZLPORTIO", by port address
  kUsbBulk = 2,           // "\\.\EZUSB-0", bulk pipes, adapter byte commands
  kAdapterLpt = 3,        // "\\.\LPT2", adapter byte commands
};

inline constexpr AccessMethod kAccessMethod = static_cast<AccessMethod>(PORT_MONITOR_ACCESS_METHOD);
inline constexpr std::uint16_t kPortBase = PORT_MONITOR_BASE;

static_assert(PORT_MONITOR_ACCESS_METHOD >= 0 && PORT_MONITOR_ACCESS_METHOD <= 3,
              "PORT_MONITOR_ACCESS_METHOD must be 0, 1, 2 or 3");

// Device request codes.
inline constexpr std::uint32_t kAdapterRegisterRequest = 0x222010;  // LPT device
inline constexpr std::uint32_t kBulkWriteRequest = 0x222051;        // EZ-USB
inline constexpr std::uint32_t kBulkReadRequest = 0x22204E;         // EZ-USB
inline constexpr std::uint32_t kPortReadRequest = 0x80FF0004;       // ZLPORTIO
inline constexpr std::uint32_t kPortWriteRequest = 0x80FF0008;      // ZLPORTIO

// Adapter byte command: bit 4 set reads the register in the low 4 bits.
inline constexpr std::uint8_t kReadCommand = 0x10;

// The device name opened for a method, or nullptr for method 0.
const char* DeviceNameOf(AccessMethod method);

// Port address of a register index: base+0..7, then base+0x400..0x407.
constexpr std::uint16_t PortAddressOf(std::uint16_t base, int index) {
  return static_cast<std::uint16_t>(index < 8 ? base + index : base + index + 0x3F8);
}

// Program start, before the dialog: open the device of the built-in method
// (nothing for method 0). A failure is not reported; every later request
// then fails without effect.
void OpenAccessPath(DeviceIo& device_io, PortIo& port_io);
// After the dialog has ended: close the device if it is open.
void CloseAccessPath();

// Store the value in `written values`, then send it; the outcome is not
// examined.
void WriteRegister(int index, std::uint8_t value);
// Read a register back; a failed request yields what its buffer held.
std::uint8_t ReadRegister(int index);

// The same for an explicitly given method and base (tests cover all four).
void OpenAccessPathBy(AccessMethod method, DeviceIo& device_io, PortIo& port_io);
void WriteRegisterBy(AccessMethod method, std::uint16_t base, int index, std::uint8_t value);
std::uint8_t ReadRegisterBy(AccessMethod method, std::uint16_t base, int index);

}  // namespace port_monitor
