// The simulated bootloader's SORBEL_SIM_* settings and the files it writes
// (report log, flash at exit), shared by everything that puts the model in
// place of a device.
#pragma once

#include <cstdio>

#include "sim/bootloader/model/bootloader.h"

namespace sorbel_sim {

struct SimEnvironment {
  Settings settings;                // SORBEL_SIM_PAGE_SIZE, SORBEL_SIM_FLASH_SIZE
  int fail_block = 0;               // SORBEL_SIM_FAIL_BLOCK
  bool present = true;              // false with SORBEL_SIM_ABSENT=1
  unsigned appear_after = 0;        // SORBEL_SIM_APPEAR_AFTER: searches that find no device
  const char* log_path = nullptr;   // SORBEL_SIM_LOG
  const char* flash_out = nullptr;  // SORBEL_SIM_FLASH_OUT
};

// An unusable number is reported on stderr after `program` and ignored.
unsigned long NumberSetting(const char* program, const char* name, unsigned long fallback);
// The variable's text, or null when it is unset or empty.
const char* TextSetting(const char* name);
// True when the variable is "1".
bool FlagSetting(const char* name);

SimEnvironment ReadSimEnvironment(const char* program);

// Resets the device to the settings and arms the failing block.
void ApplySimEnvironment(Bootloader& device, const SimEnvironment& environment);

// Opens the report log and makes the device write one line per report to it;
// null when the file cannot be written.
std::FILE* StartReportLog(Bootloader& device, const char* path);

bool WriteFlash(const Bootloader& device, const char* path);

}  // namespace sorbel_sim
