// hex-upload for Linux: the uploader over the kernel's hidraw interface.
#include "upload/linux/linux_hid.h"
#include "upload/upload.h"

int main(int argc, char** argv) {
  hex_upload::LinuxHid hid;
  hex_upload::StdoutOutput out;
  return hex_upload::RunHexUpload(argc, argv, hid, out);
}
