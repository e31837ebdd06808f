#pragma once
// Recording fakes of the adapter device and the console.

#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "erase/firmware_erase.h"

namespace erase::testing {

struct Request {
  std::uint32_t code;
  std::vector<std::uint8_t> input;
  std::vector<std::uint8_t> output_passed;  // the output buffer as handed over
};

class FakeAdapter final : public AdapterDevice {
 public:
  std::set<std::string> present_names;  // e.g. "\\\\.\\LPT5"
  std::uint8_t eeprom_first_byte = 0xC2;
  bool fail_read = false;
  bool fail_write = false;

  std::vector<std::string> open_attempts;
  std::optional<std::string> opened;
  std::vector<Request> requests;
  int closes = 0;

  bool Open(const char* name) override {
    open_attempts.emplace_back(name);
    if (!present_names.contains(name)) return false;
    opened = name;
    return true;
  }

  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output) override {
    requests.push_back({code, {input.begin(), input.end()}, {output.begin(), output.end()}});
    const bool offset_ok =
        input.size() == 2 && input[0] == 0 && input[1] == 0 && output.size() == 1;
    if (code == kReadEepromRequest) {
      if (fail_read || !offset_ok) return false;
      output[0] = eeprom_first_byte;
      return true;
    }
    if (code == kWriteEepromRequest) {
      if (fail_write || !offset_ok) return false;
      eeprom_first_byte = output[0];
      return true;
    }
    return false;
  }

  void Close() override { ++closes; }
};

class FakeConsole final : public Console {
 public:
  bool output_console = true;
  bool input_console = true;
  std::uint32_t input_mode = 0x1F7;  // line input, echo, processed input and more
  std::deque<char> keys;             // keys the user will press
  unsigned code_page = 437;

  std::string console_text;  // bytes written with the console write
  std::string file_text;     // bytes written with the plain file write
  std::vector<std::uint32_t> modes_set;
  std::vector<std::uint32_t> modes_at_read;  // input mode while each key was read
  int reads = 0;
  int platform_conversions = 0;

  bool OutputIsConsole() override { return output_console; }
  void WriteToConsole(std::span<const char> bytes) override {
    EXPECT_TRUE(output_console) << "console write on a redirected output";
    console_text.append(bytes.begin(), bytes.end());
  }
  void WriteToFile(std::span<const char> bytes) override {
    file_text.append(bytes.begin(), bytes.end());
  }

  bool GetInputMode(std::uint32_t& mode) override {
    if (!input_console) return false;
    mode = input_mode;
    return true;
  }
  bool SetInputMode(std::uint32_t mode) override {
    if (!input_console) return false;
    modes_set.push_back(mode);
    input_mode = mode;
    return true;
  }
  bool ReadChar(char& c) override {
    ++reads;
    modes_at_read.push_back(input_mode);
    if (!input_console || keys.empty()) return false;
    c = keys.front();
    keys.pop_front();
    return true;
  }

  unsigned OemCodePage() override { return code_page; }
  void PlatformAnsiToOem(std::span<char> text) override {
    ++platform_conversions;
    for (char& c : text) {
      if (static_cast<unsigned char>(c) >= 0x80) c = '#';
    }
  }

  std::string Text() const { return console_text + file_text; }
};

}  // namespace erase::testing
