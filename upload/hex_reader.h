// Intel HEX reader: data records into the firmware image, widening the range
// of addresses that hold data.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

#include "upload/output.h"

namespace hex_upload {

// The device's address space from 0 up to 64 KiB plus 256 bytes: a record
// address (at most 0xFFFF) plus its count (at most 255) always fits.
inline constexpr int32_t kImageSize = 0x10100;
using FirmwareImage = std::array<uint8_t, kImageSize>;

// LoadHexImage results.
inline constexpr int kHexRead = 0;
inline constexpr int kHexCannotOpen = 1;
inline constexpr int kHexOutsideImage = 2;  // data placed outside the image; reading stopped
inline constexpr int kHexCannotRead = 3;    // reading failed before the end of the text

// A stream of characters; Get() gives the next one, or -1 at (and past) the end.
class HexSource {
 public:
  virtual int Get() = 0;
  // The system error (an errno value) that ended the stream early; 0 when the
  // stream simply ended.
  virtual int Error() const { return 0; }

 protected:
  ~HexSource() = default;
};

// Characters from memory (tests, fuzzing).
class MemorySource final : public HexSource {
 public:
  explicit MemorySource(std::span<const uint8_t> text) : text_(text) {}
  int Get() override { return position_ < text_.size() ? text_[position_++] : -1; }

 private:
  std::span<const uint8_t> text_;
  size_t position_ = 0;
};

// Characters from an open file, read in large pieces. A failed read ends the
// stream and keeps its error.
class FileSource final : public HexSource {
 public:
  explicit FileSource(std::FILE* file) : file_(file) {}
  int Get() override {
    if (position_ == length_) {
      if (error_ != 0) return -1;
      length_ = Read();
      position_ = 0;
      if (length_ == 0) return -1;
    }
    return buffer_[position_++];
  }
  int Error() const override { return error_; }

 private:
  size_t Read();

  std::FILE* file_;
  int error_ = 0;
  std::array<uint8_t, 16384> buffer_;
  size_t position_ = 0;
  size_t length_ = 0;
};

// Takes exactly width characters (2 or 4) and converts them as a base-16
// number the way strtol does: leading white space, optional sign, optional
// "0x", digits of either case, stopping at the first non-digit; no digits
// give 0. Characters past the end of the source end the number.
int ReadHexField(HexSource& source, int width);

// Reads records until the end of the source. Data records are stored at
// base + address, where the base comes from the latest extended segment (02)
// or extended linear (04) address record and starts at 0. start_address is
// lowered to the smallest and end_address raised to the largest data address
// (exclusive end). Prints checksum warnings and the error for data outside
// the image, and returns kHexRead, kHexOutsideImage or (printing nothing for
// it) kHexCannotRead.
int ReadHexRecords(HexSource& source, FirmwareImage& image, int32_t& start_address,
                   int32_t& end_address, Output& out);

// Opens the file and reads it with ReadHexRecords; kHexCannotOpen or
// kHexCannotRead, each with its message, when the file cannot be opened or
// read to its end.
int LoadHexImage(const char* path, FirmwareImage& image, int32_t& start_address,
                 int32_t& end_address, Output& out);

}  // namespace hex_upload
