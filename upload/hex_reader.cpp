#include "upload/hex_reader.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace hex_upload {
namespace {

constexpr int kDataRecord = 0;
constexpr int kExtendedSegmentAddress = 2;
constexpr int kExtendedLinearAddress = 4;

bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Digit values by character, -1 for the rest: a table, because the digits
// of firmware data are random enough to defeat branch prediction.
constexpr std::array<int8_t, 256> kHexDigitValues = [] {
  std::array<int8_t, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 10; ++i) values['0' + i] = static_cast<int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    values['a' + i] = static_cast<int8_t>(10 + i);
    values['A' + i] = static_cast<int8_t>(10 + i);
  }
  return values;
}();

int HexDigit(int c) { return kHexDigitValues[static_cast<uint8_t>(c)]; }

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

int ReadHexField(HexSource& source, int width) {
  char field[4] = {};
  for (int i = 0; i < width && i < 4; ++i) {
    int c = source.Get();
    field[i] = c == -1 ? '\0' : static_cast<char>(c);
  }
  const char* p = field;
  const char* end = field + (width < 4 ? width : 4);
  // Nearly every field is digits only; those need none of the rules below.
  int plain_value = 0;
  const char* digit = p;
  for (; digit < end && HexDigit(*digit) >= 0; ++digit)
    plain_value = plain_value * 16 + HexDigit(*digit);
  if (digit == end && width > 0) return plain_value;
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
    if (((sum + checksum) & 0xFF) != 0)
      Print(out, "Warning: Checksum error between address 0x%x and 0x%x\n",
            static_cast<unsigned>(first), static_cast<unsigned>(first + stored));
    if (first < start_address) start_address = first;
    if (first + stored > end_address) end_address = first + stored;
  }
  return kHexRead;
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
  return result;
}

}  // namespace hex_upload
