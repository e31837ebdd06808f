// hex-upload for Windows: the uploader over SetupAPI and hid.dll.
#include "upload/upload.h"
#include "upload/win32/win32_hid.h"

int main(int argc, char** argv) {
  hex_upload::Win32Hid hid;
  hex_upload::StdoutOutput out;
  return hex_upload::RunHexUpload(argc, argv, hid, out);
}
