#include "sim/bootloader/hex-upload-sim/sim_environment.h"

#include <cstdlib>
#include <cstring>

namespace sorbel_sim {
namespace {

void WriteLogLine(void* context, std::string_view line) {
  auto* file = static_cast<std::FILE*>(context);
  std::fwrite(line.data(), 1, line.size(), file);
  std::fputc('\n', file);
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
  return environment;
}

void ApplySimEnvironment(Bootloader& device, const SimEnvironment& environment) {
  Reset(device, environment.settings);
  FailBlock(device, environment.fail_block);
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
