#include "upload/web/web_hid.h"

#include <emscripten/emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

// The JavaScript side keeps the listed HIDDevice objects and the opened ones;
// a handle is an index into the opened ones, plus one, so that it is never
// null and outlives the list. The JavaScript keeps its own layout.
// clang-format off

// The page may put the user's chosen device first (Module.hidDevices).
EM_ASYNC_JS(int, JsListDevices, (), {
  const state = Module["webHid"] || (Module["webHid"] = {listed: [], opened: []});
  state.listed = await (Module["hidDevices"] ? Module["hidDevices"]() : navigator.hid.getDevices());
  return state.listed.length;
});

// A listed device (opened = 0) or an opened one (opened = 1, index = handle - 1).
EM_JS(int, JsDeviceIds, (int opened, int index), {
  const device = Module["webHid"][opened ? "opened" : "listed"][index];
  return device.vendorId << 16 | device.productId;
});

// JavaScript strings are UTF-16 already: copied unit by unit, cut to fit.
EM_JS(void, JsDeviceProduct, (int opened, int index, char16_t* out, int units), {
  const name = Module["webHid"][opened ? "opened" : "listed"][index].productName || "";
  for (let i = 0; i < units; ++i)
    HEAPU16[(out >> 1) + i] = i < name.length ? name.charCodeAt(i) : 0;
  HEAPU16[(out >> 1) + units - 1] = 0;
});

EM_JS(void, JsUtf8ToUtf16, (const char* text, char16_t* out, int units), {
  const string = UTF8ToString(text);
  for (let i = 0; i < units; ++i)
    HEAPU16[(out >> 1) + i] = i < string.length ? string.charCodeAt(i) : 0;
  HEAPU16[(out >> 1) + units - 1] = 0;
});

// The handle, or 0 when the open failed, -1 when the system refused it.
EM_ASYNC_JS(int, JsOpen, (int index), {
  const state = Module["webHid"];
  const device = state.listed[index];
  try {
    if (!device.opened)
      await device.open();
  } catch (error) {
    return error.name === "NotAllowedError" || error.name === "SecurityError" ? -1 : 0;
  }
  return state.opened.push(device);
});

EM_ASYNC_JS(void, JsClose, (int handle), {
  const opened = Module["webHid"].opened;
  const device = opened[handle - 1];
  opened[handle - 1] = null;
  // Another handle on the same device keeps it open.
  if (!opened.includes(device)) {
    try {
      await device.close();
    } catch (error) {
    }
  }
});

// The browser gives a numbered report with its id in byte 0, as the desktop
// systems do; the bytes that fit are copied, the rest of the buffer stays.
// Returns their count, -1 when the request failed.
EM_ASYNC_JS(int, JsGetFeature, (int handle, uint8_t* report, int length), {
  const device = Module["webHid"].opened[handle - 1];
  try {
    const view = await device.receiveFeatureReport(HEAPU8[report]);
    const count = Math.min(view.byteLength, length);
    HEAPU8.set(new Uint8Array(view.buffer, view.byteOffset, count), report);
    return count;
  } catch (error) {
    return -1;
  }
});

// WebHID lists each report's items with their size in bits and count; a
// report's length counts its id byte too. Child collections count as well.
EM_JS(int, JsLongestFeatureReport, (int handle), {
  let longest = 0;
  const walk = (collections) => {
    for (const collection of collections || []) {
      for (const report of collection.featureReports || []) {
        let bits = 0;
        for (const item of report.items || []) bits += item.reportSize * item.reportCount;
        longest = Math.max(longest, (report.reportId ? 1 : 0) + Math.ceil(bits / 8));
      }
      walk(collection.children);
    }
  };
  walk(Module["webHid"].opened[handle - 1].collections);
  return longest;
});

// WebHID takes the report id apart from the data.
EM_ASYNC_JS(int, JsSendReport, (int handle, int feature, const uint8_t* report, int length), {
  const device = Module["webHid"].opened[handle - 1];
  const data = HEAPU8.slice(report + 1, report + length);
  try {
    if (feature)
      await device.sendFeatureReport(HEAPU8[report], data);
    else
      await device.sendReport(HEAPU8[report], data);
    return 1;
  } catch (error) {
    return 0;
  }
});
// clang-format on

