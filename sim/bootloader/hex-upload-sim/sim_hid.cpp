#include "sim/bootloader/hex-upload-sim/sim_hid.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#endif

namespace sorbel_sim {
namespace {

constexpr uint16_t kVendorId = 0x16C0;
constexpr uint16_t kProductId = 0x05DF;

bool CopyString(const std::u16string& from, std::span<char16_t> text) {
  size_t n = from.size() < text.size() ? from.size() : text.size() - 1;
  from.copy(text.data(), n);
  text[n] = 0;
  return true;
}

}  // namespace

SimHid::SimHid(std::u16string manufacturer) : manufacturer_(std::move(manufacturer)) {
  devices_.reserve(16);  // entries are handles: they must not move
  devices_.push_back(
      {"sim:keyboard", "9-5", 0x046D, 0xC31C, u"Keyboard maker", u"Keyboard", nullptr, false});
}

// Bootloader k sits at port k of a hub on port 1 of bus 9, as "9-1.k".
void SimHid::AddBootloader(Bootloader& device, int replug_after) {
  int k = 1;
  for (const SimDevice& entry : devices_) k += entry.bootloader != nullptr;
  std::string number = std::to_string(k);
  devices_.push_back({k == 1 ? "sim:sorbel" : "sim:sorbel" + number, "9-1." + number, kVendorId,
                      kProductId, manufacturer_, u"Sorbel", &device, false, replug_after});
}

void SimHid::AddExtra(std::u16string product) {
  devices_.push_back({"sim:extra", "9-3", kVendorId, kProductId, manufacturer_, std::move(product),
                      nullptr, false});
}

void SimHid::AddLocked() {
  devices_.push_back(
      {"sim:locked", "9-4", kVendorId, kProductId, manufacturer_, u"Sorbel", nullptr, true});
}

bool SimHid::Missing(const SimDevice& device) const {
  if (device.vendor_id != kVendorId) return false;
  return absent_now_ || (device.bootloader != nullptr && Unplugged(*device.bootloader));
}

void SimHid::Delay() {
  if (report_delay_ms_ > 0) SleepMs(report_delay_ms_);
}

bool SimHid::BeginDeviceList() {
  for (SimDevice& device : devices_) {
    if (device.replug_after <= 0 || device.bootloader == nullptr || !Unplugged(*device.bootloader))
      continue;
    if (++device.searches_unplugged < device.replug_after) continue;
    device.searches_unplugged = 0;
    PlugInAnother(*device.bootloader);
  }
  absent_now_ = absent_searches_ > 0;
  if (absent_now_) --absent_searches_;
  listed_.clear();
  for (const SimDevice& device : devices_)
    if (!Missing(device)) listed_.push_back(&device);
  return true;
}

bool SimHid::ListDevice(unsigned index, hex_upload::HidListedDevice& device) {
  if (index >= listed_.size()) return false;
  const SimDevice& entry = *listed_[index];
  device = hex_upload::HidListedDevice{};
  device.path = entry.path.c_str();
  device.place = entry.place.c_str();
  device.identity_known = true;
  device.vendor_id = entry.vendor_id;
  device.product_id = entry.product_id;
  device.manufacturer = entry.manufacturer.c_str();
  device.product = entry.product.c_str();
  return true;
}

void SimHid::EndDeviceList() {}

hex_upload::HidOpenResult SimHid::Open(const char* path, hex_upload::HidHandle& handle) {
  for (SimDevice& device : devices_) {
    if (device.path != path || Missing(device)) continue;
    if (device.locked) return hex_upload::HidOpenResult::kAccessDenied;
    handle = &device;
    ++open_count_;
    return hex_upload::HidOpenResult::kOpened;
  }
  return hex_upload::HidOpenResult::kFailed;
}

void SimHid::Close(hex_upload::HidHandle) {}

bool SimHid::GetAttributes(hex_upload::HidHandle handle, uint16_t& vendor_id,
                           uint16_t& product_id) {
  vendor_id = Of(handle).vendor_id;
  product_id = Of(handle).product_id;
  return true;
}

bool SimHid::GetManufacturerString(hex_upload::HidHandle handle, std::span<char16_t> text) {
  return CopyString(Of(handle).manufacturer, text);
}

bool SimHid::GetProductString(hex_upload::HidHandle handle, std::span<char16_t> text) {
  return CopyString(Of(handle).product, text);
}

// As hidraw does, the count of bytes received goes back.
bool SimHid::GetFeature(hex_upload::HidHandle handle, std::span<uint8_t> report, size_t& received) {
  Delay();
  Bootloader* bootloader = Of(handle).bootloader;
  if (bootloader == nullptr || !sorbel_sim::GetFeature(*bootloader, report)) return false;
  received = InfoReportLength(*bootloader);
  return true;
}

bool SimHid::SetFeature(hex_upload::HidHandle handle, std::span<const uint8_t> report) {
  Delay();
  Bootloader* bootloader = Of(handle).bootloader;
  return bootloader != nullptr && sorbel_sim::SetFeature(*bootloader, report);
}

// The bootloader has no input or output reports.
bool SimHid::Read(hex_upload::HidHandle, std::span<uint8_t>, size_t&) { return false; }

bool SimHid::Write(hex_upload::HidHandle, std::span<const uint8_t>) { return false; }

void SimHid::SleepMs(unsigned milliseconds) {
#ifdef _WIN32
  Sleep(milliseconds);
#else
  timespec pause{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
#endif
}

}  // namespace sorbel_sim
