#include "upload/hex_reader.h"

#include <cerrno>
#include <cstring>

namespace hex_upload {
namespace {

constexpr int kDataRecord = 0;
constexpr int kExtendedSegmentAddress = 2;
constexpr int kExtendedLinearAddress = 4;

bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads to the next ':'; false at the end of the source.
bool FindRecordStart(HexSource& source) {
  for (int c = source.Get(); c != -1; c = source.Get()) {
    if (c == ':') return true;
  }
  return false;
}

void PrintAddress(Output& out, int64_t address) {
  if (address < 0)
    Print(out, "-0x%lx", static_cast<unsigned long>(-address));
  else
    Print(out, "0x%lx", static_cast<unsigned long>(address));
}

}  // namespace

size_t FileSource::Read() {
  errno = 0;
  size_t length = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  // A directory opens on some systems and fails only here; so does a file
  // on a medium that went away.
  if (length < buffer_.size() && std::ferror(file_)) error_ = errno != 0 ? errno : EIO;
  return length;
}

int ReadHexField(HexSource& source, int width) {
  char field[4] = {};
  for (int i = 0; i < width && i < 4; ++i) {
    int c = source.Get();
    field[i] = c == -1 ? '\0' : static_cast<char>(c);
  }
  const char* p = field;
  const char* end = field + (width < 4 ? width : 4);
  while (p < end && IsSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  // "0x" counts as a prefix only when a digit follows; else the 0 is the number.
  if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) p += 2;
  int value = 0;
  for (; p < end && HexDigit(*p) >= 0; ++p) value = value * 16 + HexDigit(*p);
  return negative ? -value : value;
}

int ReadHexRecords(HexSource& source, FirmwareImage& image, int32_t& start_address,
                   int32_t& end_address, Output& out) {
  int64_t base = 0;
  while (FindRecordStart(source)) {
    int count = ReadHexField(source, 2);
    int offset = ReadHexField(source, 4);
    int type = ReadHexField(source, 2);
    if (source.Error() != 0) return kHexCannotRead;
    if (type == kExtendedSegmentAddress || type == kExtendedLinearAddress) {
      int64_t value = ReadHexField(source, 4);
      base = type == kExtendedSegmentAddress ? value * 16 : value * 65536;
      continue;
    }
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
    for (int i = 0; i < stored; ++i) {
      int value = ReadHexField(source, 2);
      image[static_cast<size_t>(first + i)] = static_cast<uint8_t>(value);
      sum += value;
    }
    int checksum = ReadHexField(source, 2);
    // A record cut short by a failed read is neither checked nor counted.
    if (source.Error() != 0) return kHexCannotRead;
    if (((sum + checksum) & 0xFF) != 0)
      Print(out, "Warning: Checksum error between address 0x%x and 0x%x\n",
            static_cast<unsigned>(first), static_cast<unsigned>(first + stored));
    if (first < start_address) start_address = first;
    if (first + stored > end_address) end_address = first + stored;
  }
  return source.Error() != 0 ? kHexCannotRead : kHexRead;
}

int LoadHexImage(const char* path, FirmwareImage& image, int32_t& start_address,
                 int32_t& end_address, Output& out) {
  std::FILE* file = std::fopen(path, "r");
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