namespace hex_upload {
namespace {

constexpr char kPathPrefix[] = "webhid:";

int AsJs(HidHandle handle) { return static_cast<int>(reinterpret_cast<uintptr_t>(handle)); }

int ToInt(size_t size) { return static_cast<int>(size); }

}  // namespace

bool WebHid::BeginDeviceList() {
  listed_count_ = static_cast<unsigned>(JsListDevices());
  return true;
}

bool WebHid::ListDevice(unsigned index, HidListedDevice& device) {
  if (index >= listed_count_) return false;
  std::snprintf(path_.data(), path_.size(), "%s%u", kPathPrefix, index);
  auto ids = static_cast<uint32_t>(JsDeviceIds(0, static_cast<int>(index)));
  JsUtf8ToUtf16(manufacturer_, listed_manufacturer_.data(), ToInt(listed_manufacturer_.size()));
  JsDeviceProduct(0, static_cast<int>(index), listed_product_.data(),
                  ToInt(listed_product_.size()));
  device = HidListedDevice{};
  device.path = path_.data();
  device.identity_known = true;
  device.vendor_id = static_cast<uint16_t>(ids >> 16);
  device.product_id = static_cast<uint16_t>(ids);
  device.manufacturer = listed_manufacturer_.data();
  device.product = listed_product_.data();
  return true;
}

void WebHid::EndDeviceList() {}

HidOpenResult WebHid::Open(const char* path, HidHandle& handle) {
  std::string_view text(path);
  if (!text.starts_with(kPathPrefix)) return HidOpenResult::kFailed;
  unsigned long index = std::strtoul(path + sizeof kPathPrefix - 1, nullptr, 10);
  if (index >= listed_count_) return HidOpenResult::kFailed;
  int opened = JsOpen(static_cast<int>(index));
  if (opened <= 0) return opened < 0 ? HidOpenResult::kAccessDenied : HidOpenResult::kFailed;
  handle = reinterpret_cast<HidHandle>(static_cast<uintptr_t>(opened));
  return HidOpenResult::kOpened;
}

void WebHid::Close(HidHandle handle) { JsClose(AsJs(handle)); }

bool WebHid::GetAttributes(HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) {
  auto ids = static_cast<uint32_t>(JsDeviceIds(1, AsJs(handle) - 1));
  vendor_id = static_cast<uint16_t>(ids >> 16);
  product_id = static_cast<uint16_t>(ids);
  return true;
}

bool WebHid::GetManufacturerString(HidHandle, std::span<char16_t> text) {
  JsUtf8ToUtf16(manufacturer_, text.data(), ToInt(text.size()));
  return true;
}

bool WebHid::GetProductString(HidHandle handle, std::span<char16_t> text) {
  JsDeviceProduct(1, AsJs(handle) - 1, text.data(), ToInt(text.size()));
  return true;
}

// The browser's answer holds the report id and what the device sent.
bool WebHid::GetFeature(HidHandle handle, std::span<uint8_t> report, size_t& received) {
  int count = JsGetFeature(AsJs(handle), report.data(), ToInt(report.size()));
  if (count < 0) return false;
  received = static_cast<size_t>(count);
  return true;
}

bool WebHid::SetFeature(HidHandle handle, std::span<const uint8_t> report) {
  return !report.empty() && JsSendReport(AsJs(handle), 1, report.data(), ToInt(report.size())) != 0;
}

size_t WebHid::LongestFeatureReport(HidHandle handle) {
  return static_cast<size_t>(JsLongestFeatureReport(AsJs(handle)));
}

// WebHID hands input reports to an event listener instead of a blocking read;
// the bootloader has none, and nothing here waits for them.
bool WebHid::Read(HidHandle, std::span<uint8_t>, size_t&) { return false; }

bool WebHid::Write(HidHandle handle, std::span<const uint8_t> report) {
  return !report.empty() && JsSendReport(AsJs(handle), 0, report.data(), ToInt(report.size())) != 0;
}

void WebHid::SleepMs(unsigned milliseconds) { emscripten_sleep(milliseconds); }

}  // namespace hex_upload
