// hex-upload-sim: hex-upload with the simulated Sorbel bootloader in place of
// the platform's HID. The device is set up from the environment:
//   SORBEL_SIM_PAGE_SIZE (128), SORBEL_SIM_FLASH_SIZE (32768),
//   SORBEL_SIM_ABSENT=1 (no device), SORBEL_SIM_APPEAR_AFTER=N (absent from
//   the first N searches), SORBEL_SIM_FAIL_BLOCK=N (the N-th data
//   block report fails once), SORBEL_SIM_FLASH_OUT=path (the flash at exit),
//   SORBEL_SIM_LOG=path (one line per report received or sent);
//   several devices: SORBEL_SIM_DEVICES=N bootloaders at places 9-1.1 on,
//   each with its own settings (see sim_environment.h), SORBEL_SIM_EXTRA=
//   <product> (the same ids, another product string, at 9-3),
//   SORBEL_SIM_LOCKED=1 (a bootloader at 9-4 that refuses to be opened),
//   SORBEL_SIM_REPORT_DELAY=ms (the time each feature report takes).
// Several devices are written one after the other here: the program has no
// threads of its own.
#include <cstdio>
#include <memory>

#include "sim/bootloader/model/bootloader.h"
#include "sim/bootloader/hex-upload-sim/sim_environment.h"
#include "sim/bootloader/hex-upload-sim/sim_hid.h"
#include "upload/hid_device.h"
#include "upload/upload.h"

namespace {

constexpr char kProgram[] = "hex-upload-sim";

struct SimBoard {
  sorbel_sim::Bootloader device;
  sorbel_sim::SimBootloader setup;
  std::FILE* log = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  sorbel_sim::SimEnvironment environment = sorbel_sim::ReadSimEnvironment(kProgram);
  sorbel_sim::SimHid hid(hex_upload::Utf8ToUtf16(hex_upload::kManufacturer));
  auto boards = std::make_unique<SimBoard[]>(static_cast<size_t>(environment.bootloaders));
  for (int k = 1; k <= environment.bootloaders; ++k) {
    SimBoard& board = boards[static_cast<size_t>(k - 1)];
    board.setup = sorbel_sim::ReadSimBootloader(kProgram, environment, k);
    sorbel_sim::ApplySimBootloader(board.device, board.setup);
    if (!board.setup.log_path.empty()) {
      board.log = sorbel_sim::StartReportLog(board.device, board.setup.log_path.c_str());
      if (board.log == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s\n", kProgram, board.setup.log_path.c_str());
        return 1;
      }
    }
    if (environment.present) hid.AddBootloader(board.device, board.setup.replug_after);
  }
  if (const char* extra = sorbel_sim::TextSetting("SORBEL_SIM_EXTRA"))
    hid.AddExtra(hex_upload::Utf8ToUtf16(extra));
  if (environment.locked) hid.AddLocked();
  hid.SetAbsentSearches(environment.appear_after);
  hid.SetReportDelay(environment.report_delay_ms);

  hex_upload::StdoutOutput out;
  int exit_code = hex_upload::RunHexUpload(argc, argv, hid, out);

  for (int k = 0; k < environment.bootloaders; ++k) {
    SimBoard& board = boards[static_cast<size_t>(k)];
    if (board.log != nullptr) std::fclose(board.log);
    const std::string& flash_out = board.setup.flash_out;
    if (!flash_out.empty() && !sorbel_sim::WriteFlash(board.device, flash_out.c_str())) {
      std::fprintf(stderr, "%s: cannot write %s\n", kProgram, flash_out.c_str());
      if (exit_code == 0) exit_code = 1;
    }
  }
  return exit_code;
}
