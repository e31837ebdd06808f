#include "upload/win32/win32_hid.h"

#include <cstdlib>
#include <cstring>

#include <cfgmgr32.h>

#include "upload/hid_device.h"
#include "upload/output.h"

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

namespace hex_upload {
namespace {

HANDLE AsHandle(HidHandle handle) { return static_cast<HANDLE>(handle); }

// The collection's feature report length, the length the HID class driver
// wants every feature report buffer to have; 0 when it cannot be had.
size_t FeatureReportLength(HANDLE device) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(device, &preparsed)) return 0;
  HIDP_CAPS caps{};
  bool known = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
  HidD_FreePreparsedData(preparsed);
  return known ? caps.FeatureReportByteLength : 0;
}

// The USB port of a device: the location path of the device above it (its
// USB device, or the USB interface of a composite device, as Device Manager
// shows it), which names the chain of ports from the host controller on.
// Where the system tells none, the last part of the instance id of the device
// above (or of the device itself, where there is none above), which for a
// device without a serial number the system builds from its hub and port.
void FindPlace(DEVINST device, char* place, ULONG size) {
  DEVINST parent = 0;
  ULONG length = size;
  bool has_parent = CM_Get_Parent(&parent, device, 0) == CR_SUCCESS;
  // A list of strings: the first is the full path.
  if (has_parent && CM_Get_DevNode_Registry_PropertyA(parent, CM_DRP_LOCATION_PATHS, nullptr, place,
                                                      &length, 0) == CR_SUCCESS)
    return;
  place[0] = 0;
  if (CM_Get_Device_IDA(has_parent ? parent : device, place, size, 0) != CR_SUCCESS) return;
  const char* last = std::strrchr(place, '\\');
  if (last != nullptr) std::memmove(place, last + 1, std::strlen(last + 1) + 1);
}

struct ThreadStart {
  HidPlatform::Work work;
  void* context;
  unsigned index;
};

DWORD WINAPI ThreadMain(void* parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  start->work(start->context, start->index);
  return 0;
}

bool SendFeature(HANDLE device, std::span<const uint8_t> report) {
  // The call does not write to the buffer; its declaration just lacks the const.
  return HidD_SetFeature(device, const_cast<uint8_t*>(report.data()),
                         static_cast<ULONG>(report.size()));
}

}  // namespace

Win32Hid::~Win32Hid() {
  EndDeviceList();
  for (auto& lock : locks_) DeleteCriticalSection(&lock);
}

bool Win32Hid::BeginDeviceList() {
  EndDeviceList();
  HidD_GetHidGuid(&hid_class_);
  devices_ =
      SetupDiGetClassDevsA(&hid_class_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  return devices_ != INVALID_HANDLE_VALUE;
}

bool Win32Hid::ListDevice(unsigned index, HidListedDevice& device) {
  SP_DEVICE_INTERFACE_DATA interface_data{};
  interface_data.cbSize = sizeof interface_data;
  if (!SetupDiEnumDeviceInterfaces(devices_, nullptr, &hid_class_, index, &interface_data))
    return false;
  std::free(detail_);
  detail_ = nullptr;
  DWORD size = 0;
  SetupDiGetDeviceInterfaceDetailA(devices_, &interface_data, nullptr, 0, &size, nullptr);
  if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
    size = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  detail_ = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, size));
  if (detail_ == nullptr) return false;
  detail_->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  // A path that cannot be had is left empty; opening it then fails.
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  place_[0] = 0;
  device = HidListedDevice{};
  if (SetupDiGetDeviceInterfaceDetailA(devices_, &interface_data, detail_, size, nullptr, &info)) {
    FindPlace(info.DevInst, place_, sizeof place_);
    // The ids as the hardware id tells them before any open; its first
    // string is the most specific.
    char hardware_id[256] = {};
    device.identity_known =
        SetupDiGetDeviceRegistryPropertyA(devices_, &info, SPDRP_HARDWAREID, nullptr,
                                          reinterpret_cast<BYTE*>(hardware_id),
                                          sizeof hardware_id - 2, nullptr) &&
        IdsFromHardwareId(hardware_id, device.vendor_id, device.product_id);
  }
  device.path = detail_->DevicePath;
  device.place = place_[0] != 0 ? place_ : nullptr;
  return true;
}

