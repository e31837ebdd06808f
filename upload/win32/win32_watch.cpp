#include "upload/win32/win32_watch.h"

#include <cstdlib>

#include "upload/wide_text.h"

namespace hex_upload {
namespace {

volatile LONG interrupts = 0;

BOOL WINAPI CountInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  InterlockedIncrement(&interrupts);
  return TRUE;
}

struct ThreadStart {
  HidPlatform::Work work;
  void* context;
  unsigned index;
};

DWORD WINAPI ThreadMain(void* parameter) {
  ThreadStart start = *static_cast<ThreadStart*>(parameter);
  std::free(parameter);
  start.work(start.context, start.index);
  return 0;
}

TimeOfDay Reading(const SYSTEMTIME& t) {
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, 0};
}

}  // namespace

Win32Watch::~Win32Watch() {
  if (log_ != INVALID_HANDLE_VALUE) CloseHandle(log_);
}

uint64_t Win32Watch::NowMs() { return GetTickCount64(); }

TimeOfDay Win32Watch::Now() {
  SYSTEMTIME utc{};
  GetSystemTime(&utc);
  SYSTEMTIME local{};
  SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  TimeOfDay now = Reading(local);
  now.utc_offset_minutes = UtcOffsetMinutes(now, Reading(utc));
  return now;
}

int Win32Watch::Interrupts() {
  if (!handler_installed_) handler_installed_ = SetConsoleCtrlHandler(CountInterrupt, TRUE);
  return static_cast<int>(interrupts);
}

bool Win32Watch::OpenLog(const char* path, bool& is_new) {
  size_t length = 0;
  char16_t* wide = NewWide(path, length);
  if (wide == nullptr) return false;
  log_ = CreateFileW(reinterpret_cast<const wchar_t*>(wide), FILE_APPEND_DATA,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  std::free(wide);
  if (log_ == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  is_new = GetFileSizeEx(log_, &size) && size.QuadPart == 0;
  return true;
}

bool Win32Watch::AppendLog(std::string_view text) {
  DWORD written = 0;
  return WriteFile(log_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size() && FlushFileBuffers(log_);
}

void Win32Watch::Start(HidPlatform::Work work, void* context, unsigned index) {
  auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
  HANDLE thread = nullptr;
  if (start != nullptr) {
    *start = ThreadStart{work, context, index};
    thread = CreateThread(nullptr, 0, ThreadMain, start, 0, nullptr);
  }
  if (thread != nullptr) {
    CloseHandle(thread);
    return;
  }
  std::free(start);
  work(context, index);  // no thread to be had: on this one
}

// TerminateProcess, not ExitProcess: the runtime's farewell to the process
// would wait for locks that a writer, stopped where it stood, may hold.
void Win32Watch::EndNow(int exit_code) {
  if (log_ != INVALID_HANDLE_VALUE) CloseHandle(log_);
  log_ = INVALID_HANDLE_VALUE;
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exit_code));
}

}  // namespace hex_upload
