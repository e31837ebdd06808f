// hex-upload-sim: hex-upload with the simulated Sorbel bootloader in place of
// the platform's HID. The device is set up from the environment:
//   SORBEL_SIM_PAGE_SIZE (128), SORBEL_SIM_FLASH_SIZE (32768),
//   SORBEL_SIM_ABSENT=1 (no device), SORBEL_SIM_APPEAR_AFTER=N (absent from
//   the first N searches), SORBEL_SIM_FAIL_BLOCK=N (the N-th data
//   block report fails once), SORBEL_SIM_FLASH_OUT=path (the flash at exit),
//   SORBEL_SIM_LOG=path (one line per report received or sent).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/bootloader/model/bootloader.h"
#include "sim/bootloader/hex-upload-sim/sim_hid.h"
#include "upload/upload.h"

namespace {

sorbel_sim::Bootloader device;

// The variable as a number, or fallback when unset; an unusable value is
// reported and ignored.
unsigned long NumberSetting(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == 0) return fallback;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 0);
  if (*end != 0 || text[0] == '-') {
    std::fprintf(stderr, "hex-upload-sim: ignoring %s=%s\n", name, text);
    return fallback;
  }
  return value;
}

void WriteLogLine(void* context, std::string_view line) {
  auto* file = static_cast<std::FILE*>(context);
  std::fwrite(line.data(), 1, line.size(), file);
  std::fputc('\n', file);
}

bool WriteFlash(const char* path) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  auto flash = sorbel_sim::Flash(device);
  bool written = std::fwrite(flash.data(), 1, flash.size(), file) == flash.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  sorbel_sim::Settings settings;
  settings.page_size =
      static_cast<uint32_t>(NumberSetting("SORBEL_SIM_PAGE_SIZE", settings.page_size));
  settings.flash_size =
      static_cast<uint32_t>(NumberSetting("SORBEL_SIM_FLASH_SIZE", settings.flash_size));
  sorbel_sim::Reset(device, settings);
  sorbel_sim::FailBlock(device, static_cast<int>(NumberSetting("SORBEL_SIM_FAIL_BLOCK", 0)));
  const char* absent = std::getenv("SORBEL_SIM_ABSENT");
  bool present = absent == nullptr || std::strcmp(absent, "1") != 0;

  std::FILE* log = nullptr;
  if (const char* path = std::getenv("SORBEL_SIM_LOG"); path != nullptr && *path != 0) {
    log = std::fopen(path, "wb");
    if (log == nullptr) {
      std::fprintf(stderr, "hex-upload-sim: cannot write %s\n", path);
      return 1;
    }
    device.log = WriteLogLine;
    device.log_context = log;
  }

  sorbel_sim::SimHid hid(device, present, sorbel_sim::Utf16FromUtf8(hex_upload::kManufacturer));
  hid.SetAbsentSearches(static_cast<unsigned>(NumberSetting("SORBEL_SIM_APPEAR_AFTER", 0)));
  hex_upload::StdoutOutput out;
  int exit_code = hex_upload::RunHexUpload(argc, argv, hid, out);

  if (log != nullptr) std::fclose(log);
  if (const char* path = std::getenv("SORBEL_SIM_FLASH_OUT"); path != nullptr && *path != 0) {
    if (!WriteFlash(path)) {
      std::fprintf(stderr, "hex-upload-sim: cannot write %s\n", path);
      return exit_code == 0 ? 1 : exit_code;
    }
  }
  return exit_code;
}