void Win32Hid::EndDeviceList() {
  if (devices_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(devices_);
  devices_ = INVALID_HANDLE_VALUE;
  std::free(detail_);
  detail_ = nullptr;
}

HidOpenResult Win32Hid::Open(const char* path, HidHandle& handle) {
  HANDLE device =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_ACCESS_DENIED ? HidOpenResult::kAccessDenied
                                                 : HidOpenResult::kFailed;
  handle = device;
  return HidOpenResult::kOpened;
}

void Win32Hid::Close(HidHandle handle) {
  for (unsigned i = 0; i < kMaxClaims; ++i) {
    if (claimed_[i] != handle) continue;
    CloseHandle(claims_[i]);
    claimed_[i] = claims_[i] = nullptr;
  }
  CloseHandle(AsHandle(handle));
}

// An open without sharing would also refuse every other program's look at
// the device's ids and strings, and their looks would make it fail in turn:
// a named object per device is the lock instead. It lives as long as a
// handle on it is open, in whichever program.
HidClaimResult Win32Hid::Claim(HidHandle handle, const char* key) {
  if (key == nullptr) return HidClaimResult::kClaimed;
  // A place holds no backslash, which would name a namespace.
  char name[240];
  FormatText(name, sizeof name, "Local\\sorbel-hex-upload %s", key);
  unsigned slot = 0;
  while (slot < kMaxClaims && claims_[slot] != nullptr) ++slot;
  if (slot == kMaxClaims) return HidClaimResult::kFailed;
  HANDLE lock = CreateMutexA(nullptr, FALSE, name);
  // Another user's object refuses us access to it.
  if (lock == nullptr)
    return GetLastError() == ERROR_ACCESS_DENIED ? HidClaimResult::kBusy : HidClaimResult::kFailed;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(lock);
    return HidClaimResult::kBusy;
  }
  claimed_[slot] = handle;
  claims_[slot] = lock;
  return HidClaimResult::kClaimed;
}

bool Win32Hid::GetAttributes(HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) {
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  if (!HidD_GetAttributes(AsHandle(handle), &attributes)) return false;
  vendor_id = attributes.VendorID;
  product_id = attributes.ProductID;
  return true;
}

bool Win32Hid::GetManufacturerString(HidHandle handle, std::span<char16_t> text) {
  return HidD_GetManufacturerString(AsHandle(handle), text.data(),
                                    static_cast<ULONG>(text.size_bytes()));
}

bool Win32Hid::GetProductString(HidHandle handle, std::span<char16_t> text) {
  return HidD_GetProductString(AsHandle(handle), text.data(),
                               static_cast<ULONG>(text.size_bytes()));
}

// HidD_GetFeature tells no count: received stays the buffer's length.
bool Win32Hid::GetFeature(HidHandle handle, std::span<uint8_t> report, size_t&) {
  return HidD_GetFeature(AsHandle(handle), report.data(), static_cast<ULONG>(report.size()));
}

bool Win32Hid::SetFeature(HidHandle handle, std::span<const uint8_t> report) {
  return SendFeature(AsHandle(handle), report);
}

size_t Win32Hid::LongestFeatureReport(HidHandle handle) {
  return FeatureReportLength(AsHandle(handle));
}

bool Win32Hid::Read(HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) {
  DWORD count = 0;
  if (!ReadFile(AsHandle(handle), report.data(), static_cast<DWORD>(report.size()), &count,
                nullptr))
    return false;
  bytes_read = count;
  return true;
}

bool Win32Hid::Write(HidHandle handle, std::span<const uint8_t> report) {
  DWORD count = 0;
  return WriteFile(AsHandle(handle), report.data(), static_cast<DWORD>(report.size()), &count,
                   nullptr);
}

void Win32Hid::SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

void Win32Hid::RunTogether(unsigned count, Work work, void* context) {
  // The core never asks for more at once; any beyond run on this thread.
  constexpr unsigned kMaxThreads = 32;
  ThreadStart starts[kMaxThreads];
  HANDLE threads[kMaxThreads] = {};
  for (unsigned i = 0; i < count; ++i) {
    if (i < kMaxThreads) {
      starts[i] = ThreadStart{work, context, i};
      threads[i] = CreateThread(nullptr, 0, ThreadMain, &starts[i], 0, nullptr);
    }
    if (i >= kMaxThreads || threads[i] == nullptr) work(context, i);
  }
  for (HANDLE thread : threads) {
    if (thread == nullptr) continue;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

}  // namespace hex_upload
