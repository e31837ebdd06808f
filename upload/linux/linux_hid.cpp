#include "upload/linux/linux_hid.h"

#include <dirent.h>
#include <fcntl.h>
#include <hidapi.h>
#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <string_view>
#include <thread>
#include <vector>

#include "upload/hid_device.h"

namespace hex_upload {
namespace {

// Listing this folder is all a search costs when no device is there; a udev
// enumeration reads all of /sys/bus and /sys/class for every search.
constexpr char kHidrawClass[] = "/sys/class/hidraw";
constexpr unsigned kBusUsb = 3;

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

// The value of KEY=value in a uevent text; empty when it is not there.
std::string_view UeventValue(std::string_view uevent, std::string_view key) {
  while (!uevent.empty()) {
    std::string_view line = uevent.substr(0, uevent.find('\n'));
    uevent.remove_prefix(line.size() < uevent.size() ? line.size() + 1 : line.size());
    if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
      return line.substr(key.size() + 1);
  }
  return {};
}

// HID_ID=bus:vendor:product, three hex numbers.
bool ParseHidId(std::string_view id, unsigned& bus, uint16_t& vendor_id, uint16_t& product_id) {
  unsigned fields[3] = {};
  const char* next = id.data();
  const char* end = id.data() + id.size();
  for (int i = 0; i < 3; ++i) {
    auto [stop, error] = std::from_chars(next, end, fields[i], 16);
    if (error != std::errc{} || stop == next || (i < 2 ? stop == end || *stop != ':' : stop != end))
      return false;
    next = stop + 1;
  }
  bus = fields[0];
  vendor_id = static_cast<uint16_t>(fields[1]);
  product_id = static_cast<uint16_t>(fields[2]);
  return true;
}

// hidraw2 before hidraw10.
bool ByNumber(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

}  // namespace

LinuxHid::LinuxHid() { hid_init(); }

LinuxHid::~LinuxHid() {
  if (udev_ != nullptr) udev_unref(udev_);
  hid_exit();
}

bool LinuxHid::BeginDeviceList() {
  EndDeviceList();
  DIR* folder = opendir(kHidrawClass);
  if (folder == nullptr) return false;  // no hidraw driver loaded: no device
  while (const dirent* entry = readdir(folder))
    if (entry->d_name[0] != '.') names_.emplace_back(entry->d_name);
  closedir(folder);
  std::sort(names_.begin(), names_.end(), ByNumber);
  return true;
}

bool LinuxHid::ListDevice(unsigned index, HidListedDevice& device) {
  if (index >= names_.size()) return false;
  device = HidListedDevice{};
  devnode_ = "/dev/" + names_[index];
  device.path = devnode_.c_str();
  if (udev_ == nullptr) udev_ = udev_new();
  std::string syspath = std::string(kHidrawClass) + "/" + names_[index];
  udev_device* node =
      udev_ != nullptr ? udev_device_new_from_syspath(udev_, syspath.c_str()) : nullptr;
  // Gone since the list was read: its open fails, as for any vanished device.
  if (node == nullptr) return true;
  if (const char* devnode = udev_device_get_devnode(node)) devnode_ = devnode;
  device.path = devnode_.c_str();
  // The USB device's name in sysfs is its port path: bus, then hub ports.
  udev_device* port = udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device");
  const char* port_path = port != nullptr ? udev_device_get_syspath(port) : nullptr;
  if (port_path != nullptr) {
    place_ = std::strrchr(port_path, '/') != nullptr ? std::strrchr(port_path, '/') + 1 : port_path;
    device.place = place_.c_str();
  }
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr);
  const char* uevent = hid != nullptr ? udev_device_get_sysattr_value(hid, "uevent") : nullptr;
  unsigned bus = 0;
  if (uevent != nullptr &&
      ParseHidId(UeventValue(uevent, "HID_ID"), bus, device.vendor_id, device.product_id)) {
    device.identity_known = true;
    // A USB device's own strings; other buses only name the device.
    udev_device* usb =
        bus == kBusUsb ? udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device")
                       : nullptr;
    const char* manufacturer =
        usb != nullptr ? udev_device_get_sysattr_value(usb, "manufacturer") : nullptr;
    const char* product = usb != nullptr ? udev_device_get_sysattr_value(usb, "product") : nullptr;
    std::string_view name = UeventValue(uevent, "HID_NAME");
    // sysfs gives a USB device's strings as UTF-8.
    manufacturer_ = Utf8ToUtf16(manufacturer != nullptr ? manufacturer : "");
    product_ = Utf8ToUtf16(product != nullptr ? std::string_view(product) : name);
    device.manufacturer = usb != nullptr ? manufacturer_.c_str() : nullptr;
    device.product = product_.c_str();
  }
  udev_device_unref(node);
  return true;
}

void LinuxHid::EndDeviceList() { names_.clear(); }

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

void LinuxHid::RunTogether(unsigned count, Work work, void* context) {
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < count; ++i) threads.emplace_back(work, context, i);
  for (auto& thread : threads) thread.join();
}

void LinuxHid::SleepMs(unsigned milliseconds) {
  timespec pause{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace hex_upload
