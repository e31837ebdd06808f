// Where hex-upload's messages go. Every message, errors included, is printed
// on standard output; tests put a capturing output in its place.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string_view>

namespace hex_upload {

class Output {
 public:
  virtual void Write(std::string_view text) = 0;

 protected:
  ~Output() = default;
};

// Standard output, flushed after every write so that the progress line shows.
class StdoutOutput final : public Output {
 public:
  void Write(std::string_view text) override;
};

// printf-style formatting into an Output, whatever the length of the text.
void Print(Output& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// printf-style formatting into a buffer, cut to fit and always terminated;
// returns the length written.
size_t FormatText(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace hex_upload
