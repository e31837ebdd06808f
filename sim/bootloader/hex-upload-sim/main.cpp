// hex-upload-sim: hex-upload with the simulated Sorbel bootloader in place of
// the platform's HID. The device is set up from the environment:
//   SORBEL_SIM_PAGE_SIZE (128), SORBEL_SIM_FLASH_SIZE (32768),
//   SORBEL_SIM_ABSENT=1 (no device), SORBEL_SIM_APPEAR_AFTER=N (absent from
//   the first N searches), SORBEL_SIM_FAIL_BLOCK=N (the N-th data
//   block report fails once), SORBEL_SIM_FLASH_OUT=path (the flash at exit),
//   SORBEL_SIM_LOG=path (one line per report received or sent).
#include <cstdio>

#include "sim/bootloader/model/bootloader.h"
#include "sim/bootloader/hex-upload-sim/sim_environment.h"
#include "sim/bootloader/hex-upload-sim/sim_hid.h"
#include "upload/hid_device.h"
#include "upload/upload.h"

namespace {

sorbel_sim::Bootloader device;

}  // namespace

int main(int argc, char** argv) {
  sorbel_sim::SimEnvironment environment = sorbel_sim::ReadSimEnvironment("hex-upload-sim");
  sorbel_sim::ApplySimEnvironment(device, environment);

  std::FILE* log = nullptr;
  if (environment.log_path != nullptr) {
    log = sorbel_sim::StartReportLog(device, environment.log_path);
    if (log == nullptr) {
      std::fprintf(stderr, "hex-upload-sim: cannot write %s\n", environment.log_path);
      return 1;
    }
  }

  sorbel_sim::SimHid hid(device, environment.present,
                         hex_upload::Utf8ToUtf16(hex_upload::kManufacturer));
  hid.SetAbsentSearches(environment.appear_after);
  hex_upload::StdoutOutput out;
  int exit_code = hex_upload::RunHexUpload(argc, argv, hid, out);

  if (log != nullptr) std::fclose(log);
  if (environment.flash_out != nullptr && !sorbel_sim::WriteFlash(device, environment.flash_out)) {
    std::fprintf(stderr, "hex-upload-sim: cannot write %s\n", environment.flash_out);
    return exit_code == 0 ? 1 : exit_code;
  }
  return exit_code;
}
