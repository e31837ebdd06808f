#include "output.h"

#include <cstdarg>
#include <cstdio>

namespace hex_upload {

void StdoutOutput::write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void print(Output& out, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0)
        return;
    if (static_cast<size_t>(length) >= sizeof text)
        length = sizeof text - 1;
    out.write(std::string_view(text, static_cast<size_t>(length)));
}

}  // namespace hex_upload
