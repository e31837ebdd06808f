#include "erase/firmware_erase.h"

#include <algorithm>

#include "erase/message_format.h"
#include "erase/messages.h"
#include "erase/oem_conversion.h"

namespace erase {
namespace {

// The request buffers: the EEPROM offset (always the first byte) and the one
// data byte, 0 before the first request.
struct EepromBuffers {
  std::array<std::uint8_t, 2> offset{0, 0};
  std::array<std::uint8_t, 1> data{0};
};

bool IsFirmwareMarker(std::uint8_t byte) {
  return std::find(kFirmwareMarkers.begin(), kFirmwareMarkers.end(), byte) !=
         kFirmwareMarkers.end();
}

bool OpenAdapter(AdapterDevice& device) {
  for (unsigned port = kHighestPort; port >= 1; --port) {
    MessageBuffer name{};
    const std::uint32_t args[] = {port};
    FormatMessage(name, "\\\\.\\LPT%u", args);
    if (device.Open(name.data())) return true;
  }
  return false;
}

// Steps after the adapter was opened: read, check, ask, write.
void EraseFirmware(AdapterDevice& device, Console& console) {
  EepromBuffers buffers;
  if (!device.Control(kReadEepromRequest, buffers.offset, buffers.data)) {
    PrintMessage(console, messages::kReadRequestFailed);
    return;
  }
  const std::uint8_t first_byte = buffers.data[0];
  if (!IsFirmwareMarker(first_byte)) {
    PrintMessage(console, messages::kAlreadyErased);
    return;
  }
  PrintMessage(console, messages::kQuestion, {first_byte});
  if (AskKey(console) != Answer::kYes) return;

  // The value to write travels in the output buffer, as the driver expects.
  buffers.data[0] = kErasedByte;
  if (!device.Control(kWriteEepromRequest, buffers.offset, buffers.data)) {
    PrintMessage(console, messages::kWriteRequestFailed);
    return;
  }
  PrintMessage(console, messages::kErased);
}

}  // namespace

void PrintMessage(Console& console, std::string_view format,
                  std::initializer_list<std::uint32_t> args) {
  MessageBuffer text{};
  const std::size_t length =
      FormatMessage(text, format, std::span<const std::uint32_t>(args.begin(), args.size()));
  const std::span<char> message(text.data(), length);
  if (const OemTable* table = OemTableFor(console.OemCodePage())) {
    AnsiToOem(message, *table);
  } else {
    console.PlatformAnsiToOem(message);
  }
  if (console.OutputIsConsole()) {
    console.WriteToConsole(message);
  } else {
    console.WriteToFile(message);
  }
}

Answer AskKey(Console& console) {
  std::uint32_t saved_mode = 0;
  if (!console.GetInputMode(saved_mode)) {
    // No console to read a key from: nothing is waited for, and an answer
    // that was never given is no.
    PrintMessage(console, "\n");
    return Answer::kNo;
  }
  console.SetInputMode(0);
  char key = '\0';
  const bool have_key = console.ReadChar(key);
  if (have_key) {
    PrintMessage(console, messages::kKeyEcho, {static_cast<std::uint8_t>(key)});
  } else {
    PrintMessage(console, "\n");
  }
  console.SetInputMode(saved_mode);
  if (!have_key) return Answer::kNo;

  switch (key) {
    case 'J':
    case 'j':
    case 'Y':
    case 'y':
      return Answer::kYes;
    case 'N':
    case 'n':
      return Answer::kNo;
    default:
      return Answer::kOther;
  }
}

int RunFirmwareErase(AdapterDevice& device, Console& console) {
  PrintMessage(console, messages::kBannerLine1);
  PrintMessage(console, messages::kBannerLine2);
  if (OpenAdapter(device)) {
    EraseFirmware(device, console);
    device.Close();
  } else {
    PrintMessage(console, messages::kNoAdapterFound);
  }
  PrintMessage(console, messages::kEnd);
  AskKey(console);
  return 0;
}

}  // namespace erase
