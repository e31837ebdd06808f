// sorbel-sim-ctl.exe: installs the simulated Sorbel bootloaders (sorbel-sim.sys)
// in the current Wine prefix and steers them through its control device.
//   [--board K] <command>    the command concerns board K (1 to 4, default 1),
//                            the HID device of device node K
//   install                  four device nodes and the driver service (safe to
//                            repeat); the boards start from their defaults
//   lock on|off              opening the board's HID device refused, or not
//   delay <ms>               each feature report takes this long
//   unplug-after <n>         pulled out after the n-th accepted data block
//   appear-after <n>         pulled out now, plugged in at the n-th open of
//                            its HID device from now (each search opens it)
//   leave-written on|off     once written, gone at the next open, or not
//   config <page> <flash>    page and flash size; erased flash, empty log
//   fail-block <n>           the n-th data block from now on fails once
//   product <text>           the product string from now on
//   strict-length on|off     feature reports of another length than the
//                            collection's 132 bytes refused, as Windows does
//   unplug | plug            the device stops and starts answering, as one
//                            pulled out and plugged in again would
//   flash <file>             the flash contents to a file
//   log <file>               the reports received and sent, one line each
//   reset                    every board: 128, 32768, "Sorbel", erased flash,
//                            empty log, strict length off, not locked, no
//                            delay, stays when written; board 1 plugged in,
//                            the others unplugged
//   state | hid-list         a line of device state; every HID device listed
//   hold <seconds>           keeps the Wine session, and the driver, loaded
#include <windows.h>
#include <setupapi.h>
#include <devguid.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bootloader/driver/control_codes.h"

namespace {

int Fail(const char* what, DWORD error = GetLastError()) {
  std::fprintf(stderr, "sorbel-sim-ctl: %s (error %lu)\n", what, error);
  return 1;
}

int Usage() {
  std::fputs(
      "usage: sorbel-sim-ctl [--board 1-4] install | config <page size> <flash size> |\n"
      "       fail-block <n> | product <text> | strict-length on|off | unplug | plug |\n"
      "       unplug-after <n> | appear-after <n> | leave-written on|off | lock on|off |\n"
      "       delay <ms> | flash <file> | log <file> |\n"
      "       reset | state | hid-list | hold <seconds>\n",
      stderr);
  return 2;
}

bool ParseNumber(const char* text, uint32_t& value) {
  char* end = nullptr;
  unsigned long parsed = std::strtoul(text, &end, 0);
  if (*text == '\0' || *end != '\0' || *text == '-') return false;
  value = static_cast<uint32_t>(parsed);
  return parsed == value;
}

HANDLE OpenControl() {
  return CreateFileA(sorbel_ctl::kWin32Name, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Control(HANDLE device, uint32_t code, const void* in, DWORD in_size, void* out, DWORD out_size,
             DWORD* returned = nullptr) {
  DWORD count = 0;
  BOOL ok =
      DeviceIoControl(device, code, const_cast<void*>(in), in_size, out, out_size, &count, nullptr);
  if (returned != nullptr) *returned = count;
  return ok != FALSE;
}

bool QueryState(HANDLE device, sorbel_ctl::StateReply& state) {
  DWORD returned = 0;
  return Control(device, sorbel_ctl::kState, nullptr, 0, &state, sizeof(state), &returned) &&
         returned == sizeof(state);
}

bool WriteFile(const char* name, const void* data, size_t size) {
  FILE* file = std::fopen(name, "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

// ---- install ----

std::string DriverPath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string result(path, length);
  result.erase(result.find_last_of('\\') + 1);
  return result + "sorbel-sim.sys";
}

// The root device node. hidclass names the HID device after it, and SetupAPI
// lists HID devices sorted by that name: "VirtualSorbel" sorts after Wine's
// own virtual mouse and keyboard (VID_845E...), so a search meets them first.
constexpr char kNodeName[] = "VirtualSorbel";
constexpr char kNodePrefix[] = "ROOT\\VIRTUALSORBEL\\";
constexpr char kHardwareId[] = "root\\virtualsorbel\0";

// One more root device node of ours (ROOT\VIRTUALSORBEL\000n).
bool CreateDeviceNode() {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_HIDCLASS, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Fail("no device information list") == 0;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof(info);
  bool ok =
      SetupDiCreateDeviceInfoA(set, kNodeName, &GUID_DEVCLASS_HIDCLASS,
                               "Simulated Sorbel bootloader", nullptr, DICD_GENERATE_ID, &info) &&
      SetupDiSetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID,
                                        reinterpret_cast<const BYTE*>(kHardwareId),
                                        sizeof(kHardwareId)) &&
      SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &info) &&
      SetupDiSetDeviceRegistryPropertyA(set, &info, SPDRP_SERVICE,
                                        reinterpret_cast<const BYTE*>(sorbel_ctl::kServiceName),
                                        sizeof(sorbel_ctl::kServiceName));
  if (!ok) Fail("cannot create the device node");
  SetupDiDestroyDeviceInfoList(set);
  return ok;
}

// Root device nodes of the HID class whose service is ours, one per board,
// created once; a node of ours under an older name is removed.
bool EnsureDeviceNodes() {
  uint32_t found = 0;
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_HIDCLASS, nullptr, nullptr, 0);
  if (set != INVALID_HANDLE_VALUE) {
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
      char service[64] = {};
      char instance[256] = {};
      if (!SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_SERVICE, nullptr,
                                             reinterpret_cast<BYTE*>(service), sizeof(service) - 1,
                                             nullptr) ||
          lstrcmpiA(service, sorbel_ctl::kServiceName) != 0)
        continue;
      SetupDiGetDeviceInstanceIdA(set, &info, instance, sizeof(instance), nullptr);
      if (_strnicmp(instance, kNodePrefix, sizeof(kNodePrefix) - 1) == 0)
        ++found;
      else
        SetupDiRemoveDevice(set, &info);
    }
    SetupDiDestroyDeviceInfoList(set);
  }
  for (; found < sorbel_ctl::kBoards; ++found)
    if (!CreateDeviceNode()) return false;
  return true;
}

