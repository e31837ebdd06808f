#include "upload/hid_device.h"

#include <gtest/gtest.h>

#include "tests/unit/upload/fake_hid.h"
#include "upload/upload.h"

namespace {

using namespace hex_upload;
using fake::Device;

int OpenSorbel(fake::Hid& hid, HidHandle& handle) {
  return OpenBootDevice(hid, handle, kVendorId, kManufacturer, kProductId, kProduct);
}

std::string OpenedPath(HidHandle handle) { return static_cast<Device*>(handle)->path; }

Device Other(std::string path, uint16_t vendor, uint16_t product) {
  Device device = fake::SorbelDevice(nullptr, std::move(path));
  device.vendor_id = vendor;
  device.product_id = product;
  return device;
}

TEST(DeviceSearch, NoDeviceAtAll) {
  fake::Hid hid;
  HidHandle handle = nullptr;
  EXPECT_EQ(kUsbDeviceNotFound, OpenSorbel(hid, handle));
  EXPECT_EQ(nullptr, handle);
}

TEST(DeviceSearch, TakesTheFirstFullMatchAndClosesThoseItPassedOver) {
  fake::Hid hid;
  Device wrong_product = fake::SorbelDevice(nullptr, "wrong-product");
  wrong_product.product = u"Sorbet";
  Device wrong_case = fake::SorbelDevice(nullptr, "wrong-case");
  wrong_case.product = u"sorbel";
  hid.devices = {Other("keyboard", 0x046D, 0xC31C),
                 Other("same-vendor", 0x16C0, 0x05DC),
                 wrong_product,
                 wrong_case,
                 fake::SorbelDevice(nullptr, "first"),
                 fake::SorbelDevice(nullptr, "second")};
  HidHandle handle = nullptr;
  ASSERT_EQ(kUsbSuccess, OpenSorbel(hid, handle));
  EXPECT_EQ("first", OpenedPath(handle));
  EXPECT_EQ(
      (std::vector<std::string>{"list", "open keyboard", "close keyboard", "open same-vendor",
                                "close same-vendor", "open wrong-product", "close wrong-product",
                                "open wrong-case", "close wrong-case", "open first"}),
      hid.events);
}

TEST(DeviceSearch, ADeviceTheListTellsIsAnotherIsNeverOpened) {
  fake::Hid hid;
  Device keyboard = Other("keyboard", 0x046D, 0xC31C);
  Device same_vendor = Other("same-vendor", 0x16C0, 0x05DC);
  Device told = fake::SorbelDevice(nullptr, "sorbel");
  for (Device* device : {&keyboard, &same_vendor, &told}) device->listed_identity = true;
  // Where the list tells nothing (Windows without a hardware id), only an
  // open can tell.
  hid.devices = {keyboard, same_vendor, Other("untold", 0x046D, 0xC31C), told};
  HidHandle handle = nullptr;
  ASSERT_EQ(kUsbSuccess, OpenSorbel(hid, handle));
  EXPECT_EQ((std::vector<std::string>{"list", "open untold", "close untold", "open sorbel"}),
            hid.events);
}

TEST(DeviceSearch, IdsFromAWindowsHardwareId) {
  struct Case {
    const char* id;
    bool known;
    uint16_t vendor_id, product_id;
  } const cases[] = {
      {"HID\\VID_16C0&PID_05DF&REV_0100", true, 0x16C0, 0x05DF},
      {"HID\\VID_046d&PID_c31c", true, 0x046D, 0xC31C},
      {"USB\\VID_16C0&PID_05DF&MI_00", true, 0x16C0, 0x05DF},
      {"HID\\VIRTUALSORBEL", false, 0, 0},
      {"HID\\VID_16C0", false, 0, 0},
      {"HID\\VID_16C0&PID_05D", false, 0, 0},   // cut short
      {"HID\\VID_16G0&PID_05DF", false, 0, 0},  // not hex
      {"", false, 0, 0},
  };
  for (const auto& c : cases) {
    uint16_t vendor = 0, product = 0;
    EXPECT_EQ(c.known, IdsFromHardwareId(c.id, vendor, product)) << c.id;
    EXPECT_EQ(c.vendor_id, vendor) << c.id;
    EXPECT_EQ(c.product_id, product) << c.id;
  }
}

TEST(DeviceSearch, ChecksVendorBeforeProductAndPassesOverUnreadableAttributes) {
  fake::Hid hid;
  Device unreadable = fake::SorbelDevice(nullptr, "unreadable");
  unreadable.attributes_fail = true;
  hid.devices = {Other("product-only", 0x1234, 0x05DF), unreadable};
  HidHandle handle = nullptr;
  EXPECT_EQ(kUsbDeviceNotFound, OpenSorbel(hid, handle));
}

TEST(DeviceSearch, FailedStringQueryGivesCommunicationErrorUnlessALaterMatchResetsIt) {
  struct Case {
    const char* what;
    std::vector<Device> devices;
    int result;
  };
  Device no_manufacturer = fake::SorbelDevice(nullptr, "a");
  no_manufacturer.manufacturer_fails = true;
  Device no_product = fake::SorbelDevice(nullptr, "b");
  no_product.product_fails = true;
  Device wrong_product = fake::SorbelDevice(nullptr, "c");
  wrong_product.product = u"Other";
  const Case cases[] = {
      {"manufacturer query fails, listed last",
       {wrong_product, no_manufacturer},
       kUsbCommunicationError},
      {"product query fails, listed last", {no_product}, kUsbCommunicationError},
      {"a later device with matching ids resets",
       {no_manufacturer, wrong_product},
       kUsbDeviceNotFound},
      {"a later device with other ids does not",
       {no_manufacturer, Other("d", 1, 2)},
       kUsbCommunicationError},
  };
  for (const auto& c : cases) {
    fake::Hid hid;
    hid.devices = c.devices;
    HidHandle handle = nullptr;
    EXPECT_EQ(c.result, OpenSorbel(hid, handle)) << c.what;
    EXPECT_EQ(nullptr, handle) << c.what;
  }
  EXPECT_STREQ("Communication error with device", UsbErrorText(kUsbCommunicationError));
}

TEST(DeviceSearch, WithoutWantedStringsTheIdsDecideAndNoStringIsRead) {
  fake::Hid hid;
  Device device = fake::SorbelDevice(nullptr, "any");
  device.manufacturer_fails = true;
  device.product_fails = true;
  hid.devices = {device};
  HidHandle handle = nullptr;
  EXPECT_EQ(kUsbSuccess, OpenBootDevice(hid, handle, kVendorId, nullptr, kProductId, kProduct));
  EXPECT_EQ("any", OpenedPath(handle));
}

TEST(DeviceSearch, RefusedOpenIsReportedOnlyWhereTheListNamesOurDevice) {
  struct Case {
    const char* what;
    HidOpenResult open_result;
    bool listed_identity;
    std::u16string listed_product;
    int result;
  } const cases[] = {
      {"denied, listed as ours (Linux)", HidOpenResult::kAccessDenied, true, u"Sorbel",
       kUsbAccessDenied},
      {"denied, identity unknown (Windows)", HidOpenResult::kAccessDenied, false, u"Sorbel",
       kUsbDeviceNotFound},
      {"denied, listed as another product", HidOpenResult::kAccessDenied, true, u"Other",
       kUsbDeviceNotFound},
      {"failed for another reason", HidOpenResult::kFailed, true, u"Sorbel", kUsbDeviceNotFound},
  };
  for (const auto& c : cases) {
    fake::Hid hid;
    Device device = fake::SorbelDevice(nullptr, "locked");
    device.open_result = c.open_result;
    device.listed_identity = c.listed_identity;
    device.product = c.listed_product;
    hid.devices = {device, Other("keyboard", 0x046D, 0xC31C)};
    HidHandle handle = nullptr;
    EXPECT_EQ(c.result, OpenSorbel(hid, handle)) << c.what;
  }
  // A device that can be opened after a refused one is still found.
  fake::Hid hid;
  Device locked = fake::SorbelDevice(nullptr, "locked");
  locked.open_result = HidOpenResult::kAccessDenied;
  locked.listed_identity = true;
  hid.devices = {locked, fake::SorbelDevice(nullptr, "free")};
  HidHandle handle = nullptr;
  EXPECT_EQ(kUsbSuccess, OpenSorbel(hid, handle));
  EXPECT_EQ("free", OpenedPath(handle));
}

TEST(DeviceStrings, ConvertToUtf8WithinSixtyFourBytes) {
  struct Case {
    const char* what;
    std::u16string text;
    bool fits;
    std::string utf8;
  } const cases[] = {
      {"ascii", u"Sorbel", true, "Sorbel"},
      {"63 ascii bytes", std::u16string(63, u'a'), true, std::string(63, 'a')},
      {"64 ascii bytes", std::u16string(64, u'a'), false, ""},
      {"two-byte characters up to 62 bytes", std::u16string(31, u'\u00e4'), true,
       [] {
         std::string s;
         for (int i = 0; i < 31; ++i) s += "\xc3\xa4";
         return s;
       }()},
      {"a two-byte character crossing the limit", std::u16string(62, u'a') + u"\u00e4", false, ""},
      {"three-byte character", u"\u20ac", true, "\xe2\x82\xac"},
      {"surrogate pair", u"\U0001F600", true, "\xf0\x9f\x98\x80"},
      {"unpaired surrogate", std::u16string(1, char16_t(0xD800)) + u"x", true, "\xef\xbf\xbdx"},
      {"empty", u"", true, ""},
  };
  for (const auto& c : cases) {
    DeviceString utf8{};
    EXPECT_EQ(c.fits, DeviceStringToUtf8(c.text, utf8)) << c.what;
    EXPECT_EQ(c.utf8, std::string(utf8.data())) << c.what;
  }
}

TEST(DeviceStrings, FromUtf8ReplaceEveryBadByte) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"S\xc3\xb6rbel", u"S\u00f6rbel"},
      {"\xf0\x9f\x98\x80", u"\U0001F600"},
      {"\xff"
       "a",
       u"\uFFFDa"},                                       // no lead byte
      {"ab\xe2\x82", u"ab\uFFFD\uFFFD"},                  // cut short
      {"\xc0\x80", u"\uFFFD\uFFFD"},                      // overlong zero
      {"\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate
      {"\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
  };
  for (const auto& [utf8, utf16] : cases) EXPECT_EQ(utf16, Utf8ToUtf16(utf8)) << utf8;
}

