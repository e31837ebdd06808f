#include "upload/output.h"

#include <cstdio>
#include <cstring>

namespace hex_upload {
namespace {

size_t FormatList(char* buffer, size_t size, const char* format, va_list args) {
  if (size == 0) return 0;
  buffer[0] = 0;
#ifdef _WIN32
  // msvcrt's own formatter: MinGW's C99 vsnprintf would bring its whole
  // printf implementation into the program. It leaves out the terminator
  // when the text does not fit.
  int length = _vsnprintf(buffer, size - 1, format, args);
#else
  int length = std::vsnprintf(buffer, size, format, args);
#endif
  buffer[size - 1] = 0;
  if (length < 0) return std::strlen(buffer);
  return static_cast<size_t>(length) < size ? static_cast<size_t>(length) : size - 1;
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
  size_t length = FormatList(text, sizeof text, format, args);
  va_end(args);
  out.Write(std::string_view(text, length));
}

size_t FormatText(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t length = FormatList(buffer, size, format, args);
  va_end(args);
  return length;
}

}  // namespace hex_upload
