// The HID platform of hex-upload in the browser: WebHID behind the same
// interface as the desktop systems. WebHID answers with promises; every call
// here suspends the program until the promise settles (Asyncify), so the
// upload core runs as it does on a console.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "upload/hid_platform.h"

namespace hex_upload {

class WebHid final : public HidPlatform {
 public:
  // WebHID does not tell a device's manufacturer string; wherever it is asked
  // for, the given UTF-8 text stands in, so the search checks the ids and the
  // product name only.
  explicit WebHid(const char* manufacturer) : manufacturer_(manufacturer) {}

  // The devices that the user has allowed this page to use, in the browser's
  // order; the browser's chooser has taken the place of the list walk.
  bool BeginDeviceList() override;
  bool ListDevice(unsigned index, HidListedDevice& device) override;
  void EndDeviceList() override;

  HidOpenResult Open(const char* path, HidHandle& handle) override;
  void Close(HidHandle handle) override;

  bool GetAttributes(HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) override;
  bool GetManufacturerString(HidHandle handle, std::span<char16_t> text) override;
  bool GetProductString(HidHandle handle, std::span<char16_t> text) override;

  // The browser owns the device; the page has no other program to keep out.
  HidClaimResult Claim(HidHandle, const char*) override { return HidClaimResult::kClaimed; }
  bool GetFeature(HidHandle handle, std::span<uint8_t> report, size_t& received) override;
  bool SetFeature(HidHandle handle, std::span<const uint8_t> report) override;
  size_t LongestFeatureReport(HidHandle handle) override;
  bool Read(HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) override;
  bool Write(HidHandle handle, std::span<const uint8_t> report) override;

  void SleepMs(unsigned milliseconds) override;

 private:
  const char* manufacturer_;
  unsigned listed_count_ = 0;
  std::array<char, 24> path_{};  // the last listed device's path
  std::array<char16_t, kDeviceStringUnits> listed_manufacturer_{};
  std::array<char16_t, kDeviceStringUnits> listed_product_{};
};

}  // namespace hex_upload
