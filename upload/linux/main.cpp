// hex-upload for Linux: the uploader over the kernel's hidraw interface.
#include "upload/linux/linux_hid.h"
#include "upload/linux/linux_watch.h"
#include "upload/upload.h"

int main(int argc, char** argv) {
  hex_upload::LinuxHid hid;
  hex_upload::StdoutOutput out;
  hex_upload::LinuxWatch watch;
  return hex_upload::RunHexUpload(argc, argv, hid, out, hex_upload::OpenTextFile,
                                  hex_upload::kProduct, &watch);
}
