#include "firmware_erase.hpp"

#include <algorithm>

#include "message_format.hpp"
#include "messages.hpp"
#include "oem_conversion.hpp"

namespace erase {
namespace {

// The request buffers: the EEPROM offset (always the first byte) and the one
// data byte, 0 before the first request.
struct EepromBuffers {
  std::array<std::uint8_t, 2> offset{0, 0};
  std::array<std::uint8_t, 1> data{0};
};

bool is_firmware_marker(std::uint8_t byte) {
  return std::find(firmware_markers.begin(), firmware_markers.end(), byte) != firmware_markers.end();
}

bool open_adapter(AdapterDevice& device) {
  for (unsigned port = highest_port; port >= 1; --port) {
    MessageBuffer name{};
    const std::uint32_t args[] = {port};
    format_message(name, "\\\\.\\LPT%u", args);
    if (device.open(name.data())) return true;
  }
  return false;
}

// Steps after the adapter was opened: read, check, ask, write.
void erase_firmware(AdapterDevice& device, Console& console) {
  EepromBuffers buffers;
  if (!device.control(read_eeprom_request, buffers.offset, buffers.data)) {
    PrintMessage(console, messages::read_request_failed);
    return;
  }
  const std::uint8_t first_byte = buffers.data[0];
  if (!is_firmware_marker(first_byte)) {
    PrintMessage(console, messages::already_erased);
    return;
  }
  PrintMessage(console, messages::question, {first_byte});
  if (AskKey(console) != Answer::yes) return;

  // The value to write travels in the output buffer, as the driver expects.
  buffers.data[0] = erased_byte;
  if (!device.control(write_eeprom_request, buffers.offset, buffers.data)) {
    PrintMessage(console, messages::write_request_failed);
    return;
  }
  PrintMessage(console, messages::erased);
}

}  // namespace

void PrintMessage(Console& console, std::string_view format,
                  std::initializer_list<std::uint32_t> args) {
  MessageBuffer text{};
  const std::size_t length =
      format_message(text, format, std::span<const std::uint32_t>(args.begin(), args.size()));
  const std::span<char> message(text.data(), length);
  if (const OemTable* table = oem_table_for(console.oem_code_page())) {
    ansi_to_oem(message, *table);
  } else {
    console.platform_ansi_to_oem(message);
  }
  if (console.output_is_console()) {
    console.write_console(message);
  } else {
    console.write_file(message);
  }
}

Answer AskKey(Console& console) {
  std::uint32_t saved_mode = 0;
  if (!console.get_input_mode(saved_mode)) {
    // No console to read a key from: nothing is waited for, and an answer
    // that was never given is no.
    PrintMessage(console, "\n");
    return Answer::no;
  }
  console.set_input_mode(0);
  char key = '\0';
  const bool have_key = console.read_char(key);
  if (have_key) {
    PrintMessage(console, messages::key_echo, {static_cast<std::uint8_t>(key)});
  } else {
    PrintMessage(console, "\n");
  }
  console.set_input_mode(saved_mode);
  if (!have_key) return Answer::no;

  switch (key) {
    case 'J':
    case 'j':
    case 'Y':
    case 'y':
      return Answer::yes;
    case 'N':
    case 'n':
      return Answer::no;
    default:
      return Answer::other;
  }
}

int run_firmware_erase(AdapterDevice& device, Console& console) {
  PrintMessage(console, messages::banner_line_1);
  PrintMessage(console, messages::banner_line_2);
  if (open_adapter(device)) {
    erase_firmware(device, console);
    device.close();
  } else {
    PrintMessage(console, messages::no_adapter_found);
  }
  PrintMessage(console, messages::end);
  AskKey(console);
  return 0;
}

}  // namespace erase
