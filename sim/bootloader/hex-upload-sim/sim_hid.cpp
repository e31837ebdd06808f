#include "sim/bootloader/hex-upload-sim/sim_hid.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#endif

namespace sorbel_sim {
namespace {

bool CopyString(const std::u16string& from, std::span<char16_t> text) {
  size_t n = from.size() < text.size() ? from.size() : text.size() - 1;
  from.copy(text.data(), n);
  text[n] = 0;
  return true;
}

}  // namespace

SimHid::SimHid(Bootloader& device, bool present, std::u16string manufacturer)
    : devices_{{"sim:keyboard", 0x046D, 0xC31C, u"Keyboard maker", u"Keyboard", nullptr},
               {"sim:sorbel", 0x16C0, 0x05DF, std::move(manufacturer), u"Sorbel", &device}},
      device_count_(present ? 2 : 1) {}

bool SimHid::BeginDeviceList() {
  absent_now_ = absent_searches_ > 0;
  if (absent_now_) --absent_searches_;
  return true;
}

bool SimHid::ListDevice(unsigned index, hex_upload::HidListedDevice& device) {
  if (index >= Listed()) return false;
  device = hex_upload::HidListedDevice{};
  device.path = devices_[index].path;
  return true;
}

void SimHid::EndDeviceList() {}

hex_upload::HidOpenResult SimHid::Open(const char* path, hex_upload::HidHandle& handle) {
  for (unsigned i = 0; i < Listed(); ++i) {
    if (std::string_view(devices_[i].path) == path) {
      handle = &devices_[i];
      ++open_count_;
      return hex_upload::HidOpenResult::kOpened;
    }
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

bool SimHid::GetFeature(hex_upload::HidHandle handle, std::span<uint8_t> report) {
  Bootloader* bootloader = Of(handle).bootloader;
  return bootloader != nullptr && sorbel_sim::GetFeature(*bootloader, report);
}

bool SimHid::SetFeature(hex_upload::HidHandle handle, std::span<const uint8_t> report) {
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
