#include "sim/bootloader/hex-upload-sim/sim_environment.h"

#include <cstdlib>
#include <cstring>

namespace sorbel_sim {
namespace {

void WriteLogLine(void* context, std::string_view line) {
  auto* file = static_cast<std::FILE*>(context);
  std::fwrite(line.data(), 1, line.size(), file);
  std::fputc('\n', file);
  std::fflush(file);  // whole lines, even when the program ends with _exit
}

}  // namespace

unsigned long NumberSetting(const char* program, const char* name, unsigned long fallback) {
  const char* text = TextSetting(name);
  if (text == nullptr) return fallback;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 0);
  if (*end != 0 || text[0] == '-') {
    std::fprintf(stderr, "%s: ignoring %s=%s\n", program, name, text);
    return fallback;
  }
  return value;
}

const char* TextSetting(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != 0 ? text : nullptr;
}

bool FlagSetting(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr && std::strcmp(text, "1") == 0;
}

SimEnvironment ReadSimEnvironment(const char* program) {
  SimEnvironment environment;
  Settings& settings = environment.settings;
  settings.page_size =
      static_cast<uint32_t>(NumberSetting(program, "SORBEL_SIM_PAGE_SIZE", settings.page_size));
  settings.flash_size =
      static_cast<uint32_t>(NumberSetting(program, "SORBEL_SIM_FLASH_SIZE", settings.flash_size));
  environment.fail_block = static_cast<int>(NumberSetting(program, "SORBEL_SIM_FAIL_BLOCK", 0));
  environment.present = !FlagSetting("SORBEL_SIM_ABSENT");
  environment.appear_after =
      static_cast<unsigned>(NumberSetting(program, "SORBEL_SIM_APPEAR_AFTER", 0));
  environment.log_path = TextSetting("SORBEL_SIM_LOG");
  environment.flash_out = TextSetting("SORBEL_SIM_FLASH_OUT");
  unsigned long bootloaders = NumberSetting(program, "SORBEL_SIM_DEVICES", 1);
  if (bootloaders < 1 || bootloaders > kMaxSimBootloaders) {
    std::fprintf(stderr, "%s: ignoring SORBEL_SIM_DEVICES (1 to %d)\n", program,
                 kMaxSimBootloaders);
    bootloaders = 1;
  }
  environment.bootloaders = static_cast<int>(bootloaders);
  environment.report_delay_ms =
      static_cast<unsigned>(NumberSetting(program, "SORBEL_SIM_REPORT_DELAY", 0));
  environment.locked = FlagSetting("SORBEL_SIM_LOCKED");
  return environment;
}

SimBootloader ReadSimBootloader(const char* program, const SimEnvironment& environment, int k) {
  auto own = [&](const char* name, unsigned long fallback) {
    char numbered[64];
    std::snprintf(numbered, sizeof numbered, "%s_%d", name, k);
    return NumberSetting(program, numbered, fallback);
  };
  // Formatted, not appended: GCC 12 warns of overlaps in string appends.
  auto file = [&](const char* path) {
    char name[4096];
    if (environment.bootloaders > 1)
      std::snprintf(name, sizeof name, "%s.%d", path, k);
    else
      std::snprintf(name, sizeof name, "%s", path);
    return std::string(name);
  };
  SimBootloader setup;
  setup.settings.page_size =
      static_cast<uint32_t>(own("SORBEL_SIM_PAGE_SIZE", environment.settings.page_size));
  setup.settings.flash_size =
      static_cast<uint32_t>(own("SORBEL_SIM_FLASH_SIZE", environment.settings.flash_size));
  setup.fail_block = static_cast<int>(
      own("SORBEL_SIM_FAIL_BLOCK", static_cast<unsigned long>(environment.fail_block)));
  setup.unplug_after = static_cast<int>(
      own("SORBEL_SIM_UNPLUG_AFTER", NumberSetting(program, "SORBEL_SIM_UNPLUG_AFTER", 0)));
  setup.replug_after = static_cast<int>(
      own("SORBEL_SIM_REPLUG_AFTER", NumberSetting(program, "SORBEL_SIM_REPLUG_AFTER", 0)));
  setup.info_length = static_cast<size_t>(
      own("SORBEL_SIM_INFO_LENGTH", NumberSetting(program, "SORBEL_SIM_INFO_LENGTH", 0)));
  if (environment.log_path != nullptr) setup.log_path = file(environment.log_path);
  if (environment.flash_out != nullptr) setup.flash_out = file(environment.flash_out);
  return setup;
}

void ApplySimBootloader(Bootloader& device, const SimBootloader& setup) {
  Reset(device, setup.settings);
  FailBlock(device, setup.fail_block);
  UnplugAfter(device, setup.unplug_after);
  if (setup.info_length > 0) ShortInfoReport(device, setup.info_length);
}

std::FILE* StartReportLog(Bootloader& device, const char* path) {
  std::FILE* file = std::fopen(path, "wb");
  if (file != nullptr) {
    device.log = WriteLogLine;
    device.log_context = file;
  }
  return file;
}

bool WriteFlash(const Bootloader& device, const char* path) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  auto bytes = Flash(device);
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace sorbel_sim
