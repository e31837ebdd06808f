// The operating system's HID support as hex-upload needs it. Implementations
// only translate to the platform; every decision lies in the callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace hex_upload {

using HidHandle = void*;

// One entry of the list of present HID device interfaces.
struct HidListedDevice {
  const char* path = nullptr;  // valid until the next list call
  // The USB port the device is plugged into, the same each time the device
  // is plugged into that port; null where the system does not tell.
  const char* place = nullptr;
  // Where the list itself tells the ids and strings (Linux), they are here;
  // otherwise only opening the device tells them.
  bool identity_known = false;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  const char16_t* manufacturer = nullptr;  // zero-terminated, or null
  const char16_t* product = nullptr;
};

enum class HidOpenResult { kOpened, kFailed, kAccessDenied };
enum class HidClaimResult { kClaimed, kBusy, kFailed };

inline constexpr size_t kDeviceStringUnits = 256;  // 512-byte UTF-16 string buffer

class HidPlatform {
 public:
  // The list of present HID device interfaces; false when there is none.
  virtual bool BeginDeviceList() = 0;
  // Entry index of the list; false past its end.
  virtual bool ListDevice(unsigned index, HidListedDevice& device) = 0;
  virtual void EndDeviceList() = 0;

  // Opens an existing device path for reading and writing, both shared.
  virtual HidOpenResult Open(const char* path, HidHandle& handle) = 0;
  virtual void Close(HidHandle handle) = 0;
  // Takes an opened device for this program alone, without waiting, until
  // it is closed; kBusy when another program holds it. key names the device
  // (its place, or null) where the system has no lock on an open device
  // itself. Runs under Lock, as Close does.
  virtual HidClaimResult Claim(HidHandle handle, const char* key) = 0;

  virtual bool GetAttributes(HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) = 0;
  // Zero-terminated UTF-16 strings into a buffer of kDeviceStringUnits.
  virtual bool GetManufacturerString(HidHandle handle, std::span<char16_t> text) = 0;
  virtual bool GetProductString(HidHandle handle, std::span<char16_t> text) = 0;

  // Feature reports, report id in byte 0, the whole buffer's length passed.
  // received: on entry the buffer's length; where the system tells how many
  // bytes the device sent (report id included), that count.
  virtual bool GetFeature(HidHandle handle, std::span<uint8_t> report, size_t& received) = 0;
  virtual bool SetFeature(HidHandle handle, std::span<const uint8_t> report) = 0;
  // The length in bytes, report id included, of the longest feature report
  // of the device's collection; 0 where the system does not tell it or does
  // not need it.
  virtual size_t LongestFeatureReport(HidHandle) { return 0; }
  // Input and output reports through the device's plain read and write.
  virtual bool Read(HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) = 0;
  virtual bool Write(HidHandle handle, std::span<const uint8_t> report) = 0;

  // Suspends the calling thread for the given time.
  virtual void SleepMs(unsigned milliseconds) = 0;

  // Runs work(context, i) for each i below count, each on a thread of its
  // own, and returns when all have ended. Between the threads, the list and
  // Open, Claim and Close run under Lock(kDevices), each output line under
  // Lock(kLines); reports go to different devices at once. Where there are
  // no threads, one after the other.
  using Work = void (*)(void* context, unsigned index);
  virtual void RunTogether(unsigned count, Work work, void* context) {
    for (unsigned i = 0; i < count; ++i) work(context, i);
  }
  enum Guarded { kDevices, kLines, kGuardedCount };
  virtual void Lock(Guarded) {}
  virtual void Unlock(Guarded) {}

 protected:
  ~HidPlatform() = default;
};

}  // namespace hex_upload
