// The HID platform over SetupAPI and hid.dll.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include "upload/hid_platform.h"

namespace hex_upload {

class Win32Hid final : public HidPlatform {
 public:
  Win32Hid() {
    for (auto& lock : locks_) InitializeCriticalSection(&lock);
  }
  ~Win32Hid();
  Win32Hid(const Win32Hid&) = delete;
  Win32Hid& operator=(const Win32Hid&) = delete;

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
  size_t LongestFeatureReport(HidHandle handle) override;
  bool Read(HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) override;
  bool Write(HidHandle handle, std::span<const uint8_t> report) override;

  void SleepMs(unsigned milliseconds) override;
  void RunTogether(unsigned count, Work work, void* context) override;
  void Lock(Guarded what) override { EnterCriticalSection(&locks_[what]); }
  void Unlock(Guarded what) override { LeaveCriticalSection(&locks_[what]); }

 private:
  GUID hid_class_{};
  HDEVINFO devices_ = INVALID_HANDLE_VALUE;
  SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail_ = nullptr;  // the path of the last listed interface
  char place_[200] = {};                                 // the place of the last listed interface
  // The named lock that each claimed device holds until its close.
  static constexpr unsigned kMaxClaims = 32;
  HANDLE claimed_[kMaxClaims] = {};
  HANDLE claims_[kMaxClaims] = {};
  CRITICAL_SECTION locks_[kGuardedCount];
};

}  // namespace hex_upload