// The kernel driver service, pointing at the driver beside this program.
SC_HANDLE EnsureService(SC_HANDLE manager, const std::string& path) {
  SC_HANDLE service = OpenServiceA(manager, sorbel_ctl::kServiceName, SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    service = CreateServiceA(manager, sorbel_ctl::kServiceName, "Simulated Sorbel bootloader",
                             SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                             SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr, nullptr,
                             nullptr);
    if (service == nullptr) Fail("cannot create the driver service");
  } else if (!ChangeServiceConfigA(service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                   SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr)) {
    Fail("cannot update the driver service");
  }
  return service;
}

// Polls until the driver's control device opens and hidclass has added its device.
bool WaitForDriver(DWORD milliseconds) {
  for (DWORD waited = 0;; waited += 100) {
    HANDLE device = OpenControl();
    if (device != INVALID_HANDLE_VALUE) {
      sorbel_ctl::StateReply state{};
      bool ok = QueryState(device, state) && state.hid_devices > 0;
      CloseHandle(device);
      if (ok) return true;
    }
    if (waited >= milliseconds) return false;
    Sleep(100);
  }
}

// Device node first, then the service: the driver adds the HID device only for
// nodes that exist with its service when it loads. Every later Wine session
// loads the driver by itself; when it does not come up in this one (the
// service was running before the node existed, or the service manager of a
// brand-new prefix refused the start), the next session has it.
int Install() {
  std::string path = DriverPath();
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    return Fail("the driver is not beside this program", ERROR_FILE_NOT_FOUND);
  if (!EnsureDeviceNodes()) return 1;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return Fail("cannot open the service manager");
  SC_HANDLE service = EnsureService(manager, path);
  CloseServiceHandle(manager);
  if (service == nullptr) return 1;
  DWORD start_error = StartServiceA(service, 0, nullptr) ? 0 : GetLastError();
  CloseServiceHandle(service);
  if (start_error == ERROR_SERVICE_ALREADY_RUNNING) start_error = 0;
  // Installed, the device starts from its defaults: erased flash, empty log.
  if (WaitForDriver(start_error == 0 ? 15000 : 3000)) {
    HANDLE device = OpenControl();
    bool reset = device != INVALID_HANDLE_VALUE &&
                 Control(device, sorbel_ctl::kReset, nullptr, 0, nullptr, 0);
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    if (!reset) return Fail("the device refused the reset");
    std::printf("sorbel-sim installed: %s\n", path.c_str());
    return 0;
  }
  DeleteFileA(sorbel_ctl::kStateFile);
  std::printf(
      "sorbel-sim installed: %s\n"
      "sorbel-sim: the device comes up with the next Wine session (start error %lu);\n"
      "            end this one first: wineserver -k; wineserver -w\n",
      path.c_str(), start_error);
  return 0;
}

