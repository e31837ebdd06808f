// The simulated devices as USB devices: descriptors, the requests on the
// control pipe and the bulk pipes, answered by the device models
// (sim/bootloader/model, sim/adapter/model), and the faults a test chooses per
// device. Nothing here knows about sockets; the USB/IP server carries the
// transfers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/adapter/model/adapter.h"
#include "sim/bootloader/model/bootloader.h"

namespace usbip_sim {

enum class Kind : std::uint8_t { kBootloader, kAdapter };

// Which request a fault picks. The bootloader's: the device info report
// (GET_REPORT 1), a data block (SET_REPORT 2), the closing report
// (SET_REPORT 1). The adapter's: a command (bulk out), an answer (bulk in).
enum class Target : std::uint8_t { kNone, kInfo, kBlock, kClose, kCommand, kAnswer };

struct RequestFault {
  Target target = Target::kNone;
  int nth = 0;  // the nth such request only (1 = the first); 0: every one
};

struct Faults {
  int unplug_after = 0;   // pulled out with the nth data block (adapter: command); 0: never
  RequestFault stall;     // answered with a stall
  RequestFault hang;      // never answered (the host gives up and unlinks it)
  int info_length = -1;   // the device info answer has this many bytes; -1: the model's 7
  unsigned delay_ms = 0;  // each feature report (adapter: command) takes this long
  int fail_block = 0;     // the model refuses the nth data block once
};

struct DeviceSpec {
  Kind kind = Kind::kBootloader;
  Faults faults;
};

// "bootloader" or "adapter", then faults separated by ':' (also ','):
// unplug=N, stall=WHAT[@N], hang=WHAT[@N], info-length=N, delay=MS,
// fail-block=N; WHAT is info, block or close (bootloader), command or answer
// (adapter). False, with a reason in `error`, for anything else.
bool ParseDeviceSpec(std::string_view text, DeviceSpec& spec, std::string& error);

// The 8 bytes of a control request.
struct Setup {
  std::uint8_t request_type = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
};
Setup ParseSetup(std::span<const std::uint8_t, 8> bytes);

enum class Outcome : std::uint8_t {
  kDone,     // answered: `data` for an IN transfer, `accepted` bytes for an OUT one
  kStall,    // the endpoint stalls
  kPending,  // no answer now (a bulk in with nothing to say; the host may unlink it)
  kNever,    // no answer ever (an injected fault)
  kGone,     // the device left the bus without answering
};

struct Reply {
  Outcome outcome = Outcome::kStall;
  std::vector<std::uint8_t> data;
  std::uint32_t accepted = 0;
  unsigned delay_ms = 0;   // wait this long before answering
  bool leave_bus = false;  // after the answer the device leaves the bus
  // A data block landed in the flash at this address (length kBlockSize).
  bool flash_changed = false;
  std::uint32_t flash_address = 0;
};

struct UsbDevice {
  DeviceSpec spec;
  std::unique_ptr<sorbel_sim::Bootloader> bootloader;  // kBootloader
  tarnel_sim::Adapter adapter{};                       // kAdapter
  std::string manufacturer;                            // the bootloader's manufacturer string
  int infos = 0;                                       // device info requests so far
  int blocks = 0;                                      // data block requests so far
  int closings = 0;                                    // closing reports so far
  int commands = 0;                                    // adapter commands so far
  int answers = 0;                                     // adapter answers asked for so far
  int descriptor_asks = 0;         // device descriptor requests so far (each bus reset brings some)
  std::atomic<bool> gone = false;  // left the bus: no more transfers (the server's threads read it)
};

std::unique_ptr<UsbDevice> MakeDevice(const DeviceSpec& spec, std::string_view manufacturer);

// Fixed facts the server's device list tells.
struct DeviceFacts {
  std::uint32_t speed = 0;  // 1 low, 2 full (the kernel's enum usb_device_speed)
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::uint16_t release = 0;
  std::uint8_t interface_class = 0;
};
DeviceFacts Facts(Kind kind);

// A request on the control pipe; `out` carries the data stage of an OUT request.
// The USB/IP wire carries no bus reset (vhci-hcd resets its port alone), but
// after one the host always asks for the device descriptor again, and at no
// other time once the device is enumerated: that request counts as the
// reset, and the adapter empties its endpoint buffers.
Reply Control(UsbDevice& device, const Setup& setup, std::span<const std::uint8_t> out);

// A transfer on another endpoint (number without the direction bit).
Reply Transfer(UsbDevice& device, unsigned endpoint, bool in, std::span<const std::uint8_t> out,
               std::uint32_t in_length);

}  // namespace usbip_sim
