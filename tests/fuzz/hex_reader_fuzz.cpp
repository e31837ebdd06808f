// libFuzzer target: no input makes the HEX reader write outside the image,
// every byte it stores lies inside the address range it reports, and reading
// in pieces changes nothing.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "upload/hex_reader.h"

namespace {

// Kept in a plain array: the memory sanitizer does not see into an
// uninstrumented std::string.
struct CapturedOutput final : hex_upload::Output {
  std::array<char, 4096> text{};
  size_t length = 0;
  void Write(std::string_view part) override {
    for (char c : part)
      if (length < text.size()) text[length++] = c;
  }
  bool operator==(const CapturedOutput& other) const {
    return length == other.length && text == other.text;
  }
};

// The same text in pieces of varying length, so that fields cross pieces.
struct PieceSource final : hex_upload::HexSource {
  std::span<const uint8_t> text;
  size_t piece = 0;
  std::span<const uint8_t> Next() override {
    size_t length = std::min(text.size(), piece++ % 7 + 1);
    auto next = text.first(length);
    text = text.subspan(length);
    return next;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hex_upload;
  // On the heap and exactly image-sized, so AddressSanitizer sees any write past it.
  auto image = std::make_unique<FirmwareImage>();
  image->fill(0xFF);
  int32_t start = kImageSize;
  int32_t end = 0;
  CapturedOutput out;
  MemorySource source({data, size});
  int result = ReadHexRecords(source, *image, start, end, out);
  if (result != kHexRead && result != kHexOutsideImage) std::abort();
  if (start < end && (start < 0 || end > kImageSize)) std::abort();
  for (int32_t address = 0; address < kImageSize; ++address) {
    if ((*image)[static_cast<size_t>(address)] != 0xFF && (address < start || address >= end))
      std::abort();
  }
  // Read in small pieces, the text gives the same image, range and messages.
  auto image_again = std::make_unique<FirmwareImage>();
  image_again->fill(0xFF);
  int32_t start_again = kImageSize;
  int32_t end_again = 0;
  CapturedOutput out_again;
  PieceSource pieces;
  pieces.text = {data, size};
  if (ReadHexRecords(pieces, *image_again, start_again, end_again, out_again) != result ||
      start_again != start || end_again != end || !(out_again == out) || *image_again != *image)
    std::abort();
  return 0;
}
