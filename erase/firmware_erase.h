#pragma once
// firmware-erase: finds the adapter among the printer ports, reads the first
// EEPROM byte and, when it marks a firmware image and the user agrees,
// overwrites it with 0xFF so the USB controller no longer loads the firmware.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

namespace erase {

// The adapter's printer-port device, reached through device requests.
class AdapterDevice {
 public:
  // Opens `name` for reading and writing, unshared, existing only.
  virtual bool Open(const char* name) = 0;
  // One synchronous device request; true when it succeeded.
  virtual bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) = 0;
  virtual void Close() = 0;

 protected:
  ~AdapterDevice() = default;
};

// The standard input and output handles.
class Console {
 public:
  virtual bool OutputIsConsole() = 0;
  virtual void WriteToConsole(std::span<const char> bytes) = 0;
  // The plain file write, for output redirected to a file or pipe.
  virtual void WriteToFile(std::span<const char> bytes) = 0;
  // Fails when standard input is not a console.
  virtual bool GetInputMode(std::uint32_t& mode) = 0;
  virtual bool SetInputMode(std::uint32_t mode) = 0;
  // Reads exactly one character; false when none could be read.
  virtual bool ReadChar(char& c) = 0;
  // The OEM code page the console text is converted to.
  virtual unsigned OemCodePage() = 0;
  // The platform's own ANSI-to-OEM conversion, for code pages without a
  // table of ours.
  virtual void PlatformAnsiToOem(std::span<char> text) = 0;

 protected:
  ~Console() = default;
};

// Adapter requests: same function number, different transfer method.
inline constexpr std::uint32_t kReadEepromRequest = 0x22228A;   // METHOD_OUT_DIRECT
inline constexpr std::uint32_t kWriteEepromRequest = 0x222289;  // METHOD_IN_DIRECT
inline constexpr std::uint8_t kErasedByte = 0xFF;
// First bytes of an EEPROM that holds a firmware image in the boot format.
inline constexpr std::array<std::uint8_t, 2> kFirmwareMarkers = {0xC2, 0xB2};
// The adapter is searched from LPT8 down to LPT1.
inline constexpr unsigned kHighestPort = 8;

// The answers of AskKey, valued like IDYES and IDNO.
enum class Answer : int { kOther = 0, kYes = 6, kNo = 7 };

// Formats, converts to OEM and writes one message.
void PrintMessage(Console& console, std::string_view format,
                  std::initializer_list<std::uint32_t> args = {});

// Reads one key without echo or line input, echoes it, restores the input
// mode and maps it: J j Y y yes, N n no, anything else other. Without a
// console on standard input nothing is read and the answer is no.
Answer AskKey(Console& console);

// The whole procedure; returns the exit code, 0 on every path.
int RunFirmwareErase(AdapterDevice& device, Console& console);

}  // namespace erase
