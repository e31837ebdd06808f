// A scripted HID platform for the uploader's tests: a list of devices with
// their ids, strings and faults; a Sorbel bootloader model answers the
// feature reports of the device that has one.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/bootloader/model/bootloader.h"
#include "upload/hid_device.h"
#include "upload/hid_platform.h"
#include "sim/bootloader/hex-upload-sim/sim_hid.h"
#include "upload/output.h"
#include "upload/watch_system.h"

namespace fake {

// A file of the given text in /tmp, removed again at the end of the test.
struct TempFile {
  std::string path;
  explicit TempFile(const std::string& text) {
    char name[] = "/tmp/hex-upload-testXXXXXX";
    int fd = mkstemp(name);
    path = name;
    std::FILE* file = fdopen(fd, "w");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  ~TempFile() { std::remove(path.c_str()); }
};

struct Device {
  std::string path;
  std::string place;  // empty: the list does not tell
  uint16_t vendor_id = 0x16C0;
  uint16_t product_id = 0x05DF;
  std::u16string manufacturer;
  std::u16string product = u"Sorbel";
  hex_upload::HidOpenResult open_result = hex_upload::HidOpenResult::kOpened;
  hex_upload::HidClaimResult claim_result = hex_upload::HidClaimResult::kClaimed;
  bool tells_count = true;       // a feature read tells the bytes received (as on Linux)
  bool listed_identity = false;  // the list tells ids and strings (as on Linux)
  bool attributes_fail = false;
  bool manufacturer_fails = false;
  bool product_fails = false;
  bool closing_report_fails = false;
  // Set, feature reports of another length are refused, as Windows' HID class
  // does, and the device gets each cut to its id's size, as the class does.
  size_t strict_length = 0;
  size_t longest_feature_report = 0;  // as the system tells it
  std::vector<uint8_t> input_report;  // what a read gives
  bool leaves_when_written = false;   // the written board starts its program: no longer listed
  sorbel_sim::Bootloader* bootloader = nullptr;
};

class Hid final : public hex_upload::HidPlatform {
 public:
  std::vector<Device> devices;
  int hidden_searches = 0;          // the next searches list no device at all
  std::vector<std::string> events;  // "list", "open <path>", "close <path>", "sleep <ms>"
  int list_count = 0;
  std::vector<std::string> written;     // output reports, as hex
  std::vector<size_t> feature_lengths;  // of the feature reports sent
  std::function<void()> on_search;      // called as each search begins

  bool BeginDeviceList() override {
    ++list_count;
    if (on_search) on_search();
    events.push_back("list");
    hidden_ = hidden_searches > 0;
    if (hidden_) --hidden_searches;
    return true;
  }
  bool ListDevice(unsigned index, hex_upload::HidListedDevice& listed) override {
    if (hidden_) return false;
    // A board pulled out is no longer listed.
    const Device* found = nullptr;
    for (const Device& device : devices) {
      if (device.bootloader != nullptr && sorbel_sim::Unplugged(*device.bootloader)) continue;
      if (device.leaves_when_written && device.bootloader != nullptr &&
          sorbel_sim::LeftBootloader(*device.bootloader))
        continue;
      if (index-- == 0) {
        found = &device;
        break;
      }
    }
    if (found == nullptr) return false;
    const Device& device = *found;
    listed.path = device.path.c_str();
    listed.place = device.place.empty() ? nullptr : device.place.c_str();
    listed.identity_known = device.listed_identity;
    listed.vendor_id = device.vendor_id;
    listed.product_id = device.product_id;
    listed.manufacturer = device.manufacturer.c_str();
    listed.product = device.product.c_str();
    return true;
  }
  void EndDeviceList() override {}

  hex_upload::HidOpenResult Open(const char* path, hex_upload::HidHandle& handle) override {
    for (Device& device : devices) {
      if (device.path != path) continue;
      if (device.open_result != hex_upload::HidOpenResult::kOpened) return device.open_result;
      // Pulled out: gone as soon as the system notices.
      if (device.bootloader != nullptr && sorbel_sim::Unplugged(*device.bootloader))
        return hex_upload::HidOpenResult::kFailed;
      events.push_back("open " + device.path);
      handle = &device;
      return hex_upload::HidOpenResult::kOpened;
    }
    return hex_upload::HidOpenResult::kFailed;
  }
  void Close(hex_upload::HidHandle handle) override {
    events.push_back("close " + Of(handle).path);
  }

