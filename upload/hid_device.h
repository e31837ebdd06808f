// Finding the bootloader among the HID devices and exchanging its reports,
// with the USB error codes that every device operation returns.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "upload/hid_platform.h"

namespace hex_upload {

// USB error codes.
inline constexpr int kUsbSuccess = 0;
inline constexpr int kUsbAccessDenied = 1;
inline constexpr int kUsbDeviceNotFound = 2;
inline constexpr int kUsbCommunicationError = 5;
inline constexpr int kUsbDeviceBusy = 16;

// Report types.
inline constexpr int kInputReport = 1;
inline constexpr int kOutputReport = 2;
inline constexpr int kFeatureReport = 3;

// A device string in UTF-8 with its terminating zero.
inline constexpr size_t kDeviceStringBytes = 64;
using DeviceString = std::array<char, kDeviceStringBytes>;

// The message for a code; for codes without one, "Unknown USB error %d" in a
// buffer that all calls share (valid until the next call).
const char* UsbErrorText(int code);

// Converts zero-terminated UTF-16 (unpaired surrogates become U+FFFD) to
// UTF-8; false when the result with its zero does not fit in 64 bytes.
bool DeviceStringToUtf8(std::span<const char16_t> text, DeviceString& utf8);

// Converts UTF-8 to UTF-16. A byte that starts no valid sequence (cut short,
// overlong, a surrogate, past U+10FFFF) becomes U+FFFD: the text may come
// from a device.
std::u16string Utf8ToUtf16(std::string_view text);

// Opens the first device with both ids and, when given (non-null), both
// strings; with a place, only the device listed at that place is looked at.
// found_place, when given, gets the opened device's place (empty where the
// system tells none).
// Returns kUsbSuccess with the handle set, kUsbDeviceNotFound, or
// kUsbCommunicationError when the last device with matching ids failed a
// string query; kUsbAccessDenied when that device's listed ids and strings
// matched but the system refused to open it.
int OpenBootDevice(HidPlatform& hid, HidHandle& handle, uint16_t vendor_id,
                   const char* manufacturer, uint16_t product_id, const char* product,
                   const char* place = nullptr, std::span<char> found_place = {});

// A listed device's place; empty where the system does not tell.
inline const char* PlaceOf(const HidListedDevice& listed) {
  return listed.place != nullptr ? listed.place : "";
}

// What a look at one device with both ids found.
enum class DeviceCheck {
  kReady,              // both strings match and it opens
  kOtherManufacturer,  // another device with the same ids
  kOtherProduct,
  kStringsUnreadable,  // opened, but a string query failed
  kNoAccess,           // listed with the wanted strings, but the system refused it
  kCannotOpen,         // listed with the wanted strings, but it does not open
  kNotOurs,            // other ids, or nothing tells
};

struct SurveyedDevice {
  std::array<char, 64> place;  // cut to fit
  std::array<char, 256> path;
  DeviceString product;  // empty when it could not be read
  DeviceCheck check;
};

// A bootloader of ours, whether or not this user may open it.
inline bool IsWanted(DeviceCheck check) {
  return check == DeviceCheck::kReady || check == DeviceCheck::kNoAccess ||
         check == DeviceCheck::kCannotOpen;
}

inline constexpr size_t kMaxSurveyed = 32;

// Every listed device with both ids, in list order (at most kMaxSurveyed),
// each opened only to read its ids and strings and closed again. Returns the
// count filled in.
size_t SurveyDevices(HidPlatform& hid, uint16_t vendor_id, const char* manufacturer,
                     uint16_t product_id, const char* product, std::span<SurveyedDevice> devices);
void CloseBootDevice(HidPlatform& hid, HidHandle handle);

// The USB ids in a device's hardware id as Windows names it before an open
// ("HID\\VID_16C0&PID_05DF&REV_0100"); false when it holds no such ids.
bool IdsFromHardwareId(std::string_view id, uint16_t& vendor_id, uint16_t& product_id);

// Feature reports are padded to at most this length when the system refuses
// them short.
inline constexpr size_t kMaxPaddedFeatureReport = 1024;

// Type 2 writes an output report, type 3 sends a feature report (refused, it
// goes once more padded with zeros to the collection's longest feature
// report); any other type sends nothing. Returns kUsbSuccess or
// kUsbCommunicationError.
int SendReport(HidPlatform& hid, HidHandle handle, int report_type,
               std::span<const uint8_t> report);

// Puts report_id in byte 0, then type 1 reads an input report (length becomes
// the count read) and type 3 fetches a feature report into the whole buffer
// (length becomes the count received where the system tells it, else stays). Any other type does
// nothing. On entry length is the size of the buffer. Returns kUsbSuccess or
// kUsbCommunicationError.
int ReceiveReport(HidPlatform& hid, HidHandle handle, int report_type, uint8_t report_id,
                  std::span<uint8_t> buffer, size_t& length);

}  // namespace hex_upload