// ---- hid-list: every HID device the system shows, as hex-upload sees them ----

std::string Utf8(const wchar_t* text) {
  char buffer[256];
  int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
  return length > 0 ? std::string(buffer) : std::string("?");
}

// One line per HID entry: "vvvv:pppp version manufacturer | product".
int HidList() {
  GUID hid_guid;
  HidD_GetHidGuid(&hid_guid);
  HDEVINFO set =
      SetupDiGetClassDevsA(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return Fail("no HID device list");
  SP_DEVICE_INTERFACE_DATA entry{};
  entry.cbSize = sizeof(entry);
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid_guid, i, &entry); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &entry, nullptr, 0, &size, nullptr);
    std::vector<char> storage(size + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(*detail);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &entry, detail, size, nullptr, nullptr)) continue;
    HANDLE device =
        CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
      std::printf("(cannot open) %s\n", detail->DevicePath);
      continue;
    }
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    wchar_t manufacturer[256] = L"-", product[256] = L"-";
    HidD_GetAttributes(device, &attributes);
    HidD_GetManufacturerString(device, manufacturer, sizeof(manufacturer));
    HidD_GetProductString(device, product, sizeof(product));
    std::printf("%04x:%04x %04x %s | %s\n", attributes.VendorID, attributes.ProductID,
                attributes.VersionNumber, Utf8(manufacturer).c_str(), Utf8(product).c_str());
    CloseHandle(device);
  }
  SetupDiDestroyDeviceInfoList(set);
  return 0;
}

// ---- requests to the running driver ----