TEST(DeviceSearch, StringsTooLongForSixtyFourBytesMatchNothing) {
  fake::Hid hid;
  Device device = fake::SorbelDevice(nullptr, "long");
  device.product = u"Sorbel" + std::u16string(100, u' ');
  hid.devices = {device};
  HidHandle handle = nullptr;
  EXPECT_EQ(kUsbDeviceNotFound, OpenSorbel(hid, handle));
}

TEST(Reports, UnsupportedDirectionsTouchNothing) {
  fake::Hid hid;
  fake::LoggedBootloader bootloader;
  hid.devices = {fake::SorbelDevice(bootloader.model.get())};
  HidHandle handle = &hid.devices[0];
  std::array<uint8_t, 7> report{7, 7, 7, 7, 7, 7, 7};
  EXPECT_EQ(kUsbCommunicationError, SendReport(hid, handle, kInputReport, report));
  EXPECT_EQ(kUsbCommunicationError, SendReport(hid, handle, 4, report));
  size_t length = report.size();
  EXPECT_EQ(kUsbCommunicationError, ReceiveReport(hid, handle, kOutputReport, 1, report, length));
  EXPECT_EQ(7, report[0]);
  EXPECT_TRUE(bootloader.log.empty());
  EXPECT_TRUE(hid.written.empty());
}

