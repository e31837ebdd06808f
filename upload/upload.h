// The hex-upload program: command line, loading the HEX file, and writing it
// into the bootloader in 128-byte blocks with up to 10 attempts.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "upload/hex_reader.h"
#include "upload/hid_platform.h"
#include "upload/output.h"
#include "upload/watch_system.h"

#ifndef HEX_UPLOAD_MANUFACTURER
#error "HEX_UPLOAD_MANUFACTURER must name the bootloader's USB manufacturer string"
#endif

namespace hex_upload {

inline constexpr uint16_t kVendorId = 0x16C0;
inline constexpr uint16_t kProductId = 0x05DF;
inline constexpr char kManufacturer[] = HEX_UPLOAD_MANUFACTURER;
inline constexpr char kProduct[] = "Sorbel";
static_assert(sizeof kManufacturer <= 64, "the manufacturer string is at most 63 bytes");

inline constexpr int kMaxAttempts = 10;
inline constexpr unsigned kWaitPollMs = 250;  // between searches while waiting for the device
inline constexpr unsigned kReopenPauseMs = 2000;
inline constexpr int32_t kBootloaderReserve = 2048;  // top of the flash that data must not reach
inline constexpr int32_t kBlockSize = 128;
inline constexpr size_t kDataReportSize = 132;
inline constexpr size_t kClosingReportSize = 7;
inline constexpr size_t kMinInfoReportSize = 7;
inline constexpr int kUploadRuledOut = -1;    // the device's answer rules the upload out
inline constexpr int kProgressSteps = 10;     // progress lines per device when writing several
inline constexpr size_t kMaxPlaceSize = 200;  // a place with its terminating zero

// The run-wide state shared by the attempts.
struct Upload {
  FirmwareImage image;
  int32_t start_address;  // moves on with every accepted block
  int32_t end_address;    // as the file gave it; each attempt rounds its own copy
  bool device_seen;
  bool info_shown;
  const char* product = kProduct;  // the product string the device must report
};

// The state before reading: image erased (0xFF), no data, no device seen.
void Reset(Upload& upload);

// The place a user typed, as the system names it: surrounding white space
// dropped (a list saved by a Windows editor ends its lines in CR), a sysfs
// path cut to its last part, an interface suffix (":1.0") cut off. False
// when nothing is left or it does not fit.
bool NormalizePlace(std::string_view text, std::span<char> place);

// One upload attempt: 0 when every block was accepted, a USB error code, or
// kUploadRuledOut.
int UploadAttempt(Upload& upload, HidPlatform& hid, Output& out);

// Searches for the device (only at the place, when one is given) every
// kWaitPollMs until the search gives anything but "not found", opening
// nothing for longer than the search itself takes. Returns the last search's
// result.
int WaitForDevice(HidPlatform& hid, Output& out, const char* product = kProduct,
                  const char* place = nullptr);

// One line per attached device with the bootloader's ids, columns separated
// by tabs: place, path, product, what the checks found. Returns the exit code:
// 0 when one of them is a Sorbel bootloader.
int ListDevices(HidPlatform& hid, Output& out, const char* product = kProduct);

// One file written into the first device found (only the one at the place,
// when given; after waiting for it, with wait): the program without its
// options. Returns the exit code.
int UploadFile(HidPlatform& hid, Output& out, const char* path, OpenFileFn open_file = OpenTextFile,
               const char* product = kProduct, const char* place = nullptr, bool wait = false);

// The program: takes its arguments (UTF-8 where the system's names are
// Unicode), opens the file they name with open_file, returns the exit code.
// product: the product string the device must report; a maker's bootloader
// may report its own. watch_system: what --watch needs; without it (the web
// build) --watch is not an option.
int RunHexUpload(int argc, const char* const* argv, HidPlatform& hid, Output& out,
                 OpenFileFn open_file = OpenTextFile, const char* product = kProduct,
                 WatchSystem* watch_system = nullptr);

}  // namespace hex_upload
