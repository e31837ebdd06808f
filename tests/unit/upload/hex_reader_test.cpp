#include "upload/hex_reader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/unit/upload/fake_hid.h"

namespace {

using namespace hex_upload;

// One record with a correct checksum.
std::string Record(unsigned address, unsigned type, const std::vector<uint8_t>& data) {
  char text[16];
  unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + address + type;
  std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address,
                type);
  std::string line = text;
  for (uint8_t byte : data) {
    std::snprintf(text, sizeof text, "%02X", byte);
    line += text;
    sum += byte;
  }
  std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  return line + text;
}

// A text handed out one character per piece, so that every field crosses a
// piece boundary and is read the long way.
struct CharacterSource final : HexSource {
  std::string_view text;
  explicit CharacterSource(std::string_view text) : text(text) {}
  std::span<const uint8_t> Next() override {
    if (text.empty()) return {};
    auto piece = std::span(reinterpret_cast<const uint8_t*>(text.data()), 1);
    text.remove_prefix(1);
    return piece;
  }
};

struct Read {
  std::unique_ptr<FirmwareImage> image = std::make_unique<FirmwareImage>();
  int32_t start = kImageSize;
  int32_t end = 0;
  int result = -99;
  fake::CapturedOutput out;

  // Reads the text in one piece, and once more a character at a time: both
  // must come to the same image, range, result and messages.
  explicit Read(const std::string& text) {
    image->fill(0xFF);
    MemorySource source({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    result = ReadHexRecords(source, *image, start, end, out);

    auto image_again = std::make_unique<FirmwareImage>();
    image_again->fill(0xFF);
    int32_t start_again = kImageSize;
    int32_t end_again = 0;
    fake::CapturedOutput out_again;
    CharacterSource characters(text);
    EXPECT_EQ(result, ReadHexRecords(characters, *image_again, start_again, end_again, out_again));
    EXPECT_EQ(start, start_again);
    EXPECT_EQ(end, end_again);
    EXPECT_EQ(out.text, out_again.text);
    EXPECT_TRUE(*image == *image_again);
  }
  uint8_t At(size_t address) const { return (*image)[address]; }
  size_t BytesNotErased() const {
    size_t n = 0;
    for (uint8_t byte : *image) n += byte != 0xFF;
    return n;
  }
};

TEST(HexField, ConvertsLikeStrtolWithinItsWidth) {
  struct Case {
    const char* text;
    int width;
    int value;
  } const cases[] = {
      {"1A", 2, 0x1A}, {"fe", 2, 0xFE},   {"Ab12", 4, 0xAB12}, {" 7", 2, 7},    {"-1", 2, -1},
      {"+F", 2, 15},   {"0x1F", 4, 0x1F}, {"0x", 2, 0},        {"zz", 2, 0},    {"1:", 2, 1},
      {"1\n", 2, 1},   {"\n1", 2, 1},     {"0xg1", 4, 0},      {"-0x1", 4, -1}, {"- 1", 4, 0},
      {"1", 2, 1},     {"", 4, 0},        {"-FFF", 4, -0xFFF},
  };
  for (const auto& c : cases) {
    std::string_view view = c.text;
    MemorySource source({reinterpret_cast<const uint8_t*>(view.data()), view.size()});
    HexText text(source);
    EXPECT_EQ(c.value, ReadHexField(text, c.width)) << '"' << c.text << '"';
    CharacterSource characters(view);
    HexText text_in_pieces(characters);
    EXPECT_EQ(c.value, ReadHexField(text_in_pieces, c.width)) << '"' << c.text << '"';
  }
}

TEST(HexField, TakesExactlyWidthCharacters) {
  std::string_view view = "1:2345";
  MemorySource source({reinterpret_cast<const uint8_t*>(view.data()), view.size()});
  HexText text(source);
  EXPECT_EQ(1, ReadHexField(text, 2));
  EXPECT_EQ(0x2345, ReadHexField(text, 4));
  EXPECT_EQ(-1, text.Get());
}

TEST(HexReader, FilesWithoutDataLeaveTheAddressesAsGiven) {
  for (const char* text :
       {"", "no records here\n", ":00000001FF\n:020000040000FA\n:0400000300001234B3\n"}) {
    Read read(text);
    EXPECT_EQ(kHexRead, read.result);
    EXPECT_EQ(kImageSize, read.start) << text;
    EXPECT_EQ(0, read.end) << text;
    EXPECT_EQ(0u, read.BytesNotErased());
  }
}

TEST(HexReader, CountOfZeroSetsBothAddresses) {
  Read read(":00123400BA\n");
  EXPECT_EQ(0x1234, read.start);
  EXPECT_EQ(0x1234, read.end);
  EXPECT_EQ(0u, read.BytesNotErased());
}

TEST(HexReader, StoresDataAndWidensTheRange) {
  Read read(Record(0x0200, 0, {1, 2, 3}) + "garbage between" + Record(0x0100, 0, {9}) +
            Record(0x0201, 0, {0x22}));  // the later record wins
  EXPECT_EQ(0x100, read.start);
  EXPECT_EQ(0x203, read.end);
  EXPECT_EQ(9, read.At(0x100));
  EXPECT_EQ(1, read.At(0x200));
  EXPECT_EQ(0x22, read.At(0x201));
  EXPECT_EQ(3, read.At(0x202));
  EXPECT_EQ("", read.out.text);
}

TEST(HexReader, RecordsAfterEndOfFileRecordAreRead) {
  Read read(Record(0, 0, {1}) + ":00000001FF\n" + Record(0x10, 0, {2}));
  EXPECT_EQ(2, read.At(0x10));
  EXPECT_EQ(0x11, read.end);
}

TEST(HexReader, RecordAtFFF0ReachesIntoTheImagesTail) {
  Read read(Record(0xFFF0, 0, std::vector<uint8_t>(32, 0xAB)));
  EXPECT_EQ(0xFFF0, read.start);
  EXPECT_EQ(0x10010, read.end);
  EXPECT_EQ(0xAB, read.At(0x1000F));
  EXPECT_EQ(0xFF, read.At(0x10010));
}

TEST(HexReader, WrongChecksumWarnsAndKeepsTheData) {
  Read read(":0300300002337A1F\n");  // correct checksum would be 0x1E
  EXPECT_EQ("Warning: Checksum error between address 0x30 and 0x33\n", read.out.text);
  EXPECT_EQ(0x7A, read.At(0x32));
  EXPECT_EQ(0x30, read.start);
  EXPECT_EQ(0x33, read.end);
}

TEST(HexReader, LowerCaseReadsLikeUpperCase) {
  Read read(":02001000abcd76\n");
  EXPECT_EQ("", read.out.text);
  EXPECT_EQ(0xAB, read.At(0x10));
  EXPECT_EQ(0xCD, read.At(0x11));
}

TEST(HexReader, FileEndingInsideARecordUsesWhatRemains) {
  Read read(":04001000AB");
  EXPECT_EQ(0xAB, read.At(0x10));
  EXPECT_EQ(0x00, read.At(0x11));  // no digit left: stored as 0
  EXPECT_EQ(0x00, read.At(0x13));
  EXPECT_EQ(0x14, read.end);
  EXPECT_EQ("Warning: Checksum error between address 0x10 and 0x14\n", read.out.text);
}

TEST(HexReader, ShortRecordTakesTheNextRecordAsItsData) {
  Read read(":0400000001\n" + Record(0x40, 0, {5}));
  EXPECT_EQ(0x01, read.At(0));
  EXPECT_EQ(0xFF, read.At(0x40));  // consumed by the record before
  EXPECT_EQ(4, read.end);
}

TEST(HexReader, ExtendedBasesApplyAndZeroBaseChangesNothing) {
  struct Case {
    const char* what;
    std::string text;
    size_t address;
  } const cases[] = {
      {"linear base 0", ":020000040000FA\n" + Record(0x1234, 0, {0x5A}), 0x1234},
      {"segment base 0", ":020000020000FC\n" + Record(0x1234, 0, {0x5A}), 0x1234},
      {"segment base 0x0100", Record(0, 2, {0x01, 0x00}) + Record(0x0034, 0, {0x5A}), 0x1034},
      {"segment base 0x1000", Record(0, 2, {0x10, 0x00}) + Record(0x0004, 0, {0x5A}), 0x10004},
      {"linear base 1", Record(0, 4, {0x00, 0x01}) + Record(0x00F0, 0, {0x5A}), 0x100F0},
      {"back to base 0",
       Record(0, 4, {0x00, 0x01}) + Record(0, 4, {0, 0}) + Record(0x0010, 0, {0x5A}), 0x10},
      // A base record whose count is not 2 sets no base, and its rest does
      // not swallow the next record.
      {"linear, count 0", ":00000004FC\n" + Record(0x0010, 0, {0x5A}), 0x10},
      {"linear, count 1", Record(0, 4, {0x01}) + Record(0x0020, 0, {0x5A}), 0x20},
      {"segment, count 3", Record(0, 2, {0x10, 0x00, 0}) + Record(0x0030, 0, {0x5A}), 0x30},
      {"linear, count 1 keeps the base",
       Record(0, 4, {0x00, 0x01}) + Record(0, 4, {0}) + Record(0x0040, 0, {0x5A}), 0x10040},
  };
  for (const auto& c : cases) {
    Read read(c.text);
    EXPECT_EQ(kHexRead, read.result) << c.what;
    EXPECT_EQ("", read.out.text) << c.what;
    EXPECT_EQ(0x5A, read.At(c.address)) << c.what;
    EXPECT_EQ(1u, read.BytesNotErased()) << c.what;
    EXPECT_EQ(static_cast<int32_t>(c.address), read.start) << c.what;
  }
}

TEST(HexReader, DataOutsideTheImageIsAnErrorNamingTheAddress) {
  struct Case {
    const char* what;
    std::string text;
    const char* address;
  } const cases[] = {
      {"linear base 1 past the tail", Record(0, 4, {0x00, 0x01}) + Record(0x0100, 0, {1}),
       "0x10100"},
      {"record crossing the end", Record(0, 4, {0x00, 0x01}) + Record(0x00FF, 0, {1, 2}),
       "0x100ff"},
      {"linear base 0x0800", Record(0, 4, {0x08, 0x00}) + Record(0, 0, {1}), "0x8000000"},
      {"segment base 0xF000", Record(0, 2, {0xF0, 0x00}) + Record(0x0200, 0, {1}), "0xf0200"},
      {"negative address", ":01-01000AB00\n", "-0x10"},
      {"negative segment", ":02000002-001FF\n" + Record(0x0005, 0, {1}), "-0xb"},
  };
  for (const auto& c : cases) {
    Read read(Record(0x10, 0, {7}) + c.text);
    EXPECT_EQ(kHexOutsideImage, read.result) << c.what;
    EXPECT_EQ(std::string("Error: data record at address ") + c.address +
                  " lies outside the firmware image (0x0 to 0x100ff), exiting.\n",
              read.out.text)
        << c.what;
    EXPECT_EQ(1u, read.BytesNotErased()) << c.what;  // only the first record's byte
  }
}

TEST(HexReader, NegativeCountStoresNothing) {
  Read read(":-1001000AB\n");
  EXPECT_EQ(kHexRead, read.result);
  EXPECT_EQ(0u, read.BytesNotErased());
  EXPECT_EQ(0x10, read.start);
  EXPECT_EQ(0x10, read.end);
}

TEST(HexReader, FileThatCannotBeOpenedLeavesEverythingUntouched) {
  auto image = std::make_unique<FirmwareImage>();
  image->fill(0xFF);
  int32_t start = kImageSize;
  int32_t end = 0;
  fake::CapturedOutput out;
  EXPECT_EQ(kHexCannotOpen, LoadHexImage("/nonexistent/firmware.hex", *image, start, end, out));
  EXPECT_EQ("error opening /nonexistent/firmware.hex: No such file or directory\n", out.text);
  EXPECT_EQ(kImageSize, start);
  EXPECT_EQ(0, end);
}

TEST(HexReader, ReadErrorIsNotTheEndOfTheFile) {
  // A directory opens here and fails at the first read.
  char path[] = "/tmp/hex-reader-dirXXXXXX";
  ASSERT_NE(nullptr, mkdtemp(path));
  auto image = std::make_unique<FirmwareImage>();
  int32_t start = kImageSize;
  int32_t end = 0;
  fake::CapturedOutput out;
  EXPECT_EQ(kHexCannotRead, LoadHexImage(path, *image, start, end, out));
  rmdir(path);
  EXPECT_EQ(std::string("error reading ") + path + ": Is a directory\n", out.text);

  // A medium that goes away in the middle of a record: the record cut short
  // gets no checksum warning and the reading fails.
  struct VanishingSource final : HexSource {
    std::string_view text = ":01001000AB44\n:0400200001";
    std::span<const uint8_t> Next() override {
      auto piece = std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      text = {};
      return piece;
    }
    int Error() const override { return text.empty() ? EIO : 0; }
  } source;
  out.text.clear();
  EXPECT_EQ(kHexCannotRead, ReadHexRecords(source, *image, start, end, out));
  EXPECT_EQ("", out.text);
}

TEST(HexReader, LoadsAFileAcrossItsReadBuffer) {
  std::string text;
  for (unsigned address = 0; address < 0x8000; address += 16)
    text += Record(address, 0, std::vector<uint8_t>(16, static_cast<uint8_t>(address >> 4)));
  char path[] = "/tmp/hex-reader-testXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::FILE* file = fdopen(fd, "w");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  auto image = std::make_unique<FirmwareImage>();
  image->fill(0xFF);
  int32_t start = kImageSize;
  int32_t end = 0;
  fake::CapturedOutput out;
  EXPECT_EQ(kHexRead, LoadHexImage(path, *image, start, end, out));
  std::remove(path);
  EXPECT_EQ("", out.text);
  EXPECT_EQ(0, start);
  EXPECT_EQ(0x8000, end);
  for (unsigned address = 0; address < 0x8000; ++address)
    ASSERT_EQ(static_cast<uint8_t>(address >> 4), (*image)[address]) << address;
}

}  // namespace