TEST(Reports, FeatureReadGivesTheCountWhereTheSystemTellsItInputReadGivesTheCount) {
  fake::Hid hid;
  fake::LoggedBootloader bootloader(sorbel_sim::Settings{64, 16384});
  hid.devices = {fake::SorbelDevice(bootloader.model.get())};
  hid.devices[0].input_report = {3, 1, 2};
  HidHandle handle = &hid.devices[0];
  std::array<uint8_t, 132> buffer{};
  size_t length = buffer.size();
  // As on Windows: the system tells no count, the length stays.
  hid.devices[0].tells_count = false;
  EXPECT_EQ(kUsbSuccess, ReceiveReport(hid, handle, kFeatureReport, 1, buffer, length));
  EXPECT_EQ(132u, length);
  // As on Linux: the bytes received, report id included.
  hid.devices[0].tells_count = true;
  for (size_t sent : {3u, 7u}) {
    sorbel_sim::ShortInfoReport(*bootloader.model, sent);
    length = buffer.size();
    EXPECT_EQ(kUsbSuccess, ReceiveReport(hid, handle, kFeatureReport, 1, buffer, length));
    EXPECT_EQ(sent, length);
  }
  length = buffer.size();
  EXPECT_EQ(kUsbSuccess, ReceiveReport(hid, handle, kFeatureReport, 1, buffer, length));
  EXPECT_EQ((std::array<uint8_t, 7>{1, 64, 0, 0, 0x40, 0, 0}),
            (std::array<uint8_t, 7>{buffer[0], buffer[1], buffer[2], buffer[3], buffer[4],
                                    buffer[5], buffer[6]}));
  EXPECT_EQ(kUsbSuccess, ReceiveReport(hid, handle, kInputReport, 3, buffer, length));
  EXPECT_EQ(3u, length);
  std::array<uint8_t, 3> output{5, 6, 7};
  EXPECT_EQ(kUsbSuccess, SendReport(hid, handle, kOutputReport, output));
  EXPECT_EQ(1u, hid.written.size());
}

