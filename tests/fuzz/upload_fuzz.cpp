// libFuzzer target over the whole hex-upload run: the HEX file and every
// answer of every device come from the input. After each run it checks what
// the program sent and what it said, and aborts on the first fault.
//
// Input: the HEX text up to the first NUL byte, then the device script. Each
// request to the HID platform takes the next script byte (a few take more
// bytes as payload); 0, and every byte past the script's end, is the answer
// of a healthy bootloader, so that short scripts reach the upload itself.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bootloader/model/bootloader.h"
#include "upload/hid_device.h"
#include "upload/upload.h"

namespace {

using namespace hex_upload;

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "upload_fuzz: %s\n", what);
  std::abort();
}

struct Script {
  std::span<const uint8_t> bytes;
  uint8_t Next() {
    if (bytes.empty()) return 0;
    uint8_t byte = bytes.front();
    bytes = bytes.subspan(1);
    return byte;
  }
};

// Answers that any request may give instead of its healthy one.
constexpr uint8_t kFails = 1;
constexpr uint8_t kGone = 2;  // the device disappears: this and every later request fail

struct Entry {
  char path[8];
  uint16_t vendor_id, product_id;
  HidOpenResult open_result;
  std::u16string manufacturer, product;  // as the list tells them
};

struct Handle {
  uint16_t vendor_id, product_id;
  bool open = true;
  bool gone = false;
  bool returned = false;  // the search handed it to the program
  bool have_info = false;
  int32_t page_size = 0, flash_size = 0;
  int64_t next_block = -1;  // -1: no block sent since the info report
  bool closed_bootloader = false;
};

class ScriptedHid final : public HidPlatform {
 public:
  ScriptedHid(Script& script, const FirmwareImage& image, sorbel_sim::Bootloader& memory)
      : script_(script), image_(image), memory_(memory) {}

  int attempts = 0;
  int searches = 0;
  int open_now = 0;
  bool seen = false;
  int closings = 0;  // closing reports sent, whatever their fate

  bool BeginDeviceList() override {
    Check(open_now == 0, "a search began with a device still open");
    ++searches;
    // The first search is the look for further boards before the attempts.
    if (!after_pause_ && searches > 1) {
      ++attempts;
      pauses_ = 0;
    }
    after_pause_ = false;
    entries_.clear();
    uint8_t kind = script_.Next();
    if (kind == 0xFF) return false;
    listed_ = kind == 0 ? 1 : kind % 4;
    healthy_list_ = kind == 0;
    entries_.reserve(listed_);
    return true;
  }

  bool ListDevice(unsigned index, HidListedDevice& listed) override {
    Check(index == entries_.size(), "devices listed out of order");
    if (index >= listed_) return false;
    uint8_t kind = healthy_list_ ? 0 : script_.Next();
    Entry& entry = entries_.emplace_back();
    std::snprintf(entry.path, sizeof entry.path, "dev%u", index);
    entry.vendor_id = kind & 1 ? kVendorId + 1 : kVendorId;
    entry.product_id = kind & 2 ? kProductId - 1 : kProductId;
    constexpr HidOpenResult kOpens[] = {HidOpenResult::kOpened, HidOpenResult::kFailed,
                                        HidOpenResult::kAccessDenied, HidOpenResult::kOpened};
    entry.open_result = kOpens[kind >> 3 & 3];
    listed.path = entry.path;
    listed.identity_known = (kind & 4) != 0;
    if (listed.identity_known) {
      listed.vendor_id = entry.vendor_id;
      listed.product_id = entry.product_id;
      // A string the list cannot tell is null.
      uint8_t manufacturer = script_.Next();
      entry.manufacturer = String(kManufacturer, manufacturer);
      uint8_t product = script_.Next();
      entry.product = String(kProduct, product);
      bool fails =
          manufacturer == kFails || manufacturer == kGone || product == kFails || product == kGone;
      listed.manufacturer = fails ? nullptr : entry.manufacturer.c_str();
      listed.product = fails ? nullptr : entry.product.c_str();
    }
    return true;
  }

  void EndDeviceList() override {
    Check(open_now <= 1, "a search left more than one device open");
    for (auto& handle : handles_)
      if (handle->open) {
        handle->returned = true;
        seen = true;
      }
  }

  HidOpenResult Open(const char* path, HidHandle& out) override {
    const Entry* entry = nullptr;
    for (const Entry& listed : entries_)
      if (std::strcmp(listed.path, path) == 0) entry = &listed;
    Check(entry != nullptr, "opened a path that the search did not list");
    if (entry->open_result != HidOpenResult::kOpened) return entry->open_result;
    auto& handle = handles_.emplace_back(std::make_unique<Handle>());
    handle->vendor_id = entry->vendor_id;
    handle->product_id = entry->product_id;
    ++open_now;
    out = handle.get();
    return HidOpenResult::kOpened;
  }

  void Close(HidHandle handle) override {
    Of(handle).open = false;
    --open_now;
  }

