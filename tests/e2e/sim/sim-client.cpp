// sim-client.exe: issues the device requests of port-monitor's access methods
// 1..3 and firmware-erase's EEPROM requests, byte for byte as those programs
// do, against the simulated adapter. Test tool only.
//   sim-client open <device>...           prints "<device> yes|no" for each
//                                         \\.\<device> that opens or not
//   sim-client lpt<N> write <index> <value>...  method 3, values in order
//   sim-client lpt<N> read <index>
//   sim-client ezusb write|read ...       method 2 (\\.\EZUSB-0)
//   sim-client portio write|read ...      method 1 (\\.\ZLPORTIO)
//   sim-client eeprom<N> read             EEPROM byte 0 through \\.\LPT<N>
//   sim-client eeprom<N> write <value>
//   sim-client malformed                  requests every device must refuse
// Values are hex; reads print the byte as two uppercase hex digits. A failed
// request prints "failed <error>" and exits 1.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HANDLE OpenDevice(const char* name) {
  char path[64];
  std::snprintf(path, sizeof(path), "\\\\.\\%s", name);
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Request(HANDLE device, DWORD code, const void* input, DWORD input_size, void* output,
             DWORD output_size) {
  DWORD returned = 0;
  return DeviceIoControl(device, code, const_cast<void*>(input), input_size, output, output_size,
                         &returned, nullptr) != FALSE;
}

int Report(bool done, unsigned value, bool print) {
  if (!done) {
    std::printf("failed %lu\n", GetLastError());
    return 1;
  }
  if (print) std::printf("%02X\n", value);
  return 0;
}

DWORD PortAddress(unsigned index) {
  return index < 8 ? 0x378 + index : 0x378 + 0x400 + (index - 8);
}

int LptRegister(HANDLE device, bool write, unsigned index, unsigned value) {
  if (write) {
    const std::uint8_t command[2] = {static_cast<std::uint8_t>(index),
                                     static_cast<std::uint8_t>(value)};
    return Report(Request(device, 0x222010, command, 2, nullptr, 0), 0, false);
  }
  std::uint8_t byte = static_cast<std::uint8_t>(index | 0x10);
  const bool done = Request(device, 0x222010, &byte, 1, &byte, 1);
  return Report(done, byte, true);
}

int EzusbRegister(HANDLE device, bool write, unsigned index, unsigned value) {
  DWORD pipe = 0;
  if (write) {
    std::uint8_t command[2] = {static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(value)};
    return Report(Request(device, 0x222051, &pipe, 4, command, 2), 0, false);
  }
  std::uint8_t command = static_cast<std::uint8_t>(index | 0x10);
  Request(device, 0x222051, &pipe, 4, &command, 1);
  Sleep(1);
  pipe = 1;
  std::uint8_t answer = command;
  const bool done = Request(device, 0x22204E, &pipe, 4, &answer, 1);
  return Report(done, answer, true);
}

int PortioRegister(HANDLE device, bool write, unsigned index, unsigned value) {
  if (write) {
    const DWORD words[3] = {PortAddress(index), 0, value};
    return Report(Request(device, 0x80FF0008, words, 12, nullptr, 0), 0, false);
  }
  const DWORD words[3] = {PortAddress(index), 0, 0};
  DWORD result = 0;
  const bool done = Request(device, 0x80FF0004, words, 12, &result, 4);
  return Report(done, result & 0xFF, true);
}

int Eeprom(HANDLE device, bool write, unsigned value) {
  const std::uint16_t offset = 0;
  std::uint8_t data = static_cast<std::uint8_t>(value);
  if (write) return Report(Request(device, 0x222289, &offset, 2, &data, 1), 0, false);
  const bool done = Request(device, 0x22228A, &offset, 2, &data, 1);
  return Report(done, data, true);
}

