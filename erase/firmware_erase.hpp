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
  virtual bool open(const char* name) = 0;
  // One synchronous device request; true when it succeeded.
  virtual bool control(std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) = 0;
  virtual void close() = 0;

 protected:
  ~AdapterDevice() = default;
};

// The standard input and output handles.
class Console {
 public:
  virtual bool output_is_console() = 0;
  virtual void write_console(std::span<const char> bytes) = 0;
  // The plain file write, for output redirected to a file or pipe.
  virtual void write_file(std::span<const char> bytes) = 0;
  // Fails when standard input is not a console.
  virtual bool get_input_mode(std::uint32_t& mode) = 0;
  virtual bool set_input_mode(std::uint32_t mode) = 0;
  // Reads exactly one character; false when none could be read.
  virtual bool read_char(char& c) = 0;
  // The OEM code page the console text is converted to.
  virtual unsigned oem_code_page() = 0;
  // The platform's own ANSI-to-OEM conversion, for code pages without a
  // table of ours.
  virtual void platform_ansi_to_oem(std::span<char> text) = 0;

 protected:
  ~Console() = default;
};

// Adapter requests: same function number, different transfer method.
inline constexpr std::uint32_t read_eeprom_request = 0x22228A;   // METHOD_OUT_DIRECT
inline constexpr std::uint32_t write_eeprom_request = 0x222289;  // METHOD_IN_DIRECT
inline constexpr std::uint8_t erased_byte = 0xFF;
// First bytes of an EEPROM that holds a firmware image in the boot format.
inline constexpr std::array<std::uint8_t, 2> firmware_markers = {0xC2, 0xB2};
// The adapter is searched from LPT8 down to LPT1.
inline constexpr unsigned highest_port = 8;

// The answers of AskKey, valued like IDYES and IDNO.
enum class Answer : int { other = 0, yes = 6, no = 7 };

// Formats, converts to OEM and writes one message.
void PrintMessage(Console& console, std::string_view format,
                  std::initializer_list<std::uint32_t> args = {});

// Reads one key without echo or line input, echoes it, restores the input
// mode and maps it: J j Y y yes, N n no, anything else other. Without a
// console on standard input nothing is read and the answer is no.
Answer AskKey(Console& console);

// The whole procedure; returns the exit code, 0 on every path.
int run_firmware_erase(AdapterDevice& device, Console& console);

}  // namespace erase