  bool GetAttributes(hex_upload::HidHandle handle, uint16_t& vendor_id,
                     uint16_t& product_id) override {
    const Device& device = Of(handle);
    vendor_id = device.vendor_id;
    product_id = device.product_id;
    return !device.attributes_fail;
  }
  bool GetManufacturerString(hex_upload::HidHandle handle, std::span<char16_t> text) override {
    return Copy(Of(handle).manufacturer, Of(handle).manufacturer_fails, text);
  }
  bool GetProductString(hex_upload::HidHandle handle, std::span<char16_t> text) override {
    return Copy(Of(handle).product, Of(handle).product_fails, text);
  }
  hex_upload::HidClaimResult Claim(hex_upload::HidHandle handle, const char* key) override {
    Device& device = Of(handle);
    events.push_back("claim " + device.path + (key != nullptr ? " " + std::string(key) : ""));
    return device.claim_result;
  }
  bool GetFeature(hex_upload::HidHandle handle, std::span<uint8_t> report,
                  size_t& received) override {
    auto* model = Of(handle).bootloader;
    if (model == nullptr || !sorbel_sim::GetFeature(*model, report)) return false;
    if (Of(handle).tells_count) received = sorbel_sim::InfoReportLength(*model);
    return true;
  }
  bool SetFeature(hex_upload::HidHandle handle, std::span<const uint8_t> report) override {
    Device& device = Of(handle);
    if (device.bootloader == nullptr) return false;
    feature_lengths.push_back(report.size());
    if (device.strict_length != 0) {
      if (report.size() != device.strict_length) return false;
      report = report.first(report[0] == 1 ? 7 : report.size());
    }
    bool sent = sorbel_sim::SetFeature(*device.bootloader, report);
    return sent && !(report.size() == 7 && device.closing_report_fails);
  }
  size_t LongestFeatureReport(hex_upload::HidHandle handle) override {
    return Of(handle).longest_feature_report;
  }
  bool Read(hex_upload::HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) override {
    const auto& input = Of(handle).input_report;
    bytes_read = std::min(input.size(), report.size());
    std::copy_n(input.begin(), bytes_read, report.begin());
    return true;
  }
  bool Write(hex_upload::HidHandle, std::span<const uint8_t> report) override {
    written.emplace_back(report.begin(), report.end());
    return true;
  }
  void SleepMs(unsigned milliseconds) override {
    events.push_back("sleep " + std::to_string(milliseconds));
  }
  int held[kGuardedCount] = {};  // how often each lock is held now
  void Lock(Guarded what) override { ++held[what]; }
  void Unlock(Guarded what) override { --held[what]; }

  // Events that begin with the prefix ("open ", "close ", "sleep 250").
  int Count(std::string_view prefix) const {
    int n = 0;
    for (const auto& event : events) n += event.starts_with(prefix);
    return n;
  }

 private:
  static Device& Of(hex_upload::HidHandle handle) { return *static_cast<Device*>(handle); }
  static bool Copy(const std::u16string& from, bool fails, std::span<char16_t> text) {
    if (fails) return false;
    size_t n = std::min(from.size(), text.size() - 1);
    std::copy_n(from.begin(), n, text.begin());
    text[n] = 0;
    return true;
  }
  bool hidden_ = false;
};

struct CapturedOutput final : hex_upload::Output {
  std::string text;
  void Write(std::string_view part) override { text += part; }
};

// Clocks, Ctrl+C presses, threads and the log of a watch, all scripted.
struct WatchSystem final : hex_upload::WatchSystem {
  uint64_t now = 0;  // each reading moves it on by step
  uint64_t step = 100;
  std::function<int(int call)> interrupts;  // presses at the call-th look; null: none
  int looks = 0;
  bool defer = false;  // started work waits for RunQueued
  std::vector<std::function<void()>> queued;
  bool log_opens = true;
  std::string opened_log;
  std::string log;  // what the log file holds
  int appends = 0;
  int ended_with = -1;  // EndNow's exit code; -1: not called

  uint64_t NowMs() override { return now += step; }
  hex_upload::TimeOfDay Now() override { return {2026, 12, 9, 14, 5, 7, 60}; }
  int Interrupts() override {
    ++looks;
    if (looks > 10000) return 2;  // a test that never ends fails instead of hanging
    return interrupts ? interrupts(looks) : 0;
  }
  bool OpenLog(const char* path, bool& is_new) override {
    opened_log = path;
    is_new = log.empty();
    return log_opens;
  }
  bool AppendLog(std::string_view text) override {
    log += text;
    ++appends;
    return true;
  }
  void Start(hex_upload::HidPlatform::Work work, void* context, unsigned index) override {
    if (defer)
      queued.push_back([=] { work(context, index); });
    else
      work(context, index);
  }
  void EndNow(int exit_code) override { ended_with = exit_code; }
  void RunQueued() {
    auto work = std::move(queued);
    queued.clear();
    for (auto& each : work) each();
  }
};

// A bootloader model with a log of the reports it received and sent.
struct LoggedBootloader {
  std::unique_ptr<sorbel_sim::Bootloader> model = std::make_unique<sorbel_sim::Bootloader>();
  std::vector<std::string> log;

  explicit LoggedBootloader(sorbel_sim::Settings settings = {}) {
    model->log = [](void* context, std::string_view line) {
      static_cast<std::vector<std::string>*>(context)->emplace_back(line);
    };
    model->log_context = &log;
    sorbel_sim::Reset(*model, settings);
  }
  // Addresses of the data block reports received, in order.
  std::vector<unsigned> BlockAddresses() const {
    std::vector<unsigned> addresses;
    for (const auto& line : log) {
      if (line.rfind("set 3 132 02 ", 0) != 0) continue;
      unsigned low = std::stoul(line.substr(13, 2), nullptr, 16);
      unsigned middle = std::stoul(line.substr(16, 2), nullptr, 16);
      unsigned high = std::stoul(line.substr(19, 2), nullptr, 16);
      addresses.push_back(low | middle << 8 | high << 16);
    }
    return addresses;
  }
};

// The device hex-upload looks for, as the build names its manufacturer.
inline Device SorbelDevice(sorbel_sim::Bootloader* model, std::string path = "sorbel") {
  Device device;
  device.path = std::move(path);
  device.manufacturer = hex_upload::Utf8ToUtf16(HEX_UPLOAD_MANUFACTURER);
  device.bootloader = model;
  return device;
}

}  // namespace fake
