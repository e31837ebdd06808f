#include "upload/hid_device.h"

#include "upload/output.h"
#include "upload/wide_text.h"

#include <algorithm>
#include <cstring>

namespace hex_upload {
namespace {

// The device string query as the device gives it, converted; false when the
// query fails. A string that does not fit matches nothing: it comes back empty
// with `fits` false.
using StringQuery = bool (HidPlatform::*)(HidHandle, std::span<char16_t>);

bool QueryString(HidPlatform& hid, StringQuery query, HidHandle handle, DeviceString& utf8,
                 bool& fits) {
  std::array<char16_t, kDeviceStringUnits> text{};
  if (!(hid.*query)(handle, text)) return false;
  text.back() = 0;
  fits = DeviceStringToUtf8(text, utf8);
  return true;
}

bool SameString(const DeviceString& utf8, bool fits, const char* wanted) {
  return fits && std::strcmp(utf8.data(), wanted) == 0;
}

// A string as the list tells it, converted; false when it does not fit.
bool ListedToUtf8(const char16_t* text, DeviceString& utf8) {
  size_t units = 0;
  while (units < kDeviceStringUnits && text[units] != 0) ++units;
  return DeviceStringToUtf8(std::span(text, units), utf8);
}

struct Wanted {
  uint16_t vendor_id;
  const char* manufacturer;  // null: the ids decide
  uint16_t product_id;
  const char* product;
};

// Wine's HID bus over hidraw does not pass a device's strings on: it names
// the manufacturer "hidraw" and the product by the Linux kernel's name for
// the device, "<manufacturer> <product>". Together they still name the one
// device; the product is then told as the device's own.
constexpr char kWineHidrawManufacturer[] = "hidraw";

DeviceCheck CheckKernelName(DeviceString& product_text, bool fits, const Wanted& wanted) {
  const char* name = product_text.data();
  size_t length = std::strlen(wanted.manufacturer);
  if (!fits || std::strncmp(name, wanted.manufacturer, length) != 0 || name[length] != ' ')
    return DeviceCheck::kOtherManufacturer;
  if (std::strcmp(name + length + 1, wanted.product) != 0) return DeviceCheck::kOtherProduct;
  FormatText(product_text.data(), product_text.size(), "%s", wanted.product);
  return DeviceCheck::kReady;
}

// An opened device's ids, then its strings as far as they decide.
DeviceCheck CheckOpened(HidPlatform& hid, HidHandle device, const Wanted& wanted,
                        DeviceString& product_text) {
  uint16_t vendor = 0;
  uint16_t product_number = 0;
  if (!hid.GetAttributes(device, vendor, product_number) || vendor != wanted.vendor_id ||
      product_number != wanted.product_id)
    return DeviceCheck::kNotOurs;
  if (wanted.manufacturer == nullptr || wanted.product == nullptr) return DeviceCheck::kReady;
  DeviceString text{};
  bool fits = false;
  if (!QueryString(hid, &HidPlatform::GetManufacturerString, device, text, fits))
    return DeviceCheck::kStringsUnreadable;
  bool wine_hidraw = SameString(text, fits, kWineHidrawManufacturer) &&
                     std::strcmp(wanted.manufacturer, kWineHidrawManufacturer) != 0;
  if (!wine_hidraw && !SameString(text, fits, wanted.manufacturer))
    return DeviceCheck::kOtherManufacturer;
  if (!QueryString(hid, &HidPlatform::GetProductString, device, product_text, fits))
    return DeviceCheck::kStringsUnreadable;
  if (wine_hidraw) return CheckKernelName(product_text, fits, wanted);
  return SameString(product_text, fits, wanted.product) ? DeviceCheck::kReady
                                                        : DeviceCheck::kOtherProduct;
}

// One listed device: opened, and its ids and strings checked; it stays open
// only when it is ready. A device that does not open is passed over unless
// the list names it as one with the wanted ids: only there can a refusal be
// told apart from the many devices that are simply not ours to open.
DeviceCheck Inspect(HidPlatform& hid, const HidListedDevice& listed, const Wanted& wanted,
                    HidHandle& device, DeviceString& product_text) {
  bool listed_ours = listed.identity_known && listed.vendor_id == wanted.vendor_id &&
                     listed.product_id == wanted.product_id;
  // A device that the list tells is another is never opened: the first open
  // of a keyboard or a mouse may power it up and start it.
  if (listed.identity_known && !listed_ours) return DeviceCheck::kNotOurs;
  HidOpenResult opened = hid.Open(listed.path, device);
  if (opened != HidOpenResult::kOpened) {
    bool ids_decide = wanted.manufacturer == nullptr || wanted.product == nullptr;
    if (!listed_ours ||
        (!ids_decide && (listed.manufacturer == nullptr || listed.product == nullptr)))
      return DeviceCheck::kNotOurs;
    DeviceString manufacturer_text{};
    bool manufacturer_fits =
        listed.manufacturer != nullptr && ListedToUtf8(listed.manufacturer, manufacturer_text);
    bool product_fits = listed.product != nullptr && ListedToUtf8(listed.product, product_text);
    if (!ids_decide && !SameString(manufacturer_text, manufacturer_fits, wanted.manufacturer))
      return DeviceCheck::kOtherManufacturer;
    if (!ids_decide && !SameString(product_text, product_fits, wanted.product))
      return DeviceCheck::kOtherProduct;
    return opened == HidOpenResult::kAccessDenied ? DeviceCheck::kNoAccess
                                                  : DeviceCheck::kCannotOpen;
  }
  DeviceCheck check = CheckOpened(hid, device, wanted, product_text);
  if (check != DeviceCheck::kReady) hid.Close(device);
  return check;
}

}  // namespace

const char* UsbErrorText(int code) {
  switch (code) {
    case kUsbAccessDenied:
      return "Access to device denied";
    case kUsbDeviceNotFound:
      return "The specified device was not found";
    case kUsbCommunicationError:
      return "Communication error with device";
    case kUsbDeviceBusy:
      return "The device is used by another application";
  }
  static char unknown[48];
  FormatText(unknown, sizeof unknown, "Unknown USB error %d", code);
  return unknown;
}

bool DeviceStringToUtf8(std::span<const char16_t> text, DeviceString& utf8) {
  utf8[0] = 0;
  size_t units = 0;
  while (units < text.size() && text[units] != 0) ++units;
  // Every unit gives at least one byte: more than 63 cannot fit.
  if (units >= utf8.size()) return false;
  std::array<char, Utf8Capacity(kDeviceStringBytes - 1)> converted;
  size_t length = WideToUtf8(text.first(units), converted, LoneSurrogate::kReplace);
  if (length >= utf8.size()) return false;
  std::copy_n(converted.begin(), length + 1, utf8.begin());
  return true;
}

int OpenBootDevice(HidPlatform& hid, HidHandle& handle, uint16_t vendor_id,
                   const char* manufacturer, uint16_t product_id, const char* product,
                   const char* place, std::span<char> found_place) {
  int result = kUsbDeviceNotFound;
  if (!hid.BeginDeviceList()) return result;
  const Wanted wanted{vendor_id, manufacturer, product_id, product};
  HidHandle device = nullptr;  // the caller's handle stays untouched but on success
  bool found = false;
  for (unsigned index = 0; !found; ++index) {
    HidListedDevice listed;
    if (!hid.ListDevice(index, listed)) break;
    if (place != nullptr && std::strcmp(PlaceOf(listed), place) != 0) continue;
    DeviceString product_text{};
    switch (Inspect(hid, listed, wanted, device, product_text)) {
      case DeviceCheck::kReady:
        found = true;
        if (!found_place.empty())
          FormatText(found_place.data(), found_place.size(), "%s", PlaceOf(listed));
        break;
      case DeviceCheck::kNoAccess:
        result = kUsbAccessDenied;
        break;
      case DeviceCheck::kStringsUnreadable:
        result = kUsbCommunicationError;
        break;
      case DeviceCheck::kOtherManufacturer:
      case DeviceCheck::kOtherProduct:
        result = kUsbDeviceNotFound;
        break;
      default:
        break;
    }
  }
  hid.EndDeviceList();
  if (!found) return result;
  handle = device;
  return kUsbSuccess;
}

void CloseBootDevice(HidPlatform& hid, HidHandle handle) { hid.Close(handle); }

bool IdsFromHardwareId(std::string_view id, uint16_t& vendor_id, uint16_t& product_id) {
  // "HID\\VID_16C0&PID_05DF&REV_0100": each id follows its key as exactly
  // four hex digits, the product's after the vendor's.
  constexpr char kKeys[] = "VID_PID_";
  unsigned ids[2] = {};
  int found = 0;
  for (size_t at = 0; found < 2 && at + 8 <= id.size(); ++at) {
    if (std::memcmp(id.data() + at, kKeys + 4 * found, 4) != 0) continue;
    for (size_t i = at + 4; i < at + 8; ++i) {
      unsigned c = static_cast<unsigned char>(id[i]);
      unsigned digit = c - '0' < 10 ? c - '0' : (c | 0x20) - 'a' < 6 ? (c | 0x20) - 'a' + 10 : 16;
      if (digit == 16) return false;
      ids[found] = ids[found] << 4 | digit;
    }
    ++found;
    at += 7;
  }
  if (found < 2) return false;
  vendor_id = static_cast<uint16_t>(ids[0]);
  product_id = static_cast<uint16_t>(ids[1]);
  return true;
}

size_t SurveyDevices(HidPlatform& hid, uint16_t vendor_id, const char* manufacturer,
                     uint16_t product_id, const char* product, std::span<SurveyedDevice> devices) {
  size_t count = 0;
  if (!hid.BeginDeviceList()) return count;
  const Wanted wanted{vendor_id, manufacturer, product_id, product};
  for (unsigned index = 0; count < devices.size(); ++index) {
    HidListedDevice listed;
    if (!hid.ListDevice(index, listed)) break;
    SurveyedDevice& entry = devices[count];
    entry.product[0] = 0;  // place and path are written below
    HidHandle device = nullptr;
    entry.check = Inspect(hid, listed, wanted, device, entry.product);
    if (entry.check == DeviceCheck::kNotOurs) continue;
    if (entry.check == DeviceCheck::kReady) hid.Close(device);
    FormatText(entry.place.data(), entry.place.size(), "%s", PlaceOf(listed));
    FormatText(entry.path.data(), entry.path.size(), "%s",
               listed.path != nullptr ? listed.path : "");
    ++count;
  }
  hid.EndDeviceList();
  return count;
}

namespace {

// Windows' HID class refuses a feature report shorter than the collection's
// longest (the 7-byte closing report beside the 132-byte data block), and
// browsers on Windows hand it over as it is: once more, padded with zeros.
bool SendPaddedFeature(HidPlatform& hid, HidHandle handle, std::span<const uint8_t> report) {
  std::array<uint8_t, kMaxPaddedFeatureReport> padded{};
  size_t length = hid.LongestFeatureReport(handle);
  if (length <= report.size() || length > padded.size()) return false;
  std::copy(report.begin(), report.end(), padded.begin());
  return hid.SetFeature(handle, std::span(padded).first(length));
}

}  // namespace

int SendReport(HidPlatform& hid, HidHandle handle, int report_type,
               std::span<const uint8_t> report) {
  bool sent = false;
  if (report_type == kOutputReport)
    sent = hid.Write(handle, report);
  else if (report_type == kFeatureReport)
    sent = hid.SetFeature(handle, report) || SendPaddedFeature(hid, handle, report);
  return sent ? kUsbSuccess : kUsbCommunicationError;
}

int ReceiveReport(HidPlatform& hid, HidHandle handle, int report_type, uint8_t report_id,
                  std::span<uint8_t> buffer, size_t& length) {
  if (report_type != kInputReport && report_type != kFeatureReport) return kUsbCommunicationError;
  if (length > buffer.size()) length = buffer.size();
  if (length == 0) return kUsbCommunicationError;
  auto report = buffer.first(length);
  report[0] = report_id;
  if (report_type == kFeatureReport) {
    size_t received = report.size();
    if (!hid.GetFeature(handle, report, received)) return kUsbCommunicationError;
    // Only where the system tells the count; it never grows the report.
    length = std::min(received, length);
    return kUsbSuccess;
  }
  size_t bytes_read = 0;
  if (!hid.Read(handle, report, bytes_read)) return kUsbCommunicationError;
  length = bytes_read;
  return kUsbSuccess;
}

}  // namespace hex_upload
