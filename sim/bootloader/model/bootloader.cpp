#include "sim/bootloader/model/bootloader.h"

namespace sorbel_sim {
namespace {

void LogReport(Bootloader& device, std::string_view direction, std::span<const uint8_t> bytes) {
  if (device.log == nullptr) return;
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  auto& line = device.line;
  size_t n = 0;
  auto put = [&](char c) { line[n++] = c; };
  auto put_decimal = [&](size_t value) { n += WriteDecimal(value, line.data() + n); };
  for (char c : direction) put(c);
  put(' ');
  put_decimal(kFeatureReport);
  put(' ');
  put_decimal(bytes.size());
  size_t shown = bytes.size() < kMaxLoggedBytes ? bytes.size() : kMaxLoggedBytes;
  for (size_t i = 0; i < shown; ++i) {
    put(' ');
    put(kDigits[bytes[i] >> 4]);
    put(kDigits[bytes[i] & 15]);
  }
  device.log(device.log_context, std::string_view(line.data(), n));
}

// True when this data block report is the one chosen to fail.
bool InjectedFailure(Bootloader& device) {
  if (device.blocks_until_failure <= 0) return false;
  return --device.blocks_until_failure == 0;
}

bool StoreBlock(Bootloader& device, std::span<const uint8_t> report) {
  uint32_t address = report[1] | uint32_t{report[2]} << 8 | uint32_t{report[3]} << 16;
  if (address % kBlockSize != 0 || address > device.settings.flash_size ||
      device.settings.flash_size - address < kBlockSize)
    return false;
  for (size_t i = 0; i < kBlockSize; ++i) device.flash[address + i] = report[4 + i];
  return true;
}

}  // namespace

size_t WriteDecimal(size_t value, char* out) {
  char reversed[20];
  size_t count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t i = 0; i < count; ++i) out[i] = reversed[count - 1 - i];
  return count;
}

void Reset(Bootloader& device, const Settings& settings) {
  device.settings = settings;
  if (device.settings.flash_size > kMaxFlashSize) device.settings.flash_size = kMaxFlashSize;
  device.flash.fill(0xFF);
  device.blocks_until_failure = 0;
  device.closed = false;
  device.blocks_until_unplug = 0;
  device.unplugged = false;
  device.info_length = kInfoReportSize;
  device.looks_until_plugged = 0;
  device.leaves_when_written = false;
}

void ShortInfoReport(Bootloader& device, size_t n) {
  device.info_length = n < 1 ? 1 : n > kInfoReportSize ? kInfoReportSize : n;
}

size_t InfoReportLength(const Bootloader& device) { return device.info_length; }

void PlugInAnother(Bootloader& device) {
  device.flash.fill(0xFF);
  device.blocks_until_failure = 0;
  device.closed = false;
  device.blocks_until_unplug = 0;
  device.unplugged = false;
}

void FailBlock(Bootloader& device, int n) { device.blocks_until_failure = n > 0 ? n : 0; }

void UnplugAfter(Bootloader& device, int n) { device.blocks_until_unplug = n > 0 ? n : 0; }

bool GetFeature(Bootloader& device, std::span<uint8_t> buffer) {
  if (device.closed || device.unplugged || buffer.size() < kInfoReportSize ||
      buffer[0] != kInfoReportId)
    return false;
  uint32_t page = device.settings.page_size;
  uint32_t size = device.settings.flash_size;
  uint8_t info[kInfoReportSize] = {kInfoReportId, static_cast<uint8_t>(page),
                                   static_cast<uint8_t>(page >> 8)};
  for (int i = 0; i < 4; ++i) info[3 + i] = static_cast<uint8_t>(size >> (8 * i));
  for (size_t i = 1; i < device.info_length; ++i) buffer[i] = info[i];
  LogReport(device, "get", buffer.first(device.info_length));
  return true;
}

bool SetFeature(Bootloader& device, std::span<const uint8_t> report) {
  if (report.empty() || device.unplugged) return false;
  LogReport(device, "set", report);
  if (device.closed || report.size() > kMaxLoggedBytes) return false;
  if (report[0] == kDataReportId && report.size() == kDataReportSize) {
    if (InjectedFailure(device) || !StoreBlock(device, report)) return false;
    if (device.blocks_until_unplug > 0 && --device.blocks_until_unplug == 0)
      device.unplugged = true;
    return true;
  }
  if (report[0] == kInfoReportId && report.size() == kClosingReportSize) {
    device.closed = true;
    return true;
  }
  return false;
}

void AppearAfter(Bootloader& device, int n) {
  device.looks_until_plugged = n > 0 ? n : 1;
  device.unplugged = true;
}

void LeaveWhenWritten(Bootloader& device, bool leaves) { device.leaves_when_written = leaves; }

bool Look(Bootloader& device) {
  if (device.looks_until_plugged > 0) {
    if (--device.looks_until_plugged > 0) return false;
    device.unplugged = false;
    return true;
  }
  if (device.leaves_when_written && device.closed) device.unplugged = true;
  return true;
}

std::span<const uint8_t> Flash(const Bootloader& device) {
  return std::span<const uint8_t>(device.flash).first(device.settings.flash_size);
}

bool LeftBootloader(const Bootloader& device) { return device.closed; }

bool Unplugged(const Bootloader& device) { return device.unplugged; }

}  // namespace sorbel_sim
