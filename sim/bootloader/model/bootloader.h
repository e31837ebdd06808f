// Model of a device running the Sorbel HID bootloader, as seen through its
// feature reports. Plain C++ without platform calls, exceptions or heap use,
// so the same code serves the -sim programs and a kernel-mode HID minidriver.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace sorbel_sim {

inline constexpr uint32_t kMaxFlashSize = 128 * 1024;
inline constexpr uint8_t kFeatureReport = 3;  // report type in the log
inline constexpr uint8_t kInfoReportId = 1;   // get: device info; set: closing report
inline constexpr uint8_t kDataReportId = 2;
inline constexpr size_t kInfoReportSize = 7;  // id, page size LE16, flash size LE32
inline constexpr size_t kClosingReportSize = 7;
inline constexpr size_t kBlockSize = 128;
inline constexpr size_t kDataReportSize = 4 + kBlockSize;  // id, address LE24, data
// Reports longer than this are refused; the log shows at most this many bytes.
inline constexpr size_t kMaxLoggedBytes = 512;

// The HID report descriptor every simulated device presents (the Wine
// minidriver, the device on the USB wire): vendor-defined page, two feature
// reports, id 1 with 6 data bytes (device info read, closing report written)
// and id 2 with 131 (data block). Report 1 must stay short: the closing report
// is 7 bytes and lengths are checked against the declared size of each id.
inline constexpr std::array<uint8_t, 32> kReportDescriptor = {
    0x06, 0x00, 0xFF,  // usage page (vendor defined 0xFF00)
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8 bits
    0x85, 0x01,        //   report id 1
    0x95, 0x06,        //   report count 6
    0x09, 0x00,        //   usage 0
    0xB1, 0x02,        //   feature (data, variable, absolute)
    0x85, 0x02,        //   report id 2
    0x95, 0x83,        //   report count 131
    0x09, 0x00,        //   usage 0
    0xB1, 0x02,        //   feature (data, variable, absolute)
    0xC0,              // end collection
};

struct Settings {
  uint32_t page_size = 128;
  uint32_t flash_size = 32768;  // clamped to kMaxFlashSize
};

// Receives one log line (no line end) per report the device receives or sends:
// "set <report type> <length> <bytes>" or "get <report type> <length> <bytes>".
using LogSink = void (*)(void* context, std::string_view line);

struct Bootloader {
  Settings settings;
  std::array<uint8_t, kMaxFlashSize> flash;
  int blocks_until_failure = 0;          // counts data block reports down; 0 = no failure pending
  bool closed = false;                   // the closing report arrived: the bootloader is left
  int blocks_until_unplug = 0;           // counts accepted data blocks down; 0 = stays plugged in
  bool unplugged = false;                // gone: no transfer reaches it, hosts no longer list it
  size_t info_length = kInfoReportSize;  // bytes of the device info report it answers
  int looks_until_plugged = 0;           // the host's looks at the bus until it appears; 0: none
  bool leaves_when_written = false;      // once written it leaves the bus at the next look
  LogSink log = nullptr;                 // kept by Reset(); set it directly
  void* log_context = nullptr;
  std::array<char, 16 + kMaxLoggedBytes * 3> line;  // scratch for one log line
};

// Erased flash (0xFF), no pending failure, bootloader active. Keeps the log sink.
void Reset(Bootloader& device, const Settings& settings);

// The n-th data block report from now on (1 = the next one) fails once; 0 = none.
void FailBlock(Bootloader& device, int n);

// After the n-th accepted data block from now on the device is pulled out; 0 = never.
void UnplugAfter(Bootloader& device, int n);

// The device info report is cut to n bytes (1 to 7), report id included, as
// a faulty device answers it.
void ShortInfoReport(Bootloader& device, size_t n);
size_t InfoReportLength(const Bootloader& device);

// Another board of the same kind takes the pulled-out one's place: erased
// flash, the bootloader active, the same settings.
void PlugInAnother(Bootloader& device);

// buffer[0] is the report id on entry. Id 1 gives the device info report in
// the first 7 bytes, or as many as it is cut to (the rest of the buffer is
// left as it is). Returns false when the transfer fails: unknown id, buffer
// shorter than 7, bootloader left.
bool GetFeature(Bootloader& device, std::span<uint8_t> buffer);

// report[0] is the report id. Id 2 with 132 bytes stores a 128-byte block at
// its 24-bit little-endian address; id 1 with 7 bytes is the closing report.
// Refused (false): other ids or lengths, a block address not a multiple of 128
// or a block reaching past the flash, the injected failure, bootloader left.
bool SetFeature(Bootloader& device, std::span<const uint8_t> report);

// Pulled out now, plugged in at the host's n-th look at the bus from now
// (n >= 1), as a board an operator plugs in later.
void AppearAfter(Bootloader& device, int n);

// A written board leaves the bus (its bootloader starts the application), or stays.
void LeaveWhenWritten(Bootloader& device, bool leaves);

// One look of the host at the bus (a listing of the devices): a board whose
// time has come appears; a written board that leaves when written is gone.
// Returns false while the board is still to appear.
bool Look(Bootloader& device);

std::span<const uint8_t> Flash(const Bootloader& device);
// `value` in decimal at `out` (room for 20 characters); returns the count.
size_t WriteDecimal(size_t value, char* out);
bool LeftBootloader(const Bootloader& device);
bool Unplugged(const Bootloader& device);

}  // namespace sorbel_sim