  bool GetAttributes(HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) override {
    Handle& device = Of(handle);
    Check(!device.returned, "ids asked outside the search");
    if (!Answers(device)) return false;
    vendor_id = device.vendor_id;
    product_id = device.product_id;
    return true;
  }
  bool GetManufacturerString(HidHandle handle, std::span<char16_t> text) override {
    return Strings(handle, kManufacturer, text);
  }
  bool GetProductString(HidHandle handle, std::span<char16_t> text) override {
    return Strings(handle, kProduct, text);
  }

  HidClaimResult Claim(HidHandle, const char*) override { return HidClaimResult::kClaimed; }

  bool GetFeature(HidHandle handle, std::span<uint8_t> report, size_t& received) override {
    Handle& device = Of(handle);
    Check(device.returned, "a report read during the search");
    Check(report.size() >= kMinInfoReportSize && report[0] == 1, "not an info report read");
    uint8_t kind = script_.Next();
    if (Fault(device, kind)) return false;
    uint32_t page = 128, flash = 32768;
    if (kind == 3) {
      // Any bytes, as many as the script says: the rest keeps what was there.
      size_t count = std::min<size_t>(script_.Next(), report.size() - 1);
      for (size_t i = 0; i < count; ++i) report[1 + i] = script_.Next();
      received = count + 1;  // as hidraw tells it, the report id included
    } else {
      if (kind == 4) {  // a plausible device: a power of two page, a whole flash
        page = 1u << (script_.Next() % 17);
        flash = (script_.Next() % 64 + 1) * 2048u;
      }
      report[1] = static_cast<uint8_t>(page);
      report[2] = static_cast<uint8_t>(page >> 8);
      for (int i = 0; i < 4; ++i) report[3 + i] = static_cast<uint8_t>(flash >> (8 * i));
    }
    device.page_size = report[1] | report[2] << 8;
    device.flash_size = static_cast<int32_t>(report[3] | report[4] << 8 | report[5] << 16 |
                                             static_cast<uint32_t>(report[6]) << 24);
    device.have_info = true;
    device.next_block = -1;
    return true;
  }

  bool SetFeature(HidHandle handle, std::span<const uint8_t> report) override {
    Handle& device = Of(handle);
    Check(device.returned && device.have_info, "a report sent before the info report");
    Check(!device.closed_bootloader, "a report sent after the closing report");
    if (report.size() == kClosingReportSize && report[0] == 1) {
      device.closed_bootloader = true;
      ++closings;
      if (!Answers(device)) return false;
      Check(sorbel_sim::SetFeature(memory_, report), "closing report refused by the model");
      return true;
    }
    Check(report.size() == kDataReportSize && report[0] == 2, "neither a block nor a closing");
    int64_t address = report[1] | report[2] << 8 | report[3] << 16;
    int64_t unit = device.page_size >= kBlockSize ? device.page_size : kBlockSize;
    if (device.next_block < 0) {
      Check((unit & (unit - 1)) == 0, "a block sent for a page size not a power of two");
      Check(address % unit == 0, "an attempt began off its rounding unit");
    } else {
      Check(address == device.next_block, "blocks not sent one after the other");
    }
    Check(address + kBlockSize <= int64_t{device.flash_size} - kBootloaderReserve,
          "a block reaches into the bootloader's area or past the flash");
    for (int64_t i = 0; i < kBlockSize && address + i < kImageSize; ++i)
      Check(report[static_cast<size_t>(4 + i)] == image_[static_cast<size_t>(address + i)],
            "a block carries other bytes than the image");
    device.next_block = address + kBlockSize;
    if (!Answers(device)) return false;
    Check(sorbel_sim::SetFeature(memory_, report), "block refused by the model");
    return true;
  }

  bool Read(HidHandle, std::span<uint8_t>, size_t&) override {
    Check(false, "an input report read");
    return false;
  }
  bool Write(HidHandle, std::span<const uint8_t>) override {
    Check(false, "an output report written");
    return false;
  }

  void SleepMs(unsigned milliseconds) override {
    Check(milliseconds == kReopenPauseMs, "a pause of another length");
    Check(seen, "a pause before the device was first opened");
    Check(++pauses_ <= 1, "two pauses in one attempt");
    after_pause_ = true;
  }

 private:
  Handle& Of(HidHandle handle) {
    for (auto& known : handles_)
      if (known.get() == handle) {
        Check(known->open, "a request on a closed device");
        return *known;
      }
    Check(false, "a request on a handle never opened");
    std::abort();
  }

  // A failure or a disappearance as the script says; false: the healthy answer.
  bool Fault(Handle& device, uint8_t kind) {
    if (kind == kGone) device.gone = true;
    return device.gone || kind == kFails;
  }
  bool Answers(Handle& device) { return !Fault(device, script_.Next()); }

