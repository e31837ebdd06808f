// The device requests the simulated adapter answers, decoded from plain byte
// buffers, so the whole request logic is the same in the driver and in the
// native tests. The driver only hands over the buffers of each request.
#pragma once

#include <cstdint>
#include <span>

#include "adapter.hpp"

namespace tarnel_sim {

constexpr std::uint32_t control_code(std::uint32_t device_type, std::uint32_t function,
                                     std::uint32_t method) {
  return (device_type << 16) | (function << 2) | method;  // any access
}
inline constexpr std::uint32_t method_buffered = 0;
inline constexpr std::uint32_t method_in_direct = 1;
inline constexpr std::uint32_t method_out_direct = 2;

// The adapter's printer-port device.
inline constexpr std::uint32_t lpt_register_command = 0x222010;
inline constexpr std::uint32_t lpt_eeprom_read = 0x22228A;
inline constexpr std::uint32_t lpt_eeprom_write = 0x222289;
// The EZ-USB general-purpose driver's bulk transfers.
inline constexpr std::uint32_t ezusb_bulk_write = 0x222051;
inline constexpr std::uint32_t ezusb_bulk_read = 0x22204E;
inline constexpr std::uint32_t ezusb_command_pipe = 0;
inline constexpr std::uint32_t ezusb_answer_pipe = 1;
// The port-I/O driver.
inline constexpr std::uint32_t port_io_read = 0x80FF0004;
inline constexpr std::uint32_t port_io_write = 0x80FF0008;
inline constexpr std::uint32_t port_base = 0x378;

// The simulator's own control device (buffered requests).
inline constexpr std::uint32_t control_device_type = 0x8A53;
inline constexpr std::uint32_t control_get_state = control_code(control_device_type, 0x901, method_buffered);
inline constexpr std::uint32_t control_set_state = control_code(control_device_type, 0x902, method_buffered);
inline constexpr std::uint32_t control_set_lpt = control_code(control_device_type, 0x903, method_buffered);
inline constexpr std::uint32_t control_set_failure = control_code(control_device_type, 0x904, method_buffered);
inline constexpr std::uint32_t control_power_on = control_code(control_device_type, 0x905, method_buffered);
// Input: the animation period in ms, 16 bits (0: off).
inline constexpr std::uint32_t kControlAnimate =
    control_code(control_device_type, 0x906, method_buffered);
// Output: the write log, oldest first, and empties it: a byte with the
// number of entries (at most kWriteLogSize), a byte 1 when older writes were
// dropped, then {index, value} per entry; kWriteLogAnswerSize bytes in all.
inline constexpr std::uint32_t kControlTakeWrites =
    control_code(control_device_type, 0x907, method_buffered);
inline constexpr unsigned kWriteLogAnswerSize = 2 + 2 * kWriteLogSize;

// control_get_state answers with this many bytes: the 16 registers as a read
// returns them (without taking from the FIFO), the EEPROM byte, the LPT
// number and the failure switch. control_set_state takes the 16 register
// values and the EEPROM byte.
inline constexpr unsigned snapshot_size = register_count + 3;
inline constexpr unsigned snapshot_eeprom = register_count;
inline constexpr unsigned snapshot_lpt = register_count + 1;
inline constexpr unsigned snapshot_failure = register_count + 2;
inline constexpr unsigned set_state_size = register_count + 1;

enum class DeviceKind : std::uint8_t { lpt, ezusb, port_io, control };

enum class RequestStatus : std::uint8_t {
  success,
  invalid_parameter,  // malformed buffers
  invalid_request,    // a request code the device does not know
  device_error,       // the device failed (EEPROM failure switch, nothing to read)
};

struct RequestResult {
  RequestStatus status = RequestStatus::invalid_request;
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

RequestResult handle_request(Adapter& adapter, DeviceKind device, std::uint32_t code,
                             RequestBuffers buffers);

// Register index of a port address (base + 0..7, base + 0x400..0x407), or -1.
int register_of_port(std::uint32_t address);

}  // namespace tarnel_sim
