#include "upload/linux/linux_watch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <thread>

namespace hex_upload {
namespace {

std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free count");

void CountInterrupt(int) { interrupts.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

LinuxWatch::LinuxWatch() = default;

LinuxWatch::~LinuxWatch() {
  if (log_ >= 0) ::close(log_);
}

uint64_t LinuxWatch::NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

TimeOfDay LinuxWatch::Now() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900,
          local.tm_mon + 1,
          local.tm_mday,
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<int>(local.tm_gmtoff / 60)};
}

int LinuxWatch::Interrupts() {
  // Only a watch counts Ctrl+C; any other run ends on it as usual.
  if (!handler_installed_) {
    struct sigaction action = {};
    action.sa_handler = CountInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    handler_installed_ = true;
  }
  return interrupts.load(std::memory_order_relaxed);
}

bool LinuxWatch::OpenLog(const char* path, bool& is_new) {
  log_ = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log_ < 0) return false;
  struct stat status {};
  is_new = ::fstat(log_, &status) == 0 && status.st_size == 0;
  return true;
}

bool LinuxWatch::AppendLog(std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(log_, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<size_t>(written));
  }
  return ::fdatasync(log_) == 0;
}

void LinuxWatch::Start(HidPlatform::Work work, void* context, unsigned index) {
  std::thread(work, context, index).detach();
}

void LinuxWatch::EndNow(int exit_code) {
  // _exit, not exit: the writers still use what exit would destroy.
  std::fflush(stdout);
  if (log_ >= 0) ::close(log_);
  ::_exit(exit_code);
}

}  // namespace hex_upload
