// Where hex-upload's messages go. Every message, errors included, is printed
// on standard output; tests put a capturing output in its place.
#pragma once

#include <string_view>

namespace hex_upload {

class Output {
public:
    virtual void write(std::string_view text) = 0;

protected:
    ~Output() = default;
};

// Standard output, flushed after every write so that the progress line shows.
class StdoutOutput final : public Output {
public:
    void write(std::string_view text) override;
};

// printf-style formatting into an Output (at most 511 characters per call).
void print(Output& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace hex_upload
