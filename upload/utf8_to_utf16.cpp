// A file of its own: the Windows program never calls it, and the static
// library then leaves it, and the std::u16string code it needs, out.
#include "upload/hid_device.h"
#include "upload/wide_text.h"

namespace hex_upload {

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string utf16(text.size() + 1, u'\0');
  utf16.resize(Utf8ToWide(text, utf16, LoneSurrogate::kReplace));
  return utf16;
}

}  // namespace hex_upload
