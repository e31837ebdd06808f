#include "upload/linux/linux_hid.h"

#include <fcntl.h>
#include <hidapi.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace hex_upload {
namespace {

hid_device* AsDevice(HidHandle handle) { return static_cast<hid_device*>(handle); }

// hidapi's wide strings are UTF-32 here; the caller wants UTF-16.
void ToUtf16(const wchar_t* text, std::u16string& utf16) {
  utf16.clear();
  for (; text != nullptr && *text != 0; ++text) {
    auto c = static_cast<char32_t>(*text);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      utf16 += static_cast<char16_t>(0xD800 + (c >> 10));
      utf16 += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      utf16 += static_cast<char16_t>(c > 0x10FFFF ? 0xFFFD : c);
    }
  }
}

bool CopyString(int result, const wchar_t* wide, std::span<char16_t> text) {
  if (result != 0) return false;
  std::u16string utf16;
  ToUtf16(wide, utf16);
  size_t n = utf16.size() < text.size() ? utf16.size() : text.size() - 1;
  utf16.copy(text.data(), n);
  text[n] = 0;
  return true;
}

}  // namespace

LinuxHid::LinuxHid() { hid_init(); }

LinuxHid::~LinuxHid() {
  EndDeviceList();
  hid_exit();
}

bool LinuxHid::BeginDeviceList() {
  EndDeviceList();
  devices_ = hid_enumerate(0, 0);
  return true;
}

bool LinuxHid::ListDevice(unsigned index, HidListedDevice& device) {
  hid_device_info* info = devices_;
  for (unsigned i = 0; i < index && info != nullptr; ++i) info = info->next;
  if (info == nullptr) return false;
  ToUtf16(info->manufacturer_string, manufacturer_);
  ToUtf16(info->product_string, product_);
  device = HidListedDevice{};
  device.path = info->path;
  device.identity_known = true;
  device.vendor_id = info->vendor_id;
  device.product_id = info->product_id;
  device.manufacturer = info->manufacturer_string != nullptr ? manufacturer_.c_str() : nullptr;
  device.product = info->product_string != nullptr ? product_.c_str() : nullptr;
  return true;
}

void LinuxHid::EndDeviceList() {
  hid_free_enumeration(devices_);
  devices_ = nullptr;
}

HidOpenResult LinuxHid::Open(const char* path, HidHandle& handle) {
  hid_device* device = hid_open_path(path);
  if (device != nullptr) {
    handle = device;
    return HidOpenResult::kOpened;
  }
  // hidapi does not tell why; the node's own open does.
  int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return HidOpenResult::kFailed;
  }
  return errno == EACCES || errno == EPERM ? HidOpenResult::kAccessDenied : HidOpenResult::kFailed;
}

void LinuxHid::Close(HidHandle handle) { hid_close(AsDevice(handle)); }

bool LinuxHid::GetAttributes(HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) {
  hid_device_info* info = hid_get_device_info(AsDevice(handle));
  if (info == nullptr) return false;
  vendor_id = info->vendor_id;
  product_id = info->product_id;
  return true;
}

bool LinuxHid::GetManufacturerString(HidHandle handle, std::span<char16_t> text) {
  wchar_t wide[kDeviceStringUnits] = {};
  return CopyString(hid_get_manufacturer_string(AsDevice(handle), wide, kDeviceStringUnits), wide,
                    text);
}

bool LinuxHid::GetProductString(HidHandle handle, std::span<char16_t> text) {
  wchar_t wide[kDeviceStringUnits] = {};
  return CopyString(hid_get_product_string(AsDevice(handle), wide, kDeviceStringUnits), wide, text);
}

bool LinuxHid::GetFeature(HidHandle handle, std::span<uint8_t> report) {
  return hid_get_feature_report(AsDevice(handle), report.data(), report.size()) >= 0;
}

bool LinuxHid::SetFeature(HidHandle handle, std::span<const uint8_t> report) {
  return hid_send_feature_report(AsDevice(handle), report.data(), report.size()) >= 0;
}

bool LinuxHid::Read(HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) {
  int count = hid_read(AsDevice(handle), report.data(), report.size());
  if (count < 0) return false;
  bytes_read = static_cast<size_t>(count);
  return true;
}

bool LinuxHid::Write(HidHandle handle, std::span<const uint8_t> report) {
  return hid_write(AsDevice(handle), report.data(), report.size()) >= 0;
}

void LinuxHid::SleepMs(unsigned milliseconds) {
  timespec pause{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace hex_upload