TEST(Reports, RefusedShortFeatureReportGoesOncePadded) {
  struct Case {
    size_t strict_length;         // 0: any length passes
    size_t longest;               // as the system tells it; 0 unknown
    std::vector<size_t> lengths;  // sent, in order
  } const cases[] = {
      {132, 132, {7, 132}},
      {0, 132, {7}},
      {132, 0, {7}},
      {kMaxPaddedFeatureReport + 1, kMaxPaddedFeatureReport + 1, {7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.longest);
    fake::Hid hid;
    fake::LoggedBootloader bootloader;
    hid.devices = {fake::SorbelDevice(bootloader.model.get())};
    hid.devices[0].strict_length = c.strict_length;
    hid.devices[0].longest_feature_report = c.longest;
    std::array<uint8_t, 7> closing{1, 2, 3, 4, 5, 6, 7};
    bool reached = c.lengths.back() == c.strict_length || c.strict_length == 0;
    EXPECT_EQ(reached ? kUsbSuccess : kUsbCommunicationError,
              SendReport(hid, &hid.devices[0], kFeatureReport, closing));
    EXPECT_EQ(c.lengths, hid.feature_lengths);
    EXPECT_EQ(reached, sorbel_sim::LeftBootloader(*bootloader.model));
  }
}

TEST(UsbErrors, Texts) {
  EXPECT_STREQ("Access to device denied", UsbErrorText(1));
  EXPECT_STREQ("The specified device was not found", UsbErrorText(2));
  EXPECT_STREQ("The device is used by another application", UsbErrorText(16));
  EXPECT_STREQ("Unknown USB error 7", UsbErrorText(7));
  EXPECT_STREQ("Unknown USB error -1", UsbErrorText(-1));
}

// Wine's HID bus over hidraw tells "hidraw" for the manufacturer and the
// kernel's "<manufacturer> <product>" for the product.
TEST(DeviceSearch, StringsAsWinesHidrawBusTellsThem) {
  const std::u16string maker = Utf8ToUtf16(HEX_UPLOAD_MANUFACTURER);
  struct Case {
    std::u16string manufacturer, product;
    DeviceCheck check;
  } const cases[] = {
      {u"hidraw", maker + u" Sorbel", DeviceCheck::kReady},
      {u"hidraw", maker + u" Sorbet", DeviceCheck::kOtherProduct},
      {u"hidraw", maker + u" ", DeviceCheck::kOtherProduct},
      {u"hidraw", maker + u" Sorbel ", DeviceCheck::kOtherProduct},
      {u"hidraw", maker + u"Sorbel", DeviceCheck::kOtherManufacturer},
      {u"hidraw", u"Other Sorbel", DeviceCheck::kOtherManufacturer},
      {u"hidraw", u"Sorbel", DeviceCheck::kOtherManufacturer},
      {u"hidraw", maker, DeviceCheck::kOtherManufacturer},
      {u"Hidraw", maker + u" Sorbel", DeviceCheck::kOtherManufacturer},
      {u"evdev", maker + u" Sorbel", DeviceCheck::kOtherManufacturer},
  };
  for (const auto& c : cases) {
    fake::Hid hid;
    Device device = fake::SorbelDevice(nullptr);
    device.manufacturer = c.manufacturer;
    device.product = c.product;
    hid.devices = {device};
    std::array<SurveyedDevice, 2> found{};
    ASSERT_EQ(1u, SurveyDevices(hid, kVendorId, kManufacturer, kProductId, kProduct, found));
    EXPECT_EQ(c.check, found[0].check) << "case " << &c - cases;
    // The product as the device's own, only where the name was taken apart.
    if (c.check == DeviceCheck::kReady) {
      EXPECT_STREQ("Sorbel", found[0].product.data());
    }
    HidHandle handle = nullptr;
    EXPECT_EQ(c.check == DeviceCheck::kReady ? kUsbSuccess : kUsbDeviceNotFound,
              OpenSorbel(hid, handle));
  }
}

}  // namespace
