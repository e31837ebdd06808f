// hex-upload for Windows: the uploader over SetupAPI and hid.dll. Arguments,
// file names and messages go through UTF-16, so that any name Windows can
// give a file reaches the core (as UTF-8) and is shown as it was typed.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "upload/upload.h"
#include "upload/wide_text.h"
#include "upload/win32/win32_hid.h"
#include "upload/win32/win32_watch.h"

namespace {

using hex_upload::LoneSurrogate;

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// The text in UTF-8 in a buffer of its own (to be freed), or null without memory.
char* ToUtf8(std::span<const char16_t> wide, LoneSurrogate lone, size_t& length) {
  size_t capacity = hex_upload::Utf8Capacity(wide.size());
  auto* utf8 = static_cast<char*>(std::malloc(capacity));
  if (utf8 != nullptr) length = hex_upload::WideToUtf8(wide, std::span(utf8, capacity), lone);
  return utf8;
}

// A console gets UTF-16 through WriteConsoleW, which shows every character
// whatever the console's code page; a file or pipe gets UTF-8.
class Win32Output final : public hex_upload::Output {
 public:
  Win32Output() {
    DWORD mode = 0;
    console_ = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!GetConsoleMode(console_, &mode)) console_ = nullptr;
  }

  void Write(std::string_view text) override {
    size_t length = 0;
    char16_t* wide = hex_upload::NewWide(text, length);
    if (wide == nullptr) return WriteBytes(text);
    if (console_ != nullptr) {
      WriteToConsole(wide, length);
    } else {
      // Strict UTF-8: a lone surrogate of a file name is no character.
      size_t bytes = 0;
      char* utf8 = ToUtf8(std::span(wide, length), LoneSurrogate::kReplace, bytes);
      WriteBytes(utf8 != nullptr ? std::string_view(utf8, bytes) : text);
      std::free(utf8);
    }
    std::free(wide);
  }

 private:
  static void WriteBytes(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  // In pieces: older consoles refuse a single write of more than some 64 KiB.
  void WriteToConsole(const char16_t* text, size_t length) {
    constexpr size_t kPiece = 8192;
    while (length > 0) {
      size_t piece = length < kPiece ? length : kPiece;
      // A surrogate pair stays in one piece.
      if (piece < length && text[piece - 1] >= 0xD800 && text[piece - 1] <= 0xDBFF) --piece;
      DWORD written = 0;
      if (!WriteConsoleW(console_, text, static_cast<DWORD>(piece), &written, nullptr)) return;
      text += piece;
      length -= piece;
    }
  }

  HANDLE console_;
};

std::FILE* OpenWide(const char* path) {
  size_t length = 0;
  char16_t* wide = hex_upload::NewWide(path, length);
  if (wide == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  std::FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(wide), L"r");
  int error = errno;
  std::free(wide);
  errno = error;
  return file;
}

}  // namespace

// In place of the runtime's own report of a maths error, which nothing here
// can raise (the program does no floating point): its texts would take room
// in a program that counts every byte.
extern "C" int _matherr(struct _exception*) { return 0; }

// The runtime splits the wide command line by the same rules as the narrow
// one, so every argument that worked before arrives unchanged.
int wmain(int argc, wchar_t** wargv) {
  auto** argv = static_cast<char**>(std::calloc(static_cast<size_t>(argc) + 1, sizeof(char*)));
  if (argv == nullptr) return 1;
  for (int i = 0; i < argc; ++i) {
    auto* arg = reinterpret_cast<const char16_t*>(wargv[i]);
    size_t length = 0;
    argv[i] = ToUtf8(std::span(arg, std::wcslen(wargv[i])), LoneSurrogate::kKeep, length);
    if (argv[i] == nullptr) return 1;
  }
  hex_upload::Win32Hid hid;
  Win32Output out;
  hex_upload::Win32Watch watch;
  return hex_upload::RunHexUpload(argc, argv, hid, out, OpenWide, hex_upload::kProduct, &watch);
}
