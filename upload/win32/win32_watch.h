// What --watch needs of Windows: clocks, Ctrl+C counted by a console control
// handler, threads of their own, a log file flushed to the disk per line.
#pragma once

#include <windows.h>

#include "upload/watch_system.h"

namespace hex_upload {

class Win32Watch final : public WatchSystem {
 public:
  Win32Watch() = default;
  ~Win32Watch();
  Win32Watch(const Win32Watch&) = delete;
  Win32Watch& operator=(const Win32Watch&) = delete;

  uint64_t NowMs() override;
  TimeOfDay Now() override;
  // The first call installs the console control handler, which only counts.
  int Interrupts() override;
  bool OpenLog(const char* path, bool& is_new) override;
  bool AppendLog(std::string_view text) override;
  void Start(HidPlatform::Work work, void* context, unsigned index) override;
  void EndNow(int exit_code) override;

 private:
  HANDLE log_ = INVALID_HANDLE_VALUE;
  bool handler_installed_ = false;
};

}  // namespace hex_upload
