// The simulated bootloader's SORBEL_SIM_* settings and the files it writes
// (report log, flash at exit), shared by everything that puts the model in
// place of a device.
#pragma once

#include <cstdio>
#include <string>

#include "sim/bootloader/model/bootloader.h"

namespace sorbel_sim {

inline constexpr int kMaxSimBootloaders = 8;

struct SimEnvironment {
  Settings settings;                // SORBEL_SIM_PAGE_SIZE, SORBEL_SIM_FLASH_SIZE
  int fail_block = 0;               // SORBEL_SIM_FAIL_BLOCK
  bool present = true;              // false with SORBEL_SIM_ABSENT=1
  unsigned appear_after = 0;        // SORBEL_SIM_APPEAR_AFTER: searches that find no device
  const char* log_path = nullptr;   // SORBEL_SIM_LOG
  const char* flash_out = nullptr;  // SORBEL_SIM_FLASH_OUT
  int bootloaders = 1;              // SORBEL_SIM_DEVICES: bootloaders at once, 1 to 8
  unsigned report_delay_ms = 0;     // SORBEL_SIM_REPORT_DELAY: each feature report takes this long
  bool locked = false;  // SORBEL_SIM_LOCKED=1: one more bootloader, which refuses every open
};

// Bootloader k's (1 on) own settings: SORBEL_SIM_PAGE_SIZE_<k>,
// SORBEL_SIM_FLASH_SIZE_<k>, SORBEL_SIM_FAIL_BLOCK_<k>,
// SORBEL_SIM_UNPLUG_AFTER_<k> (pulled out after that many accepted blocks),
// SORBEL_SIM_REPLUG_AFTER_<k> (once pulled out, another board with erased
// flash is at its place from the n-th search on) and
// SORBEL_SIM_INFO_LENGTH_<k> (the device info report cut to that many bytes)
// before the same names without the number. With several bootloaders, each
// writes its log and flash to the named files with ".<k>" appended.
struct SimBootloader {
  Settings settings;
  int fail_block = 0;
  int unplug_after = 0;
  int replug_after = 0;    // searches after the unplugging; 0: never
  size_t info_length = 0;  // 0: the whole report
  std::string log_path;    // empty: no log
  std::string flash_out;   // empty: no flash file
};

// An unusable number is reported on stderr after `program` and ignored.
unsigned long NumberSetting(const char* program, const char* name, unsigned long fallback);
// The variable's text, or null when it is unset or empty.
const char* TextSetting(const char* name);
// True when the variable is "1".
bool FlagSetting(const char* name);

SimEnvironment ReadSimEnvironment(const char* program);

SimBootloader ReadSimBootloader(const char* program, const SimEnvironment& environment, int k);

// Resets the device to the settings and arms the failing block and the unplugging.
void ApplySimBootloader(Bootloader& device, const SimBootloader& setup);

// Opens the report log and makes the device write one line per report to it;
// null when the file cannot be written.
std::FILE* StartReportLog(Bootloader& device, const char* path);

bool WriteFlash(const Bootloader& device, const char* path);

}  // namespace sorbel_sim
