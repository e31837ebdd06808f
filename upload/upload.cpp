#include "upload/upload.h"

#include <array>
#include <cstring>

#include "upload/hid_device.h"

namespace hex_upload {
namespace {

constexpr uint8_t kInfoReportId = 1;
constexpr uint8_t kDataReportId = 2;
constexpr uint8_t kClosingReportId = 1;

int OpenDevice(Upload& upload, HidPlatform& hid, Output& out, HidHandle& device) {
  for (int opens = 1;; ++opens) {
    int result = OpenBootDevice(hid, device, kVendorId, kManufacturer, kProductId, upload.product);
    if (result == kUsbSuccess) return result;
    Print(out, "Error opening Sorbel device: %s\n", UsbErrorText(result));
    // Without a device seen yet the attempts follow each other at once;
    // once seen, it gets one more chance, as it may be re-enumerating.
    if (!upload.device_seen || opens == 2) return result;
    hid.SleepMs(kReopenPauseMs);
  }
}

// Bytes of the image from address on; past the image's end blocks carry 0xFF.
void FillBlock(const FirmwareImage& image, int32_t address, std::span<uint8_t> block) {
  for (size_t i = 0; i < block.size(); ++i) {
    int64_t at = int64_t{address} + static_cast<int64_t>(i);
    block[i] = at >= 0 && at < kImageSize ? image[static_cast<size_t>(at)] : 0xFF;
  }
}

int SendBlocks(Upload& upload, int32_t end, HidPlatform& hid, Output& out, HidHandle device,
               std::array<uint8_t, kDataReportSize>& buffer) {
  while (upload.start_address < end) {
    auto address = static_cast<uint32_t>(upload.start_address);
    buffer[0] = kDataReportId;
    buffer[1] = static_cast<uint8_t>(address);
    buffer[2] = static_cast<uint8_t>(address >> 8);
    buffer[3] = static_cast<uint8_t>(address >> 16);
    FillBlock(upload.image, upload.start_address, std::span(buffer).subspan(4));
    Print(out, "\r0x%05x ... 0x%05x", static_cast<unsigned>(address),
          static_cast<unsigned>(address + kBlockSize));
    int result = SendReport(hid, device, kFeatureReport, buffer);
    if (result != kUsbSuccess) {
      Print(out, " Error uploading data block: %s\n", UsbErrorText(result));
      return result;
    }
    upload.start_address += kBlockSize;
  }
  return kUsbSuccess;
}

// Everything after the open; the caller closes the device.
int UploadTo(Upload& upload, HidPlatform& hid, Output& out, HidHandle device) {
  std::array<uint8_t, kDataReportSize> buffer{};
  size_t length = buffer.size();
  int result = ReceiveReport(hid, device, kFeatureReport, kInfoReportId, buffer, length);
  if (result != kUsbSuccess) {
    Print(out, "Error reading page size: %s\n", UsbErrorText(result));
    return result;
  }
  if (length < kMinInfoReportSize) {
    Print(out, "Not enough bytes in device info report (%d instead of %d)\n",
          static_cast<int>(length), static_cast<int>(kMinInfoReportSize));
    return kUploadRuledOut;
  }
  int32_t page_size = buffer[1] | buffer[2] << 8;
  auto flash_size = static_cast<int32_t>(buffer[3] | buffer[4] << 8 | buffer[5] << 16 |
                                         static_cast<uint32_t>(buffer[6]) << 24);
  // Compared in 64 bits: a flash size near the bottom of the int range must
  // not wrap round to a large remainder.
  int64_t remaining = int64_t{flash_size} - kBootloaderReserve;
  if (!upload.info_shown) {
    Print(out, "Page size   = %d (0x%x)\n", page_size, static_cast<unsigned>(page_size));
    Print(out, "Device size = %d (0x%x); %d bytes remaining\n", flash_size,
          static_cast<unsigned>(flash_size),
          static_cast<int32_t>(static_cast<uint32_t>(flash_size) - kBootloaderReserve));
  }
  // The file's own end, not one an earlier attempt rounded: a device that
  // answers another page size now must not be held to the old pages.
  if (upload.end_address > remaining) {
    Print(out, "Data (%d bytes) exceeds remaining flash size!\n", upload.end_address);
    return kUploadRuledOut;
  }
  if (page_size >= kBlockSize && (page_size & (page_size - 1)) != 0) {
    // Its mask would not be a page: blocks would go off every page boundary.
    Print(out, "Page size (%d bytes) is not a power of two!\n", page_size);
    return kUploadRuledOut;
  }
  int32_t mask = page_size >= kBlockSize ? page_size - 1 : kBlockSize - 1;
  int32_t end = (upload.end_address + mask) & ~mask;
  // Rounded up to a page, the data may reach into the bootloader's own area.
  if (end > remaining) {
    Print(out, "Data (%d bytes) exceeds remaining flash size!\n", end);
    return kUploadRuledOut;
  }
  upload.start_address &= ~mask;
  if (!upload.info_shown) {
    int32_t size = end - upload.start_address;
    Print(out, "Uploading %d (0x%x) bytes starting at %d (0x%x)\n", size,
          static_cast<unsigned>(size), upload.start_address,
          static_cast<unsigned>(upload.start_address));
    upload.info_shown = true;
  }
  result = SendBlocks(upload, end, hid, out, device, buffer);
  if (result != kUsbSuccess) return result;
  out.Write("\n");
  // The closing report's bytes 1..6 are what the last block left in the
  // buffer; the device only looks at the id. Its fate does not matter.
  buffer[0] = kClosingReportId;
  SendReport(hid, device, kFeatureReport, std::span(buffer).first(kClosingReportSize));
  return kUsbSuccess;
}

int SearchDevice(HidPlatform& hid, const char* product) {
  HidHandle device = nullptr;
  int result = OpenBootDevice(hid, device, kVendorId, kManufacturer, kProductId, product);
  if (result == kUsbSuccess) CloseBootDevice(hid, device);
  return result;
}

void PrintUsage(Output& out, int argc, const char* const* argv) {
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "hex-upload";
  Print(out, "usage: %s [-r] <intel-hexfile>\n", program);
}

constexpr char kHelp[] =
    "Options (before the file name, in any order):\n"
    "  -r          accepted for compatibility; it has no effect\n"
    "  -w          wait until the Sorbel device is present, then upload\n"
    "  -h, --help  print this help (first argument only)\n"
    "Exit codes:\n"
    "  0  the firmware was written, or the file held no data\n"
    "  1  usage, a file that cannot be read or has data outside the image,\n"
    "     or 10 failed attempts\n";

}  // namespace

void Reset(Upload& upload) {
  upload.image.fill(0xFF);
  upload.start_address = kImageSize;
  upload.end_address = 0;
  upload.device_seen = false;
  upload.info_shown = false;
}

int UploadAttempt(Upload& upload, HidPlatform& hid, Output& out) {
  HidHandle device = nullptr;
  int result = OpenDevice(upload, hid, out, device);
  if (result != kUsbSuccess) return result;
  upload.device_seen = true;
  result = UploadTo(upload, hid, out, device);
  CloseBootDevice(hid, device);
  return result;
}

int WaitForDevice(HidPlatform& hid, Output& out, const char* product) {
  int result = SearchDevice(hid, product);
  if (result != kUsbDeviceNotFound) return result;
  out.Write("Waiting for the Sorbel device (press Ctrl+C to stop) ...");
  // Any other answer than "not found" (access denied, say) ends the wait too,
  // so that the attempts report it instead of waiting in silence.
  while (result == kUsbDeviceNotFound) {
    hid.SleepMs(kWaitPollMs);
    result = SearchDevice(hid, product);
  }
  out.Write("\n");
  return result;
}

int RunHexUpload(int argc, const char* const* argv, HidPlatform& hid, Output& out,
                 OpenFileFn open_file, const char* product) {
  if (argc < 2) {
    PrintUsage(out, argc, argv);
    return 1;
  }
  if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
    PrintUsage(out, argc, argv);
    out.Write(kHelp);
    return 1;
  }
  // Options come before the file name, in any order.
  bool wait = false;
  int next = 1;
  for (; next < argc; ++next) {
    if (std::strcmp(argv[next], "-w") == 0)
      wait = true;
    else if (std::strcmp(argv[next], "-r") != 0)
      break;
  }
  if (next == argc) {
    PrintUsage(out, argc, argv);
    return 1;
  }
  const char* path = argv[next];

  Upload upload;  // 64 KiB on the stack: static storage would put its bytes in the .exe
  Reset(upload);
  upload.product = product;
  if (LoadHexImage(path, upload.image, upload.start_address, upload.end_address, out, open_file) !=
      kHexRead)
    return 1;
  if (upload.start_address >= upload.end_address) {
    out.Write("No data in input file, exiting.\n");
    return 0;
  }
  if (wait) WaitForDevice(hid, out, product);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    if (UploadAttempt(upload, hid, out) == kUsbSuccess) {
      Print(out, "The firmware is written successfully after %i retries.\n", attempt);
      return 0;
    }
  }
  return 1;
}

}  // namespace hex_upload