// Each of these must fail; prints one line per request that wrongly succeeds.
int Malformed() {
  struct Case {
    const char* device;
    DWORD code;
    std::uint8_t input[12];
    DWORD input_size;
    DWORD output_size;
  };
  const Case cases[] = {
      {"LPT2", 0x222010, {}, 0, 1},                        // no command
      {"LPT2", 0x222010, {0x12}, 1, 0},                    // read without room for the answer
      {"LPT2", 0x222010, {0x02}, 1, 1},                    // write command without value
      {"LPT2", 0x222010, {0x12, 0x34}, 2, 1},              // read command with a second byte
      {"LPT2", 0x222010, {0x00, 0x01, 0x02}, 3, 0},        // three bytes
      {"LPT2", 0x222010, {0x40, 0x01}, 2, 0},              // not a command
      {"LPT2", 0x222014, {0x00, 0x01}, 2, 0},              // unknown request
      {"LPT2", 0x22228A, {0x00}, 1, 1},                    // EEPROM offset of one byte
      {"LPT2", 0x22228A, {0x01, 0x00}, 2, 1},              // EEPROM offset beyond byte 0
      {"LPT2", 0x222289, {0x00, 0x00}, 2, 0},              // EEPROM write without data
      {"EZUSB-0", 0x222051, {1, 0, 0, 0}, 4, 2},           // command on the answer pipe
      {"EZUSB-0", 0x222051, {0, 0, 0}, 3, 2},              // pipe number of three bytes
      {"EZUSB-0", 0x22204E, {0, 0, 0, 0}, 4, 1},           // answer from the command pipe
      {"EZUSB-0", 0x222010, {0x00, 0x01}, 2, 0},           // the LPT request on the EZ-USB device
      {"ZLPORTIO", 0x80FF0004, {0x78, 0x03, 0, 0}, 4, 4},  // short input
      {"ZLPORTIO", 0x80FF0004, {0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 12, 4},  // port 0x100
      {"ZLPORTIO",
       0x80FF0004,
       {0x78, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       12,
       1},  // output too small
      {"ZLPORTIO",
       0x80FF0008,
       {0x78, 0x03, 0, 0, 0, 0, 0, 0, 0x00, 0x01, 0, 0},
       12,
       0},  // value 0x100
      {"ZLPORTIO",
       0x80FF000C,
       {0x78, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       12,
       4},  // unknown request
  };
  int wrong = 0;
  for (const Case& c : cases) {
    const HANDLE device = OpenDevice(c.device);
    if (device == INVALID_HANDLE_VALUE) {
      std::printf("cannot open %s\n", c.device);
      return 1;
    }
    std::uint8_t input[12];
    std::memcpy(input, c.input, sizeof(input));
    std::uint8_t output[8] = {};
    if (Request(device, c.code, input, c.input_size, c.output_size ? output : nullptr,
                c.output_size)) {
      std::printf("accepted: %s 0x%lX with %lu input bytes\n", c.device, c.code, c.input_size);
      ++wrong;
    }
    CloseHandle(device);
  }
  return wrong == 0 ? 0 : 1;
}

unsigned Hex(const char* text) { return static_cast<unsigned>(std::strtoul(text, nullptr, 16)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const char* target = argv[1];
  if (std::strcmp(target, "malformed") == 0) return Malformed();
  if (argc < 3) return 2;
  if (std::strcmp(target, "open") == 0) {
    for (int i = 2; i < argc; ++i) {
      const HANDLE device = OpenDevice(argv[i]);
      std::printf("%s %s\n", argv[i], device == INVALID_HANDLE_VALUE ? "no" : "yes");
      if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    }
    return 0;
  }
  const bool write = std::strcmp(argv[2], "write") == 0;
  char device_name[16] = "";
  int (*registers)(HANDLE, bool, unsigned, unsigned) = nullptr;
  if (std::strncmp(target, "lpt", 3) == 0) {
    std::snprintf(device_name, sizeof(device_name), "LPT%s", target + 3);
    registers = LptRegister;
  } else if (std::strcmp(target, "ezusb") == 0) {
    std::snprintf(device_name, sizeof(device_name), "EZUSB-0");
    registers = EzusbRegister;
  } else if (std::strcmp(target, "portio") == 0) {
    std::snprintf(device_name, sizeof(device_name), "ZLPORTIO");
    registers = PortioRegister;
  } else if (std::strncmp(target, "eeprom", 6) == 0) {
    std::snprintf(device_name, sizeof(device_name), "LPT%s", target + 6);
  } else {
    return 2;
  }
  const HANDLE device = OpenDevice(device_name);
  if (device == INVALID_HANDLE_VALUE) {
    std::printf("cannot open %s\n", device_name);
    return 1;
  }
  int result = 2;
  if (registers == nullptr)
    result = Eeprom(device, write, write && argc > 3 ? Hex(argv[3]) : 0);
  else if (!write && argc == 4)
    result = registers(device, false, Hex(argv[3]), 0);
  else if (write && argc > 4)
    for (int i = 4; i < argc && (result = registers(device, true, Hex(argv[3]), Hex(argv[i]))) == 0;
         ++i) {
    }
  CloseHandle(device);
  return result;
}
