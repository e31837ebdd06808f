// What --watch needs of the system beyond HID: clocks, Ctrl+C, threads that
// outlive a call, and a log file that survives a power cut. Shells only
// translate; the watch loop in the core decides.
#pragma once

#include <cstdint>
#include <string_view>

#include "upload/hid_platform.h"

namespace hex_upload {

struct TimeOfDay {
  int year, month, day, hour, minute, second;
  int utc_offset_minutes;  // local time minus UTC
};

// Local time minus UTC in minutes, from the local and the UTC reading of one
// moment (where the system gives the two clocks, not the offset). They are
// less than a day apart, so a later or earlier date is one day either way.
int UtcOffsetMinutes(const TimeOfDay& local, const TimeOfDay& utc);

class WatchSystem {
 public:
  virtual uint64_t NowMs() = 0;  // a steady clock
  virtual TimeOfDay Now() = 0;   // the local wall clock
  // Ctrl+C presses so far; the shell's handler only counts them.
  virtual int Interrupts() = 0;
  // Opens the log for appending (created when missing); is_new: it was
  // missing or empty. False when it cannot be opened.
  virtual bool OpenLog(const char* path, bool& is_new) = 0;
  // Appends the text and puts it on the disk before returning.
  virtual bool AppendLog(std::string_view text) = 0;
  // Runs work(context, index) on a thread of its own and returns at once.
  virtual void Start(HidPlatform::Work work, void* context, unsigned index) = 0;
  // Ends the process at once with the exit code, while threads still write:
  // the log closed (its lines are on the disk already), nothing waited for.
  // Returns only where no process can be ended (a test's stand-in), which
  // then runs none of the started work again.
  virtual void EndNow(int exit_code) = 0;

 protected:
  ~WatchSystem() = default;
};

}  // namespace hex_upload
