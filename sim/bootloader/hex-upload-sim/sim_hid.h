// The HID platform of hex-upload-sim: the bootloader model as the only
// bootloader device, listed after a device of another kind that the search
// must pass over.
#pragma once

#include <string>

#include "sim/bootloader/model/bootloader.h"
#include "upload/hid_platform.h"

namespace sorbel_sim {

class SimHid final : public hex_upload::HidPlatform {
 public:
  // present = false: only the other device is there.
  SimHid(Bootloader& device, bool present, std::u16string manufacturer);

  bool BeginDeviceList() override;
  bool ListDevice(unsigned index, hex_upload::HidListedDevice& device) override;
  void EndDeviceList() override;

  hex_upload::HidOpenResult Open(const char* path, hex_upload::HidHandle& handle) override;
  void Close(hex_upload::HidHandle handle) override;

  bool GetAttributes(hex_upload::HidHandle handle, uint16_t& vendor_id,
                     uint16_t& product_id) override;
  bool GetManufacturerString(hex_upload::HidHandle handle, std::span<char16_t> text) override;
  bool GetProductString(hex_upload::HidHandle handle, std::span<char16_t> text) override;

  bool GetFeature(hex_upload::HidHandle handle, std::span<uint8_t> report) override;
  bool SetFeature(hex_upload::HidHandle handle, std::span<const uint8_t> report) override;
  bool Read(hex_upload::HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) override;
  bool Write(hex_upload::HidHandle handle, std::span<const uint8_t> report) override;

  void SleepMs(unsigned milliseconds) override;

  int OpenCount() const { return open_count_; }
  // The device is missing from the next searches, as if plugged in later.
  void SetAbsentSearches(unsigned searches) { absent_searches_ = searches; }

 private:
  struct SimDevice {
    const char* path;
    uint16_t vendor_id;
    uint16_t product_id;
    std::u16string manufacturer;
    std::u16string product;
    Bootloader* bootloader;
  };
  SimDevice& Of(hex_upload::HidHandle handle) { return *static_cast<SimDevice*>(handle); }

  unsigned Listed() const { return absent_now_ ? 1 : device_count_; }

  SimDevice devices_[2];
  unsigned device_count_;
  unsigned absent_searches_ = 0;
  bool absent_now_ = false;
  int open_count_ = 0;
};

}  // namespace sorbel_sim
