// hex-upload in the browser: the page hands over the chosen HEX file's bytes
// and its name, as a console user would type it; the core reads the bytes as
// the console program reads the file. No file system comes into the build.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string_view>

#include "upload/upload.h"
#include "upload/web/web_hid.h"

// clang-format off
EM_JS(void, JsPageWrite, (const char* text, int length), {
  Module["pageWrite"](UTF8ToString(text, length));
});
// clang-format on

namespace {

// Every text goes to the page's log as it is, line ends and carriage returns
// included; the page gives them their console meaning.
class PageOutput final : public hex_upload::Output {
 public:
  void Write(std::string_view text) override {
    JsPageWrite(text.data(), static_cast<int>(text.size()));
  }
};

// The file of the running call, in the page's memory.
unsigned char* page_file = nullptr;
size_t page_file_size = 0;

// Opens the page's file as a stream of its bytes, whatever the name.
std::FILE* OpenPageFile(const char*) {
  if (page_file_size > 0) return fmemopen(page_file, page_file_size, "r");
  // A stream takes no empty buffer: one byte, and the stream at its end.
  static unsigned char nothing = 0;
  std::FILE* file = fmemopen(&nothing, 1, "r");
  if (file != nullptr) std::fseek(file, 1, SEEK_SET);
  return file;
}

void TakePageFile(unsigned char* bytes, int size) {
  page_file = bytes;
  page_file_size = size > 0 ? static_cast<size_t>(size) : 0;
}

}  // namespace

// Returns the program's exit code. bytes, size: the file named file_name;
// product: the product string the device must report (a maker's manifest
// may name its own).
extern "C" EMSCRIPTEN_KEEPALIVE int RunWebUpload(const char* file_name, const char* product,
                                                 unsigned char* bytes, int size) {
  // The program without its options: the page has no use for them, and a
  // file named like one ("-h") stays a file name.
  TakePageFile(bytes, size);
  hex_upload::WebHid hid(hex_upload::kManufacturer);
  PageOutput out;
  return hex_upload::UploadFile(hid, out, file_name, OpenPageFile, product);
}

// The reader's verdict on a file before any device is asked for: 0 data to
// write, 1 refused (the reader's message went to the page), 2 no data.
extern "C" EMSCRIPTEN_KEEPALIVE int CheckWebHex(const char* file_name, unsigned char* bytes,
                                                int size) {
  static hex_upload::Upload upload;  // its 64 KiB stay off the stack
  hex_upload::Reset(upload);
  TakePageFile(bytes, size);
  PageOutput out;
  if (hex_upload::LoadHexImage(file_name, upload.image, upload.start_address, upload.end_address,
                               out, OpenPageFile) != hex_upload::kHexRead)
    return 1;
  return upload.start_address < upload.end_address ? 0 : 2;
}

// The manufacturer string that the console program checks, for the page's note.
extern "C" EMSCRIPTEN_KEEPALIVE const char* WebManufacturer() { return hex_upload::kManufacturer; }
