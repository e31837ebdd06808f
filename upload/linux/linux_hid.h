// The HID platform over hidapi's hidraw backend. The device list tells each
// device's ids and strings without opening it.
#pragma once

#include <string>

#include "upload/hid_platform.h"

struct hid_device_info;

namespace hex_upload {

class LinuxHid final : public HidPlatform {
 public:
  LinuxHid();
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

  bool GetFeature(HidHandle handle, std::span<uint8_t> report) override;
  bool SetFeature(HidHandle handle, std::span<const uint8_t> report) override;
  bool Read(HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) override;
  bool Write(HidHandle handle, std::span<const uint8_t> report) override;

  void SleepMs(unsigned milliseconds) override;

 private:
  hid_device_info* devices_ = nullptr;
  std::u16string manufacturer_;  // strings of the last listed device
  std::u16string product_;
};

}  // namespace hex_upload
