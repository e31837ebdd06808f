// The HID platform on Linux, straight on the kernel's hidraw interface: the
// device list from the hidraw class in sysfs, each device's ids and strings
// from udev, and an opened node's requests as hidraw ioctls, read and write.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "upload/hid_platform.h"

struct udev;

namespace hex_upload {

class LinuxHid final : public HidPlatform {
 public:
  LinuxHid() = default;
  ~LinuxHid();
  LinuxHid(const LinuxHid&) = delete;
  LinuxHid& operator=(const LinuxHid&) = delete;

  bool BeginDeviceList() override;
  bool ListDevice(unsigned index, HidListedDevice& device) override;
  void EndDeviceList() override;

  HidOpenResult Open(const char* path, HidHandle& handle) override;
  void Close(HidHandle handle) override;

  bool GetAttributes(HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) override;
  bool GetManufacturerString(HidHandle handle, std::span<char16_t> text) override;
  bool GetProductString(HidHandle handle, std::span<char16_t> text) override;

  HidClaimResult Claim(HidHandle handle, const char* key) override;
  bool GetFeature(HidHandle handle, std::span<uint8_t> report, size_t& received) override;
  bool SetFeature(HidHandle handle, std::span<const uint8_t> report) override;
  bool Read(HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) override;
  bool Write(HidHandle handle, std::span<const uint8_t> report) override;

  void SleepMs(unsigned milliseconds) override;
  void RunTogether(unsigned count, Work work, void* context) override;
  void Lock(Guarded what) override { locks_[what].lock(); }
  void Unlock(Guarded what) override { locks_[what].unlock(); }

 private:
  udev* Context();
  // One of the device strings of an open node, asked of udev anew.
  bool GetString(HidHandle handle, bool manufacturer, std::span<char16_t> text);

  udev* udev_ = nullptr;            // one context for the whole run
  std::vector<std::string> names_;  // hidraw0, hidraw1, ... of the current list
  // What the last listed device's entry points to.
  std::string devnode_;
  std::string place_;
  std::u16string manufacturer_;
  std::u16string product_;
  std::mutex locks_[kGuardedCount];
};

}  // namespace hex_upload
