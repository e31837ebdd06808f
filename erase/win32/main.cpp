// firmware-erase for Windows: the standard handles, the adapter's printer-port
// device and the ANSI-to-OEM conversion, handed to the core.

#include <windows.h>

#include "erase/firmware_erase.h"

namespace {

class Win32Adapter final : public erase::AdapterDevice {
 public:
  bool Open(const char* name) override {
    handle_ =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
  }

  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output) override {
    DWORD returned = 0;
    return DeviceIoControl(handle_, code, const_cast<std::uint8_t*>(input.data()),
                           static_cast<DWORD>(input.size()), output.data(),
                           static_cast<DWORD>(output.size()), &returned, nullptr) != 0;
  }

  void Close() override {
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class Win32Console final : public erase::Console {
 public:
  bool OutputIsConsole() override {
    DWORD mode = 0;
    return GetConsoleMode(output_, &mode) != 0;
  }

  void WriteToConsole(std::span<const char> bytes) override {
    DWORD written = 0;
    WriteConsoleA(output_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }

  void WriteToFile(std::span<const char> bytes) override {
    while (!bytes.empty()) {
      DWORD written = 0;
      if (!WriteFile(output_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
          written == 0) {
        return;
      }
      bytes = bytes.subspan(written);
    }
  }

  bool GetInputMode(std::uint32_t& mode) override {
    DWORD console_mode = 0;
    if (!GetConsoleMode(input_, &console_mode)) return false;
    mode = console_mode;
    return true;
  }

  bool SetInputMode(std::uint32_t mode) override { return SetConsoleMode(input_, mode) != 0; }

  bool ReadChar(char& c) override {
    DWORD read = 0;
    return ReadConsoleA(input_, &c, 1, &read, nullptr) != 0 && read == 1;
  }

  unsigned OemCodePage() override { return GetOEMCP(); }

  void PlatformAnsiToOem(std::span<char> text) override {
    CharToOemBuffA(text.data(), text.data(), static_cast<DWORD>(text.size()));
  }

 private:
  // Fetched once at start; standard error is not used.
  HANDLE input_ = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE output_ = GetStdHandle(STD_OUTPUT_HANDLE);
  [[maybe_unused]] HANDLE error_ = GetStdHandle(STD_ERROR_HANDLE);
};

}  // namespace

int main() {
  Win32Adapter adapter;
  Win32Console console;
  ExitProcess(static_cast<UINT>(erase::RunFirmwareErase(adapter, console)));
}
