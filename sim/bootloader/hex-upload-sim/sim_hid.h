// The HID platform of hex-upload-sim: bootloader models as the bootloader
// devices, listed after a device of another kind that the search must pass
// over, and, when asked for, beside a device with the same ids and another
// product string and a bootloader that refuses to be opened.
#pragma once

#include <string>
#include <vector>

#include "sim/bootloader/model/bootloader.h"
#include "upload/hid_platform.h"

namespace sorbel_sim {

class SimHid final : public hex_upload::HidPlatform {
 public:
  explicit SimHid(std::u16string manufacturer);

  // Listed after those already there, at a place of its own.
  // replug_after: once pulled out, another board is at its place from that
  // many searches on; 0: never.
  void AddBootloader(Bootloader& device, int replug_after = 0);
  void AddExtra(std::u16string product);
  void AddLocked();
  // Every feature report takes this long, as on a real device.
  void SetReportDelay(unsigned milliseconds) { report_delay_ms_ = milliseconds; }

  bool BeginDeviceList() override;
  bool ListDevice(unsigned index, hex_upload::HidListedDevice& device) override;
  void EndDeviceList() override;

  hex_upload::HidOpenResult Open(const char* path, hex_upload::HidHandle& handle) override;
  void Close(hex_upload::HidHandle handle) override;

  bool GetAttributes(hex_upload::HidHandle handle, uint16_t& vendor_id,
                     uint16_t& product_id) override;
  bool GetManufacturerString(hex_upload::HidHandle handle, std::span<char16_t> text) override;
  bool GetProductString(hex_upload::HidHandle handle, std::span<char16_t> text) override;

  hex_upload::HidClaimResult Claim(hex_upload::HidHandle, const char*) override {
    return hex_upload::HidClaimResult::kClaimed;
  }
  bool GetFeature(hex_upload::HidHandle handle, std::span<uint8_t> report,
                  size_t& received) override;
  bool SetFeature(hex_upload::HidHandle handle, std::span<const uint8_t> report) override;
  bool Read(hex_upload::HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) override;
  bool Write(hex_upload::HidHandle handle, std::span<const uint8_t> report) override;

  void SleepMs(unsigned milliseconds) override;

  int OpenCount() const { return open_count_; }
  // The Sorbel devices are missing from the next searches, as if plugged in later.
  void SetAbsentSearches(unsigned searches) { absent_searches_ = searches; }

 private:
  struct SimDevice {
    std::string path;
    std::string place;
    uint16_t vendor_id;
    uint16_t product_id;
    std::u16string manufacturer;
    std::u16string product;
    Bootloader* bootloader;
    bool locked;
    int replug_after = 0;
    int searches_unplugged = 0;
  };
  SimDevice& Of(hex_upload::HidHandle handle) { return *static_cast<SimDevice*>(handle); }
  // Not there: unplugged, or all of ours while they are absent.
  bool Missing(const SimDevice& device) const;
  void Delay();

  std::vector<SimDevice> devices_;
  std::vector<const SimDevice*> listed_;  // of the current list
  std::u16string manufacturer_;
  unsigned absent_searches_ = 0;
  bool absent_now_ = false;
  int open_count_ = 0;
  unsigned report_delay_ms_ = 0;
};

}  // namespace sorbel_sim
