// hex-upload in the browser: the page puts the chosen HEX file into the
// working directory of the in-memory file system and calls RunWebUpload with
// its name, as a console user would type it.
#include <emscripten/emscripten.h>

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

}  // namespace

// Returns the program's exit code. product: the product string the device
// must report (a maker's manifest may name its own).
extern "C" EMSCRIPTEN_KEEPALIVE int RunWebUpload(const char* file_name, const char* product) {
  // The program without its options: the page has no use for them, and a
  // file named like one ("-h") stays a file name.
  hex_upload::WebHid hid(hex_upload::kManufacturer);
  PageOutput out;
  return hex_upload::UploadFile(hid, out, file_name, hex_upload::OpenTextFile, product);
}

// The reader's verdict on a file before any device is asked for: 0 data to
// write, 1 refused (the reader's message went to the page), 2 no data.
extern "C" EMSCRIPTEN_KEEPALIVE int CheckWebHex(const char* file_name) {
  static hex_upload::Upload upload;  // its 64 KiB stay off the stack
  hex_upload::Reset(upload);
  PageOutput out;
  if (hex_upload::LoadHexImage(file_name, upload.image, upload.start_address, upload.end_address,
                               out) != hex_upload::kHexRead)
    return 1;
  return upload.start_address < upload.end_address ? 0 : 2;
}

// The manufacturer string that the console program checks, for the page's note.
extern "C" EMSCRIPTEN_KEEPALIVE const char* WebManufacturer() { return hex_upload::kManufacturer; }
