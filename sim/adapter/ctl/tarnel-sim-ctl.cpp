// tarnel-sim-ctl.exe: installs and steers the simulated Tarnel adapter
// (tarnel-sim.sys) in the current Wine prefix. For tests and the demo only.
//
// Usage (exit code 0 on success; otherwise a message on standard error and
// exit code 1 for a failed action, 2 for bad usage):
//   tarnel-sim-ctl install
//       Creates the kernel-driver service "tarnel-sim" (automatic start) for
//       the tarnel-sim.sys next to this program and starts it. Safe to repeat:
//       an existing service is pointed at this tarnel-sim.sys, a running one
//       is success. Once \\.\TarnelSimCtl answers, the adapter is put into
//       its power-on state on LPT2 without failures (like plugging it in).
//   tarnel-sim-ctl get
//       Line 1: the 16 registers, index 0..15, as a read returns them (status
//       = input lines, ECR with its FIFO flags, register 8 = cfgA in mode 7 or
//       the next FIFO byte in mode 6, which stays in the FIFO), two-digit
//       uppercase hex separated by single spaces. Line 2: the EEPROM's first
//       byte, two-digit uppercase hex. Example (power-on state):
//         00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00
//         C2
//   tarnel-sim-ctl set "<16 values>" <eeprom>
//       Same format (1 or 2 hex digits each, either case). Sets the status
//       register's input lines (value 1), every other register as stored, the
//       ECR mode and low bits (its bits 1 and 0 are the FIFO flags: ignored),
//       the EEPROM byte. Empties the FIFO and drops a pending EZ-USB answer;
//       the LPT number and the failure switch stay. ECR mode 5 is refused.
//   tarnel-sim-ctl lpt N
//       The adapter's printer-port device appears as \\.\LPTN only (N 1..255);
//       0: under no LPT name at all. Power-on: 2.
//   tarnel-sim-ctl fail read|write|none
//       From now on the EEPROM read (or write) request fails; none: both work.
//   tarnel-sim-ctl reset
//       Registers, FIFO and EEPROM back to power-on; LPT number and failure
//       switch stay. Ends the animation and empties the write log.
//   tarnel-sim-ctl animate <milliseconds>|off
//       The input lines change by themselves at that period (1..65535 ms):
//       status bits 7..3, and the data lines as read while control bit 5
//       (reverse direction) is set, follow a fixed pattern from its first
//       step. off: the lines keep the values they have.
//   tarnel-sim-ctl writes
//       The register writes that reached the port since the last "writes"
//       (at most the last 32), oldest first, one per line: index and value,
//       two-digit uppercase hex ("08 5A"), also those the port ignores.
//       A line "(older writes dropped)" comes first when there were more.
//
// The state survives restarts of the wineserver (Wine shuts it down a few
// seconds after the last program ended): the service starts again with the
// next Wine program, before that program runs, and the driver reloads its
// saved state. Each ctl command is a separate request, done when it returns.
#include <windows.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "sim/adapter/model/requests.h"
#include "sim/adapter/ctl/state_text.h"

