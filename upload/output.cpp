#include "upload/output.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace hex_upload {
namespace {

// Formats into buffer as far as it fits (terminator not guaranteed) and
// returns the whole text's length, or a negative value for a bad format.
int FormatWhole(char* buffer, size_t size, const char* format, va_list args) {
#ifdef _WIN32
  // msvcrt's own formatter: MinGW's C99 vsnprintf would bring its whole
  // printf implementation into the program. It gives -1 for a text that does
  // not fit; _vscprintf counts that text.
  va_list again;
  va_copy(again, args);
  int length = _vsnprintf(buffer, size, format, args);
  if (length < 0) length = _vscprintf(format, again);
  va_end(again);
  return length;
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
  } else if (length > 0) {
    // A long text (a long path, say) gets a buffer of its own, so that no
    // message loses its reason or its line end.
    auto size = static_cast<size_t>(length) + 1;
    auto* longer = static_cast<char*>(std::malloc(size));
    if (longer != nullptr && FormatWhole(longer, size, format, again) == length)
      out.Write(std::string_view(longer, static_cast<size_t>(length)));
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
  size_t written = length < 0 ? 0 : std::min(static_cast<size_t>(length), size - 1);
  buffer[written] = 0;
  return written;
}

}  // namespace hex_upload
