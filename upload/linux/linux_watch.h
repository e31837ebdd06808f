// What --watch needs of Linux: clocks, SIGINT counted, detached threads, a
// log file synced to the disk after each line.
#pragma once

#include "upload/watch_system.h"

namespace hex_upload {

class LinuxWatch final : public WatchSystem {
 public:
  LinuxWatch();
  ~LinuxWatch();
  LinuxWatch(const LinuxWatch&) = delete;
  LinuxWatch& operator=(const LinuxWatch&) = delete;

  uint64_t NowMs() override;
  TimeOfDay Now() override;
  // The first call installs the SIGINT handler, which only counts presses.
  int Interrupts() override;
  bool OpenLog(const char* path, bool& is_new) override;
  bool AppendLog(std::string_view text) override;
  void Start(HidPlatform::Work work, void* context, unsigned index) override;
  void EndNow(int exit_code) override;

 private:
  int log_ = -1;
  bool handler_installed_ = false;
};

}  // namespace hex_upload