namespace {

constexpr char kServiceName[] = "tarnel-sim";
constexpr char kControlDevice[] = "\\\\.\\TarnelSimCtl";
constexpr DWORD kServiceWaitMs = 60000;
constexpr DWORD kDeviceWaitMs = 20000;

void WriteText(DWORD handle_id, std::string_view text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(handle_id), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

void WriteNumber(DWORD handle_id, unsigned long value) {
  char digits[12];
  unsigned at = sizeof(digits);
  do {
    digits[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  WriteText(handle_id, {digits + at, sizeof(digits) - at});
}

int Failure(std::string_view what, DWORD error) {
  WriteText(STD_ERROR_HANDLE, "tarnel-sim-ctl: ");
  WriteText(STD_ERROR_HANDLE, what);
  if (error != 0) {
    WriteText(STD_ERROR_HANDLE, " (error ");
    WriteNumber(STD_ERROR_HANDLE, error);
    WriteText(STD_ERROR_HANDLE, ")");
  }
  WriteText(STD_ERROR_HANDLE, "\n");
  return 1;
}

int Usage(std::string_view problem) {
  WriteText(STD_ERROR_HANDLE, "tarnel-sim-ctl: ");
  WriteText(STD_ERROR_HANDLE, problem);
  WriteText(STD_ERROR_HANDLE,
            "\nusage: tarnel-sim-ctl install | get | set \"<16 hex values>\" <eeprom hex> | lpt N"
            " | fail read|write|none | reset | animate <ms>|off | writes\n");
  return 2;
}

HANDLE OpenControl() {
  return CreateFileA(kControlDevice, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

// One control request; returns 0 or prints why it failed and returns 1.
int Control(std::uint32_t code, const void* input, DWORD input_size, void* output,
            DWORD output_size) {
  const HANDLE device = OpenControl();
  if (device == INVALID_HANDLE_VALUE)
    return Failure("the simulated adapter is not running (run \"tarnel-sim-ctl install\")",
                   GetLastError());
  DWORD returned = 0;
  const BOOL done = DeviceIoControl(device, code, const_cast<void*>(input), input_size, output,
                                    output_size, &returned, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(device);
  if (!done) return Failure("the simulated adapter refused the request", error);
  if (returned != output_size)
    return Failure("the simulated adapter answered with the wrong size", 0);
  return 0;
}

bool DriverPath(char (&path)[MAX_PATH]) {
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  DWORD slash = length;
  while (slash != 0 && path[slash - 1] != '\\' && path[slash - 1] != '/') --slash;
  constexpr std::string_view kFile = "tarnel-sim.sys";
  if (slash + kFile.size() + 1 > MAX_PATH) return false;
  for (char c : kFile) path[slash++] = c;
  path[slash] = 0;
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Right after a prefix is made, the service database can stay locked for a
// while; every service call is retried until the time limit.
template <typename Call>
bool RetryWhileLocked(Call call) {
  const DWORD start = GetTickCount();
  while (true) {
    if (call()) return true;
    if (GetLastError() != ERROR_SERVICE_DATABASE_LOCKED || GetTickCount() - start > kServiceWaitMs)
      return false;
    Sleep(250);
  }
}

// A freshly installed adapter: power-on state, on LPT2, no failures.
int ResetAll() {
  const std::uint8_t lpt_number = tarnel_sim::kDefaultLptNumber;
  const auto no_failure = static_cast<std::uint8_t>(tarnel_sim::EepromFailure::kNone);
  if (const int result = Control(tarnel_sim::kControlPowerOn, nullptr, 0, nullptr, 0))
    return result;
  if (const int result = Control(tarnel_sim::kControlSetLpt, &lpt_number, 1, nullptr, 0))
    return result;
  return Control(tarnel_sim::kControlSetFailure, &no_failure, 1, nullptr, 0);
}

int Install() {
  char path[MAX_PATH];
  if (!DriverPath(path))
    return Failure("tarnel-sim.sys is not next to tarnel-sim-ctl.exe", GetLastError());
  SC_HANDLE manager = nullptr;
  if (!RetryWhileLocked([&] {
        return (manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) != nullptr;
      }))
    return Failure("cannot open the service manager", GetLastError());

  SC_HANDLE service = nullptr;
  const bool created = RetryWhileLocked([&] {
    service = CreateServiceA(manager, kServiceName, "Simulated Tarnel adapter", SERVICE_ALL_ACCESS,
                             SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, path,
                             nullptr, nullptr, nullptr, nullptr, nullptr);
    return service != nullptr;
  });
  if (!created) {
    if (GetLastError() != ERROR_SERVICE_EXISTS) {
      const DWORD error = GetLastError();
      CloseServiceHandle(manager);
      return Failure("cannot create the driver service", error);
    }
    service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    // The build tree may have moved: the service follows this program.
    if (service != nullptr)
      RetryWhileLocked([&] {
        return ChangeServiceConfigA(service, SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START,
                                    SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr) != FALSE;
      });
  }
  if (service == nullptr) {
    const DWORD error = GetLastError();
    CloseServiceHandle(manager);
    return Failure("cannot open the driver service", error);
  }
  const bool started =
      RetryWhileLocked([&] { return StartServiceA(service, 0, nullptr) != FALSE; });
  const DWORD error = GetLastError();
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (!started && error != ERROR_SERVICE_ALREADY_RUNNING)
    return Failure("cannot start the driver service", error);

  const DWORD start = GetTickCount();
  while (true) {
    const HANDLE device = OpenControl();
    if (device != INVALID_HANDLE_VALUE) {
      CloseHandle(device);
      return ResetAll();
    }
    if (GetTickCount() - start > kDeviceWaitMs)
      return Failure("the driver started but its control device did not appear", GetLastError());
    Sleep(100);
  }
}

int Get() {
  std::array<std::uint8_t, tarnel_sim::kSnapshotSize> snapshot{};
  if (const int result =
          Control(tarnel_sim::kControlGetState, nullptr, 0, snapshot.data(), snapshot.size()))
    return result;
  char text[tarnel_sim::kRegisterLineLength + 4];
  const std::size_t length =
      tarnel_sim::FormatState(std::span<const std::uint8_t, tarnel_sim::kRegisterCount>(
                                  snapshot.data(), tarnel_sim::kRegisterCount),
                              snapshot[tarnel_sim::kSnapshotEeprom], text);
  WriteText(STD_OUTPUT_HANDLE, {text, length});
  return 0;
}

int Set(std::string_view registers, std::string_view eeprom) {
  std::array<std::uint8_t, tarnel_sim::kRegisterCount> values{};
  std::array<std::uint8_t, tarnel_sim::kSetStateSize> request{};
  if (!tarnel_sim::ParseRegisterValues(registers, values))
    return Usage("set needs 16 hex values of one or two digits, separated by spaces");
  if (!tarnel_sim::ParseHexByte(eeprom, request[tarnel_sim::kRegisterCount]))
    return Usage("the EEPROM byte must be one or two hex digits");
  if ((values[tarnel_sim::kEcrRegister] >> 5) == tarnel_sim::kModeReserved)
    return Usage("ECR mode 5 is reserved: the port does not accept it");
  for (unsigned i = 0; i < tarnel_sim::kRegisterCount; ++i) request[i] = values[i];
  return Control(tarnel_sim::kControlSetState, request.data(), request.size(), nullptr, 0);
}

int Lpt(std::string_view number_text) {
  std::uint8_t number = 0;
  if (!tarnel_sim::ParseLptNumber(number_text, number)) return Usage("lpt needs a number 0..255");
  return Control(tarnel_sim::kControlSetLpt, &number, 1, nullptr, 0);
}

int Fail(std::string_view mode_text) {
  tarnel_sim::EepromFailure mode{};
  if (!tarnel_sim::ParseFailure(mode_text, mode)) return Usage("fail needs read, write or none");
  const auto byte = static_cast<std::uint8_t>(mode);
  return Control(tarnel_sim::kControlSetFailure, &byte, 1, nullptr, 0);
}

int Animate(std::string_view period_text) {
  std::uint16_t period_ms = 0;
  if (!tarnel_sim::ParseAnimationPeriod(period_text, period_ms))
    return Usage("animate needs a period of 1..65535 ms, or off");
  const std::uint8_t request[2] = {static_cast<std::uint8_t>(period_ms),
                                   static_cast<std::uint8_t>(period_ms >> 8)};
  return Control(tarnel_sim::kControlAnimate, request, sizeof request, nullptr, 0);
}

int Writes() {
  std::array<std::uint8_t, tarnel_sim::kWriteLogAnswerSize> answer{};
  if (const int result =
          Control(tarnel_sim::kControlTakeWrites, nullptr, 0, answer.data(), answer.size()))
    return result;
  if (answer[1] != 0) WriteText(STD_OUTPUT_HANDLE, "(older writes dropped)\n");
  constexpr char kDigits[] = "0123456789ABCDEF";
  for (unsigned i = 0; i < answer[0] && i < tarnel_sim::kWriteLogSize; ++i) {
    const std::uint8_t index = answer[2 + 2 * i];
    const std::uint8_t value = answer[3 + 2 * i];
    const char line[] = {kDigits[index >> 4], kDigits[index & 15], ' ',
                         kDigits[value >> 4], kDigits[value & 15], '\n'};
    WriteText(STD_OUTPUT_HANDLE, {line, sizeof line});
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  const std::string_view command = argv[1];
  const int arguments = argc - 2;
  if (command == "install" && arguments == 0) return Install();
  if (command == "get" && arguments == 0) return Get();
  if (command == "set" && arguments == 2) return Set(argv[2], argv[3]);
  if (command == "lpt" && arguments == 1) return Lpt(argv[2]);
  if (command == "fail" && arguments == 1) return Fail(argv[2]);
  if (command == "animate" && arguments == 1) return Animate(argv[2]);
  if (command == "writes" && arguments == 0) return Writes();
  if (command == "reset" && arguments == 0)
    return Control(tarnel_sim::kControlPowerOn, nullptr, 0, nullptr, 0);
  return Usage("unknown command or wrong number of arguments");
}
