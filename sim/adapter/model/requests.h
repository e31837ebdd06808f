// The device requests the simulated adapter answers, decoded from plain byte
// buffers, so the whole request logic is the same in the driver and in the
// native tests. The driver only hands over the buffers of each request.
#pragma once

#include <cstdint>
#include <span>

#include "sim/adapter/model/adapter.h"

namespace tarnel_sim {

constexpr std::uint32_t ControlCode(std::uint32_t device_type, std::uint32_t function,
                                    std::uint32_t method) {
  return (device_type << 16) | (function << 2) | method;  // any access
}
inline constexpr std::uint32_t kMethodBuffered = 0;
inline constexpr std::uint32_t kMethodInDirect = 1;
inline constexpr std::uint32_t kMethodOutDirect = 2;

// The adapter's printer-port device.
inline constexpr std::uint32_t kLptRegisterCommand = 0x222010;
inline constexpr std::uint32_t kLptEepromRead = 0x22228A;
inline constexpr std::uint32_t kLptEepromWrite = 0x222289;
// The EZ-USB general-purpose driver's bulk transfers.
inline constexpr std::uint32_t kEzusbBulkWrite = 0x222051;
inline constexpr std::uint32_t kEzusbBulkRead = 0x22204E;
inline constexpr std::uint32_t kEzusbCommandPipe = 0;
inline constexpr std::uint32_t kEzusbAnswerPipe = 1;
// The port-I/O driver.
inline constexpr std::uint32_t kPortIoRead = 0x80FF0004;
inline constexpr std::uint32_t kPortIoWrite = 0x80FF0008;
inline constexpr std::uint32_t kPortBase = 0x378;

// The simulator's own control device (buffered requests).
inline constexpr std::uint32_t kControlDeviceType = 0x8A53;
inline constexpr std::uint32_t kControlGetState =
    ControlCode(kControlDeviceType, 0x901, kMethodBuffered);
inline constexpr std::uint32_t kControlSetState =
    ControlCode(kControlDeviceType, 0x902, kMethodBuffered);
inline constexpr std::uint32_t kControlSetLpt =
    ControlCode(kControlDeviceType, 0x903, kMethodBuffered);
inline constexpr std::uint32_t kControlSetFailure =
    ControlCode(kControlDeviceType, 0x904, kMethodBuffered);
inline constexpr std::uint32_t kControlPowerOn =
    ControlCode(kControlDeviceType, 0x905, kMethodBuffered);
// Input: the animation period in ms, 16 bits (0: off).
inline constexpr std::uint32_t kControlAnimate =
    ControlCode(kControlDeviceType, 0x906, kMethodBuffered);
// Output: the write log, oldest first, and empties it: a byte with the
// number of entries (at most kWriteLogSize), a byte 1 when older writes were
// dropped, then {index, value} per entry; kWriteLogAnswerSize bytes in all.
inline constexpr std::uint32_t kControlTakeWrites =
    ControlCode(kControlDeviceType, 0x907, kMethodBuffered);
inline constexpr unsigned kWriteLogAnswerSize = 2 + 2 * kWriteLogSize;

// kControlGetState answers with this many bytes: the 16 registers as a read
// returns them (without taking from the FIFO), the EEPROM byte, the LPT
// number and the failure switch. kControlSetState takes the 16 register
// values and the EEPROM byte.
inline constexpr unsigned kSnapshotSize = kRegisterCount + 3;
inline constexpr unsigned kSnapshotEeprom = kRegisterCount;
inline constexpr unsigned kSnapshotLpt = kRegisterCount + 1;
inline constexpr unsigned kSnapshotFailure = kRegisterCount + 2;
inline constexpr unsigned kSetStateSize = kRegisterCount + 1;

enum class DeviceKind : std::uint8_t { kLpt, kEzusb, kPortIo, kControl };

enum class RequestStatus : std::uint8_t {
  kSuccess,
  kInvalidParameter,  // malformed buffers
  kInvalidRequest,    // a request code the device does not know
  kDeviceError,       // the device failed (EEPROM failure switch, nothing to read)
};

struct RequestResult {
  RequestStatus status = RequestStatus::kInvalidRequest;
  std::uint32_t bytes_returned = 0;
};

// The buffers of one request. For the direct methods, `output` is the direct
// buffer: it carries data to the device for METHOD_IN_DIRECT. For buffered
// requests input and output may be the same memory: the input is read
// completely before anything is written.
struct RequestBuffers {
  std::span<const std::uint8_t> input;
  std::span<std::uint8_t> output;
};

RequestResult HandleRequest(Adapter& adapter, DeviceKind device, std::uint32_t code,
                            RequestBuffers buffers);

// Register index of a port address (base + 0..7, base + 0x400..0x407), or -1.
int RegisterOfPort(std::uint32_t address);

}  // namespace tarnel_sim