  // A device string: the wanted one, one near it, any UTF-8 or UTF-16 from
  // the script, or one that fills the whole buffer.
  std::u16string String(const char* wanted, uint8_t kind) {
    std::u16string text;
    switch (kind) {
      case kFails:
      case kGone:
        break;
      case 3: {
        std::string utf8;
        for (int n = script_.Next(); n > 0; --n) utf8 += static_cast<char>(script_.Next());
        text = Utf8ToUtf16(utf8);
        break;
      }
      case 4:
        for (int n = script_.Next(); n > 0; --n)
          text += static_cast<char16_t>(script_.Next() | script_.Next() << 8);
        break;
      case 5:
        text = Utf8ToUtf16(wanted) + u'x';
        break;
      case 6:
        text.assign(kDeviceStringUnits + 8, u'A');
        break;
      default:
        text = Utf8ToUtf16(wanted);
    }
    text.erase(std::find(text.begin(), text.end(), u'\0'), text.end());
    return text;
  }

  bool Strings(HidHandle handle, const char* wanted, std::span<char16_t> text) {
    Handle& device = Of(handle);
    Check(!device.returned, "strings asked outside the search");
    uint8_t kind = script_.Next();
    if (Fault(device, kind)) return false;
    std::u16string answer = String(wanted, kind);
    if (answer.size() >= text.size()) {  // no room for a terminator: none given
      std::copy_n(answer.begin(), text.size(), text.begin());
    } else {
      std::copy(answer.begin(), answer.end(), text.begin());
      text[answer.size()] = 0;
    }
    return true;
  }

  Script& script_;
  const FirmwareImage& image_;
  sorbel_sim::Bootloader& memory_;
  std::vector<Entry> entries_;
  unsigned listed_ = 0;
  bool healthy_list_ = false;
  std::vector<std::unique_ptr<Handle>> handles_;
  int pauses_ = 0;
  bool after_pause_ = false;
};

struct CapturedOutput final : Output {
  std::string text;
  void Write(std::string_view part) override { text += part; }
};

int Count(const std::string& text, std::string_view needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// The HEX text goes into a file in memory that the program opens by name.
int HexFile() {
  static int fd = memfd_create("upload_fuzz.hex", 0);
  Check(fd >= 0, "no memory file");
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  auto hex = input.first(std::find(input.begin(), input.end(), 0) - input.begin());
  Script script{input.subspan(std::min(hex.size() + 1, input.size()))};

  int fd = HexFile();
  Check(ftruncate(fd, 0) == 0 &&
            pwrite(fd, hex.data(), hex.size(), 0) == static_cast<ssize_t>(hex.size()),
        "cannot write the memory file");
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

  // What the file holds, read the same way, as the measure of what was sent.
  auto image = std::make_unique<FirmwareImage>();
  image->fill(0xFF);
  int32_t start = kImageSize, end = 0;
  CapturedOutput ignored;
  MemorySource source(hex);
  int read = ReadHexRecords(source, *image, start, end, ignored);

  static sorbel_sim::Bootloader memory;  // keeps the accepted blocks
  sorbel_sim::Reset(memory, {128, sorbel_sim::kMaxFlashSize});
  ScriptedHid hid(script, *image, memory);
  CapturedOutput out;
  const char* argv[] = {"hex-upload", path, nullptr};
  int exit_code = RunHexUpload(2, argv, hid, out);
  // For a look at one input: UPLOAD_FUZZ_SHOW=1 upload_fuzz <file>.
  static const bool show = std::getenv("UPLOAD_FUZZ_SHOW") != nullptr;
  if (show)
    std::fprintf(stderr, "%s[exit code %d, %d attempts]\n", out.text.c_str(), exit_code,
                 hid.attempts);

  Check(hid.open_now == 0, "a device left open");
  Check(hid.attempts <= kMaxAttempts, "more than 10 attempts");
  int successes = Count(out.text, "The firmware is written successfully after ");
  if (read != kHexRead || start >= end) {
    Check(hid.searches == 0, "a device searched without data to write");
    Check(exit_code == (read == kHexRead ? 0 : 1), "wrong exit code for the file");
    Check(read != kHexRead || out.text.ends_with("No data in input file, exiting.\n"),
          "no data without its line");
    return 0;
  }
  if (exit_code == 0) {
    char line[80];
    std::snprintf(line, sizeof line, "The firmware is written successfully after %i retries.\n",
                  hid.attempts - 1);
    Check(successes == 1 && out.text.ends_with(line), "exit code 0 without its success line");
    Check(hid.closings == 1, "not one closing report for the one success");
    auto flash = sorbel_sim::Flash(memory);
    for (int32_t address = start; address < end; ++address)
      Check(flash[static_cast<size_t>(address)] == (*image)[static_cast<size_t>(address)],
            "exit code 0 but the device does not hold the image");
  } else {
    Check(exit_code == 1, "an exit code other than 0 and 1");
    Check(successes == 0 && hid.closings == 0, "a success line or closing report, exit code 1");
    Check(hid.attempts == kMaxAttempts, "gave up before 10 attempts");
  }
  return 0;
}
