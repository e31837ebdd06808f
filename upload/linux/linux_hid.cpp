#include "upload/linux/linux_hid.h"

#include <dirent.h>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
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

// The open node's descriptor is the handle.
HidHandle AsHandle(int fd) { return reinterpret_cast<HidHandle>(static_cast<intptr_t>(fd)); }
int AsFd(HidHandle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

// The feature requests carry the report's length in their size field.
bool FitsRequest(size_t size) { return size > 0 && size <= _IOC_SIZEMASK; }

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

// What udev tells of a hidraw node's device.
struct Identity {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  bool usb = false;  // other buses have no manufacturer string
  std::u16string manufacturer;
  std::u16string product;
};

bool ReadIdentity(udev_device* node, Identity& identity) {
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr);
  const char* uevent = hid != nullptr ? udev_device_get_sysattr_value(hid, "uevent") : nullptr;
  unsigned bus = 0;
  if (uevent == nullptr ||
      !ParseHidId(UeventValue(uevent, "HID_ID"), bus, identity.vendor_id, identity.product_id))
    return false;
  // A USB device's own strings; other buses only name the device.
  udev_device* usb = bus == kBusUsb
                         ? udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device")
                         : nullptr;
  const char* manufacturer =
      usb != nullptr ? udev_device_get_sysattr_value(usb, "manufacturer") : nullptr;
  const char* product = usb != nullptr ? udev_device_get_sysattr_value(usb, "product") : nullptr;
  // sysfs gives a USB device's strings as UTF-8.
  identity.usb = usb != nullptr;
  identity.manufacturer = Utf8ToUtf16(manufacturer != nullptr ? manufacturer : "");
  identity.product =
      Utf8ToUtf16(product != nullptr ? std::string_view(product) : UeventValue(uevent, "HID_NAME"));
  return true;
}

void CopyString(const std::u16string& string, std::span<char16_t> text) {
  size_t n = std::min(string.size(), text.size() - 1);
  string.copy(text.data(), n);
  text[n] = 0;
}

// hidraw2 before hidraw10.
bool ByNumber(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

}  // namespace

LinuxHid::~LinuxHid() {
  if (udev_ != nullptr) udev_unref(udev_);
}

udev* LinuxHid::Context() {
  if (udev_ == nullptr) udev_ = udev_new();
  return udev_;
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
  std::string syspath = std::string(kHidrawClass) + "/" + names_[index];
  udev_device* node =
      Context() != nullptr ? udev_device_new_from_syspath(udev_, syspath.c_str()) : nullptr;
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
  Identity identity;
  if (ReadIdentity(node, identity)) {
    device.identity_known = true;
    device.vendor_id = identity.vendor_id;
    device.product_id = identity.product_id;
    manufacturer_ = std::move(identity.manufacturer);
    product_ = std::move(identity.product);
    device.manufacturer = identity.usb ? manufacturer_.c_str() : nullptr;
    device.product = product_.c_str();
  }
  udev_device_unref(node);
  return true;
}

void LinuxHid::EndDeviceList() { names_.clear(); }

HidOpenResult LinuxHid::Open(const char* path, HidHandle& handle) {
  int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0)
    return errno == EACCES || errno == EPERM ? HidOpenResult::kAccessDenied
                                             : HidOpenResult::kFailed;
  handle = AsHandle(fd);
  return HidOpenResult::kOpened;
}

void LinuxHid::Close(HidHandle handle) { ::close(AsFd(handle)); }

// A node that is not hidraw, or whose device has gone, refuses this request.
bool LinuxHid::GetAttributes(HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) {
  hidraw_devinfo info{};
  if (::ioctl(AsFd(handle), HIDIOCGRAWINFO, &info) < 0) return false;
  vendor_id = static_cast<uint16_t>(info.vendor);
  product_id = static_cast<uint16_t>(info.product);
  return true;
}

bool LinuxHid::GetString(HidHandle handle, bool manufacturer, std::span<char16_t> text) {
  struct stat status {};
  if (::fstat(AsFd(handle), &status) != 0 || !S_ISCHR(status.st_mode) || Context() == nullptr)
    return false;
  udev_device* node = udev_device_new_from_devnum(udev_, 'c', status.st_rdev);
  if (node == nullptr) return false;
  Identity identity;
  bool known = ReadIdentity(node, identity);
  udev_device_unref(node);
  if (known) CopyString(manufacturer ? identity.manufacturer : identity.product, text);
  return known;
}

bool LinuxHid::GetManufacturerString(HidHandle handle, std::span<char16_t> text) {
  return GetString(handle, true, text);
}

bool LinuxHid::GetProductString(HidHandle handle, std::span<char16_t> text) {
  return GetString(handle, false, text);
}

// hidraw has no exclusive open; a lock on the node is what every program
// that writes the device takes. It goes with the descriptor's close.
HidClaimResult LinuxHid::Claim(HidHandle handle, const char*) {
  int result;
  do {
    result = ::flock(AsFd(handle), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return HidClaimResult::kClaimed;
  return errno == EWOULDBLOCK ? HidClaimResult::kBusy : HidClaimResult::kFailed;
}

// The request answers with the count of bytes received, report id included.
bool LinuxHid::GetFeature(HidHandle handle, std::span<uint8_t> report, size_t& received) {
  if (!FitsRequest(report.size())) return false;
  int count = ::ioctl(AsFd(handle), HIDIOCGFEATURE(report.size()), report.data());
  if (count < 0) return false;
  received = static_cast<size_t>(count);
  return true;
}

bool LinuxHid::SetFeature(HidHandle handle, std::span<const uint8_t> report) {
  // The request only reads the buffer.
  auto* data = const_cast<uint8_t*>(report.data());
  return FitsRequest(report.size()) &&
         ::ioctl(AsFd(handle), HIDIOCSFEATURE(report.size()), data) >= 0;
}

bool LinuxHid::Read(HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) {
  ssize_t count = ::read(AsFd(handle), report.data(), report.size());
  if (count < 0) return false;
  bytes_read = static_cast<size_t>(count);
  return true;
}

bool LinuxHid::Write(HidHandle handle, std::span<const uint8_t> report) {
  return ::write(AsFd(handle), report.data(), report.size()) >= 0;
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