int Run(int argc, char** argv, uint32_t board) {
  std::string_view command = argv[1];
  if (command == "install") return argc == 2 ? Install() : Usage();
  if (command == "hid-list") return argc == 2 ? HidList() : Usage();
  if (command == "hold") {
    // The simulated device lives as long as the Wine session, and the
    // session as long as some program runs in it: this one keeps it for
    // the given time (or until it is killed).
    uint32_t seconds = 0;
    if (argc != 3 || !ParseNumber(argv[2], seconds) || seconds > 86400) return Usage();
    Sleep(seconds * 1000);
    return 0;
  }

  HANDLE device = OpenControl();
  if (device == INVALID_HANDLE_VALUE)
    return Fail("the simulated device is not running (sorbel-sim-ctl install)");
  int result = 0;
  sorbel_ctl::StateReply state{};
  if (!Control(device, sorbel_ctl::kSelect, &board, sizeof(board), nullptr, 0)) {
    result = Fail("no such board");
  } else if (command == "config" && argc == 4) {
    sorbel_ctl::ConfigRequest request{};
    if (!ParseNumber(argv[2], request.page_size) || !ParseNumber(argv[3], request.flash_size))
      result = Usage();
    else if (!Control(device, sorbel_ctl::kConfig, &request, sizeof(request), nullptr, 0))
      result = Fail("config refused");
  } else if ((command == "fail-block" || command == "unplug-after" || command == "delay" ||
              command == "appear-after") &&
             argc == 3) {
    uint32_t n = 0;
    uint32_t code = command == "fail-block"     ? sorbel_ctl::kFailBlock
                    : command == "unplug-after" ? sorbel_ctl::kUnplugAfter
                    : command == "delay"        ? sorbel_ctl::kDelay
                                                : sorbel_ctl::kAppearAfter;
    if (!ParseNumber(argv[2], n) || n > 0x7FFFFFFF)
      result = Usage();
    else if (!Control(device, code, &n, sizeof(n), nullptr, 0))
      result = Fail("request refused");
  } else if (command == "product" && argc == 3) {
    wchar_t text[sorbel_ctl::kMaxProductLength];
    int length = MultiByteToWideChar(CP_ACP, 0, argv[2], -1, text, sorbel_ctl::kMaxProductLength);
    if (length <= 0)
      result = Fail("product text too long");
    else if (!Control(device, sorbel_ctl::kProduct, text,
                      static_cast<DWORD>((length - 1) * sizeof(wchar_t)), nullptr, 0))
      result = Fail("product refused");
  } else if ((command == "strict-length" || command == "lock" || command == "leave-written") &&
             argc == 3) {
    std::string_view setting = argv[2];
    uint32_t on = setting == "on" ? 1 : 0;
    uint32_t code = command == "lock"            ? sorbel_ctl::kLock
                    : command == "leave-written" ? sorbel_ctl::kLeaveWritten
                                                 : sorbel_ctl::kStrictLength;
    if (setting != "on" && setting != "off")
      result = Usage();
    else if (!Control(device, code, &on, sizeof(on), nullptr, 0))
      result = Fail("request refused");
  } else if ((command == "plug" || command == "unplug") && argc == 2) {
    uint32_t plugged = command == "plug" ? 1 : 0;
    if (!Control(device, sorbel_ctl::kPlug, &plugged, sizeof(plugged), nullptr, 0))
      result = Fail("plug refused");
  } else if (command == "flash" && argc == 3) {
    DWORD returned = 0;
    std::vector<char> flash;
    if (!QueryState(device, state))
      result = Fail("no device state");
    else if (flash.resize(state.flash_size); !Control(device, sorbel_ctl::kFlash, nullptr, 0,
                                                      flash.data(), state.flash_size, &returned))
      result = Fail("cannot read the flash");
    else if (!WriteFile(argv[2], flash.data(), returned))
      result = Fail("cannot write the flash file");
  } else if (command == "log" && argc == 3) {
    DWORD returned = 0;
    std::vector<char> log;
    if (!QueryState(device, state))
      result = Fail("no device state");
    else if (log.resize(state.log_size + 1); !Control(device, sorbel_ctl::kLog, nullptr, 0,
                                                      log.data(), state.log_size + 1, &returned))
      result = Fail("cannot read the log");
    else if (!WriteFile(argv[2], log.data(), returned))
      result = Fail("cannot write the log file");
    else if (state.log_lost != 0)
      std::fprintf(stderr, "sorbel-sim-ctl: the log was full, %lu bytes were dropped\n",
                   static_cast<unsigned long>(state.log_lost));
  } else if (command == "state" && argc == 2) {
    if (!QueryState(device, state))
      result = Fail("no device state");
    else
      std::printf(
          "flash %lu, log %lu bytes (%lu dropped), bootloader %s, HID devices added %lu, "
          "strict length %s, %s%s, delay %lu ms\n",
          static_cast<unsigned long>(state.flash_size), static_cast<unsigned long>(state.log_size),
          static_cast<unsigned long>(state.log_lost), state.left_bootloader ? "left" : "active",
          static_cast<unsigned long>(state.hid_devices), state.strict_length ? "on" : "off",
          state.unplugged ? "unplugged" : "plugged in", state.locked ? ", locked" : "",
          static_cast<unsigned long>(state.delay_ms));
  } else if (command == "reset" && argc == 2) {
    if (!Control(device, sorbel_ctl::kReset, nullptr, 0, nullptr, 0))
      result = Fail("reset refused");
  } else {
    result = Usage();
  }
  CloseHandle(device);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t board = 1;
  if (argc >= 3 && std::string_view(argv[1]) == "--board") {
    if (!ParseNumber(argv[2], board) || board < 1 || board > sorbel_ctl::kBoards) return Usage();
    argc -= 2;
    argv += 2;
  }
  if (argc < 2) return Usage();
  return Run(argc, argv, board - 1);
}
