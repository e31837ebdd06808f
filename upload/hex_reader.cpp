#include "upload/hex_reader.h"

#include <cerrno>
#include <cstring>

namespace hex_upload {
namespace {

constexpr int kDataRecord = 0;
constexpr int kExtendedSegmentAddress = 2;
constexpr int kExtendedLinearAddress = 4;
constexpr int kBaseRecordCount = 2;  // a base record holds exactly one 16-bit value

// Each character's value as a hex digit, -1 for the rest.
constexpr std::array<int8_t, 256> kDigitValue = [] {
  std::array<int8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
               : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
               : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                                      : int8_t{-1};
  }
  return table;
}();

bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
int HexDigit(uint8_t c) { return kDigitValue[c]; }

// The strtol-like conversion of a field's characters, for fields that hold
// more than plain digits (or run past the end, given as '\0').
int ConvertField(const uint8_t* field, int width) {
  const uint8_t* p = field;
  const uint8_t* end = field + width;
  while (p < end && IsSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  // "0x" counts as a prefix only when a digit follows; else the 0 is the number.
  if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) p += 2;
  int value = 0;
  for (; p < end && HexDigit(*p) >= 0; ++p) value = value * 16 + HexDigit(*p);
  return negative ? -value : value;
}

// A field of plain digits converts directly; any other goes the long way.
int ConvertTwo(const uint8_t* field) {
  int high = HexDigit(field[0]);
  int low = HexDigit(field[1]);
  return (high | low) >= 0 ? high << 4 | low : ConvertField(field, 2);
}

int ConvertFour(const uint8_t* field) {
  int a = HexDigit(field[0]);
  int b = HexDigit(field[1]);
  int c = HexDigit(field[2]);
  int d = HexDigit(field[3]);
  return (a | b | c | d) >= 0 ? a << 12 | b << 8 | c << 4 | d : ConvertField(field, 4);
}

void PrintAddress(Output& out, int64_t address) {
  if (address < 0)
    Print(out, "-0x%lx", static_cast<unsigned long>(-address));
  else
    Print(out, "0x%lx", static_cast<unsigned long>(address));
}

}  // namespace

std::span<const uint8_t> FileSource::Next() {
  if (error_ != 0) return {};
  errno = 0;
  size_t length = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  // A directory opens on some systems and fails only here; so does a file
  // on a medium that went away.
  if (length < buffer_.size() && std::ferror(file_)) error_ = errno != 0 ? errno : EIO;
  return std::span(buffer_).first(length);
}

bool HexText::Refill() {
  if (ended_) return false;
  auto piece = source_.Next();
  if (piece.empty()) {
    ended_ = true;
    return false;
  }
  at_ = piece.data();
  end_ = piece.data() + piece.size();
  return true;
}

bool HexText::SkipPastColon() {
  for (;;) {
    if (at_ != end_) {
      const void* colon = std::memchr(at_, ':', static_cast<size_t>(end_ - at_));
      if (colon != nullptr) {
        at_ = static_cast<const uint8_t*>(colon) + 1;
        return true;
      }
      at_ = end_;
    }
    if (!Refill()) return false;
  }
}

int ReadHexField(HexText& text, int width) {
  if (width > 4) width = 4;
  if (width <= 0) return 0;
  if (const uint8_t* field = text.Take(static_cast<size_t>(width)))
    return width == 2   ? ConvertTwo(field)
           : width == 4 ? ConvertFour(field)
                        : ConvertField(field, width);
  // Across pieces, or past the end, one character at a time.
  uint8_t field[4] = {};
  for (int i = 0; i < width; ++i) {
    int c = text.Get();
    field[i] = c == -1 ? '\0' : static_cast<uint8_t>(c);
  }
  return ConvertField(field, width);
}

int ReadHexRecords(HexSource& source, FirmwareImage& image, int32_t& start_address,
                   int32_t& end_address, Output& out) {
  HexText text(source);
  int64_t base = 0;
  while (text.SkipPastColon()) {
    int count = ReadHexField(text, 2);
    int offset = ReadHexField(text, 4);
    int type = ReadHexField(text, 2);
    if (text.Failed()) return kHexCannotRead;
    if ((type == kExtendedSegmentAddress || type == kExtendedLinearAddress) &&
        count == kBaseRecordCount) {
      int64_t value = ReadHexField(text, 4);
      base = type == kExtendedSegmentAddress ? value * 16 : value * 65536;
      continue;
    }
    // Other records, base records of another count among them, are passed
    // over up to the next ':'.
    if (type != kDataRecord) continue;

    // Only the sum's low 8 bits count: count, both address bytes and type.
    int sum = count + (offset >> 8) + offset + type;
    // A negative offset (a '-' in the field) is an error whatever the base.
    int64_t address = offset < 0 ? offset : base + offset;
    int stored = count > 0 ? count : 0;
    if (address < 0 || address + stored > kImageSize) {
      out.Write("Error: data record at address ");
      PrintAddress(out, address);
      Print(out, " lies outside the firmware image (0x0 to 0x%x), exiting.\n",
            static_cast<unsigned>(kImageSize - 1));
      return kHexOutsideImage;
    }
    auto first = static_cast<int32_t>(address);
    uint8_t* data = image.data() + first;
    if (const uint8_t* digits = text.Take(2 * static_cast<size_t>(stored))) {
      for (int i = 0; i < stored; ++i, digits += 2) {
        int value = ConvertTwo(digits);
        data[i] = static_cast<uint8_t>(value);
        sum += value;
      }
    } else {
      for (int i = 0; i < stored; ++i) {
        int value = ReadHexField(text, 2);
        data[i] = static_cast<uint8_t>(value);
        sum += value;
      }
    }
    int checksum = ReadHexField(text, 2);
    // A record cut short by a failed read is neither checked nor counted.
    if (text.Failed()) return kHexCannotRead;
    if (((sum + checksum) & 0xFF) != 0)
      Print(out, "Warning: Checksum error between address 0x%x and 0x%x\n",
            static_cast<unsigned>(first), static_cast<unsigned>(first + stored));
    if (first < start_address) start_address = first;
    if (first + stored > end_address) end_address = first + stored;
  }
  return text.Failed() ? kHexCannotRead : kHexRead;
}

std::FILE* OpenTextFile(const char* path) { return std::fopen(path, "r"); }

int LoadHexImage(const char* path, FirmwareImage& image, int32_t& start_address,
                 int32_t& end_address, Output& out, OpenFileFn open_file) {
  std::FILE* file = open_file(path);
  if (file == nullptr) {
    Print(out, "error opening %s: %s\n", path, std::strerror(errno));
    return kHexCannotOpen;
  }
  FileSource source(file);
  int result = ReadHexRecords(source, image, start_address, end_address, out);
  std::fclose(file);
  if (result == kHexCannotRead)
    Print(out, "error reading %s: %s\n", path, std::strerror(source.Error()));
  return result;
}

}  // namespace hex_upload
