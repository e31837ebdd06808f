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

// A text in pieces: Next() gives the next piece, or an empty one at the end.
class HexSource {
 public:
  virtual std::span<const uint8_t> Next() = 0;
  // The system error (an errno value) that ended the text early; 0 when the
  // text simply ended.
  virtual int Error() const { return 0; }

 protected:
  ~HexSource() = default;
};

// Characters from memory (tests, fuzzing), all in one piece.
class MemorySource final : public HexSource {
 public:
  explicit MemorySource(std::span<const uint8_t> text) : text_(text) {}
  std::span<const uint8_t> Next() override {
    auto piece = text_;
    text_ = {};
    return piece;
  }

 private:
  std::span<const uint8_t> text_;
};

// Characters from an open file, read in large pieces. A failed read ends the
// text and keeps its error.
class FileSource final : public HexSource {
 public:
  explicit FileSource(std::FILE* file) : file_(file) {}
  std::span<const uint8_t> Next() override;
  int Error() const override { return error_; }

 private:
  std::FILE* file_;
  int error_ = 0;
  std::array<uint8_t, 65536> buffer_;
};

// A source read character by character or, where a piece allows, a field at
// a time.
class HexText {
 public:
  explicit HexText(HexSource& source) : source_(source) {}

  // The next character, or -1 at (and past) the end of the source.
  int Get() {
    if (at_ == end_ && !Refill()) return -1;
    return *at_++;
  }
  // The next count characters when the current piece holds them all (they
  // are then taken), else null (nothing taken).
  const uint8_t* Take(size_t count) {
    if (static_cast<size_t>(end_ - at_) < count) return nullptr;
    const uint8_t* taken = at_;
    at_ += count;
    return taken;
  }
  // Passes over characters up to and including the next ':'; false when the
  // source ends first.
  bool SkipPastColon();
  // The source ended with an error rather than at its end.
  bool Failed() const { return ended_ && source_.Error() != 0; }

 private:
  bool Refill();

  HexSource& source_;
  const uint8_t* at_ = nullptr;
  const uint8_t* end_ = nullptr;
  bool ended_ = false;
};

// Takes exactly width characters (2 or 4) and converts them as a base-16
// number the way strtol does: leading white space, optional sign, optional
// "0x", digits of either case, stopping at the first non-digit; no digits
// give 0. Characters past the end of the source end the number.
int ReadHexField(HexText& text, int width);

// Reads records until the end of the source. Data records are stored at
// base + address, where the base comes from the latest extended segment (02)
// or extended linear (04) address record with a count of 2, and starts at 0.
// start_address is lowered to the smallest and end_address raised to the
// largest data address (exclusive end). Prints checksum warnings and the error
// for data outside the image, and returns kHexRead, kHexOutsideImage or
// (printing nothing for it) kHexCannotRead.
int ReadHexRecords(HexSource& source, FirmwareImage& image, int32_t& start_address,
                   int32_t& end_address, Output& out);

// Opens the file that a path names for reading as text, as fopen(path, "r")
// does: null, with errno set, when it cannot. A shell whose system names
// files otherwise than in the core's UTF-8 (Windows) brings its own.
using OpenFileFn = std::FILE* (*)(const char* path);
std::FILE* OpenTextFile(const char* path);

// Opens the file and reads it with ReadHexRecords; kHexCannotOpen or
// kHexCannotRead, each with its message, when the file cannot be opened or
// read to its end.
int LoadHexImage(const char* path, FirmwareImage& image, int32_t& start_address,
                 int32_t& end_address, Output& out, OpenFileFn open_file = OpenTextFile);

}  // namespace hex_upload
