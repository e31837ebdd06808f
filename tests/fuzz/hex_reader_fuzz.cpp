// libFuzzer target: no input makes the HEX reader write outside the image,
// and every byte it stores lies inside the address range it reports.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "upload/hex_reader.h"

namespace {

struct NullOutput final : hex_upload::Output {
  void Write(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hex_upload;
  // On the heap and exactly image-sized, so AddressSanitizer sees any write past it.
  auto image = std::make_unique<FirmwareImage>();
  image->fill(0xFF);
  int32_t start = kImageSize;
  int32_t end = 0;
  NullOutput out;
  MemorySource source({data, size});
  int result = ReadHexRecords(source, *image, start, end, out);
  if (result != kHexRead && result != kHexOutsideImage) std::abort();
  if (start < end && (start < 0 || end > kImageSize)) std::abort();
  for (int32_t address = 0; address < kImageSize; ++address) {
    if ((*image)[static_cast<size_t>(address)] != 0xFF && (address < start || address >= end))
      std::abort();
  }
  return 0;
}
