#include "upload/output.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace hex_upload {
namespace {

// No message is longer: a path names at most 32767 UTF-16 units.
constexpr size_t kLongestText = 256 * 1024;

// Formats into buffer as far as it fits (terminator not guaranteed) and
// returns the whole text's length; -1 for a text that does not fit where the
// system cannot count it (Windows), or for a bad format.
int FormatWhole(char* buffer, size_t size, const char* format, va_list args) {
#ifdef _WIN32
  // msvcrt's own formatter: MinGW's C99 vsnprintf would bring its whole
  // printf implementation into the program, and its count of a text that
  // does not fit (_vscprintf) an emulation of its own.
  return _vsnprintf(buffer, size, format, args);
#else
  return std::vsnprintf(buffer, size, format, args);
#endif
}

}  // namespace

void StdoutOutput::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void Print(Output& out, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = FormatWhole(text, sizeof text, format, args);
  if (length >= 0 && static_cast<size_t>(length) < sizeof text) {
    out.Write(std::string_view(text, static_cast<size_t>(length)));
  } else {
    // A long text (a long path, say) gets a buffer of its own, so that no
    // message loses its reason or its line end; where the system does not
    // count it, buffers twice as long until it fits.
    size_t size = length > 0 ? static_cast<size_t>(length) + 1 : 2 * sizeof text;
    char* longer = nullptr;
    int whole = -1;
    while (whole < 0 && size <= kLongestText) {
      std::free(longer);
      longer = static_cast<char*>(std::malloc(size));
      if (longer == nullptr) break;
      va_list each;
      va_copy(each, again);
      whole = FormatWhole(longer, size, format, each);
      va_end(each);
      if (whole < 0 || static_cast<size_t>(whole) >= size) {
        whole = -1;
        size *= 2;
      }
    }
    if (whole >= 0)
      out.Write(std::string_view(longer, static_cast<size_t>(whole)));
    else
      out.Write(std::string_view(text, sizeof text - 1));  // no memory: as much as fits
    std::free(longer);
  }
  va_end(again);
  va_end(args);
}

size_t FormatText(char* buffer, size_t size, const char* format, ...) {
  if (size == 0) return 0;
  va_list args;
  va_start(args, format);
  int length = FormatWhole(buffer, size, format, args);
  va_end(args);
  // -1: cut to fit (msvcrt counts no text that does not fit).
  size_t written = length < 0 ? size - 1 : std::min(static_cast<size_t>(length), size - 1);
  buffer[written] = 0;
  return written;
}

}  // namespace hex_upload
