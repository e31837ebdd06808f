#include "upload/upload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/unit/upload/fake_hid.h"
#include "upload/hid_device.h"

namespace {

using namespace hex_upload;

// A HEX file of count bytes from start on (value: low byte of the address).
std::string HexFile(unsigned start, unsigned count) {
  std::string text;
  for (unsigned address = start; address < start + count;) {
    unsigned n = std::min(16u, start + count - address);
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X00", n, address);
    text += field;
    unsigned sum = n + (address >> 8) + address;
    for (unsigned i = 0; i < n; ++i) {
      std::snprintf(field, sizeof field, "%02X", (address + i) & 0xFF);
      text += field;
      sum += address + i;
    }
    std::snprintf(field, sizeof field, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += field;
    address += n;
  }
  return text + ":00000001FF\n";
}

using fake::TempFile;

struct Session {
  fake::Hid hid;
  fake::LoggedBootloader bootloader;
  fake::CapturedOutput out;
  int exit_code = -99;

  explicit Session(sorbel_sim::Settings settings = {}) : bootloader(settings) {
    hid.devices = {fake::SorbelDevice(bootloader.model.get())};
  }
  int Run(std::vector<const char*> args) {
    args.insert(args.begin(), "hex-upload");
    exit_code = RunHexUpload(static_cast<int>(args.size()), args.data(), hid, out);
    return exit_code;
  }
  int Upload(const std::string& hex) {
    TempFile file(hex);
    return Run({file.path.c_str()});
  }
  int Count(const std::string& needle) const {
    int n = 0;
    for (size_t at = out.text.find(needle); at != std::string::npos;
         at = out.text.find(needle, at + 1))
      ++n;
    return n;
  }
  std::vector<std::string> Sleeps() const {
    std::vector<std::string> found;
    for (const auto& event : hid.events)
      if (event.rfind("sleep", 0) == 0) found.push_back(event);
    return found;
  }
};

TEST(CommandLine, UsageWithoutTouchingFileOrDevice) {
  const std::string usage = "usage: hex-upload [-r] <intel-hexfile>\n";
  const struct {
    std::vector<const char*> args;
    bool help;  // the usage line, then the options and exit codes
  } cases[] = {{{}, false},
               {{"-h"}, true},
               {{"--help"}, true},
               {{"-r"}, false},
               {{"-h", "file.hex"}, true},
               {{"-w"}, false},
               {{"-r", "-w"}, false},
               {{"-w", "-r"}, false},
               {{"-w", "--"}, false},
               {{"-d"}, false},
               {{"-d", "", "file.hex"}, false},
               {{"--device"}, false},
               {{"--all", "-d", "9-1", "file.hex"}, false},
               {{"-w", "--all", "file.hex"}, false},
               {{"-x", "file.hex"}, false},
               {{"--lis", "file.hex"}, false},
               {{"-r", "--help"}, true}};
  for (const auto& c : cases) {
    Session run;
    EXPECT_EQ(1, run.Run(c.args));
    const std::string& text = run.out.text;
    if (c.help) {
      EXPECT_TRUE(text.starts_with(usage + "Options")) << text;
      for (const char* part : {"\n  -r  ", "\n  -w  ", "\n  -d PLACE  ", "\n  --all  ",
                               "\n  --list  ", "\nExit codes:\n  0  ", "\n  1  "})
        EXPECT_NE(std::string::npos, text.find(part)) << part;
    } else {
      EXPECT_EQ(usage, text);
    }
    EXPECT_EQ(0, run.hid.list_count);
  }
  fake::CapturedOutput out;
  fake::Hid hid;
  const char* no_name[] = {nullptr};
  EXPECT_EQ(1, RunHexUpload(0, no_name, hid, out));
  EXPECT_EQ(usage, out.text);
}

TEST(CommandLine, DashRAndTrailingArgumentsChangeNothing) {
  TempFile file(HexFile(0, 300));
  std::string expected;
  for (const auto& args : std::vector<std::vector<const char*>>{{file.path.c_str()},
                                                                {"-r", file.path.c_str()},
                                                                {file.path.c_str(), "-r"},
                                                                {file.path.c_str(), "x", "y"},
                                                                {"-w", file.path.c_str()},
                                                                {"-w", "-r", file.path.c_str()},
                                                                {"-r", "-w", file.path.c_str()}}) {
    Session run;
    EXPECT_EQ(0, run.Run(args));
    if (expected.empty()) expected = run.out.text;
    EXPECT_EQ(expected, run.out.text);
    EXPECT_EQ((std::vector<unsigned>{0, 128, 256}), run.bootloader.BlockAddresses());
  }
}

TEST(CommandLine, FileProblemsEndBeforeAnyDeviceAccess) {
  struct Case {
    const char* what;
    std::string hex;
    int exit_code;
    std::string output;
  } const cases[] = {
      {"no data records", ":020000040000FA\n:00000001FF\n", 0, "No data in input file, exiting.\n"},
      {"empty file", "", 0, "No data in input file, exiting.\n"},
      {"data above the image", ":020000040001F9\n:0101000000FE\n", 1,
       "Error: data record at address 0x10100 lies outside the firmware image (0x0 to 0x100ff), "
       "exiting.\n"},
  };
  for (const auto& c : cases) {
    Session run;
    EXPECT_EQ(c.exit_code, run.Upload(c.hex)) << c.what;
    EXPECT_EQ(c.output, run.out.text) << c.what;
    EXPECT_EQ(0, run.hid.list_count) << c.what;
  }
  // A path of any length keeps its reason and line end.
  const std::string long_path = "/" + std::string(999, 'd');
  const struct {
    std::string path;
    std::string output;
  } unreadable[] = {
      {"/nonexistent.hex", "error opening /nonexistent.hex: No such file or directory\n"},
      {long_path, "error opening " + long_path + ": File name too long\n"},
      {"/tmp", "error reading /tmp: Is a directory\n"},
  };
  for (const auto& c : unreadable) {
    Session run;
    EXPECT_EQ(1, run.Run({c.path.c_str()}));
    EXPECT_EQ(c.output, run.out.text);
    EXPECT_EQ(0, run.hid.list_count);
  }
}

// A shell that opens files its own way gets the name as the arguments gave
// it, and the core reports a failure with that name.
TEST(CommandLine, TheShellOpensTheFileTheArgumentsName) {
  static const char kFound[] = "\u043f\u0440\u043e\u0448\u0438\u0432\u043a\u0430.hex";
  static const char kMissing[] = "\u043d\u0435\u0442-\U0001D11E.hex";
  static std::string hex = HexFile(0, 300);
  static std::vector<std::string> opened;
  auto open_file = [](const char* path) -> std::FILE* {
    opened.push_back(path);
    if (opened.back() == kFound) return fmemopen(hex.data(), hex.size(), "r");
    errno = ENOENT;
    return nullptr;
  };
  Session found;
  const char* const found_args[] = {"hex-upload", kFound};
  EXPECT_EQ(0, RunHexUpload(2, found_args, found.hid, found.out, open_file));
  EXPECT_EQ((std::vector<unsigned>{0, 128, 256}), found.bootloader.BlockAddresses());
  Session missing;
  const char* const missing_args[] = {"hex-upload", kMissing};
  EXPECT_EQ(1, RunHexUpload(2, missing_args, missing.hid, missing.out, open_file));
  EXPECT_EQ(std::string("error opening ") + kMissing + ": No such file or directory\n",
            missing.out.text);
  EXPECT_EQ((std::vector<std::string>{kFound, kMissing}), opened);
}

TEST(CommandLine, DashWWaitsForTheDeviceWithoutTouchingIt) {
  Session run;
  run.hid.hidden_searches = 3;
  EXPECT_EQ(0, run.Run({"-w", TempFile(HexFile(0, 16)).path.c_str()}));
  EXPECT_EQ(0u, run.out.text.find("Waiting for the Sorbel device (press Ctrl+C to stop) ...\n"
                                  "Page size   = 128 (0x80)\n"));
  EXPECT_EQ(3, run.hid.Count("sleep 250"));
  EXPECT_EQ(0, run.hid.Count("sleep 2000"));
  // The search that found it, the look for other boards and the attempt each
  // opened and closed it; only the attempt read its sizes.
  EXPECT_EQ(3, run.hid.Count("open "));
  EXPECT_EQ(3, run.hid.Count("close "));
  EXPECT_EQ(1, std::count_if(run.bootloader.log.begin(), run.bootloader.log.end(),
                             [](const std::string& line) { return line.starts_with("get "); }));
}

TEST(CommandLine, DashWStopsWaitingAtAnyOtherAnswer) {
  // The bootloader listed, but refused to this user: found at once, or
  // during the wait; either way the attempts tell why.
  std::string denied;
  for (int i = 0; i < 10; ++i) denied += "Error opening Sorbel device: Access to device denied\n";
  for (int hidden : {0, 2}) {
    Session run;
    run.hid.devices[0].listed_identity = true;
    run.hid.devices[0].open_result = HidOpenResult::kAccessDenied;
    run.hid.hidden_searches = hidden;
    EXPECT_EQ(1, run.Run({"-w", TempFile(HexFile(0, 16)).path.c_str()}));
    EXPECT_EQ(hidden == 0 ? denied
                          : "Waiting for the Sorbel device (press Ctrl+C to stop) ...\n" + denied,
              run.out.text);
    EXPECT_EQ(hidden, run.hid.Count("sleep"));
  }
}

TEST(Upload, FirstAttemptSucceeds) {
  Session run;
  EXPECT_EQ(0, run.Upload(HexFile(0, 0x100)));
  EXPECT_EQ(
      "Page size   = 128 (0x80)\n"
      "Device size = 32768 (0x8000); 30720 bytes remaining\n"
      "Uploading 256 (0x100) bytes starting at 0 (0x0)\n"
      "\r0x00000 ... 0x00080\r0x00080 ... 0x00100\n"
      "The firmware is written successfully after 0 retries.\n",
      run.out.text);
  auto flash = sorbel_sim::Flash(*run.bootloader.model);
  for (unsigned i = 0; i < 0x100; ++i) ASSERT_EQ(i & 0xFF, flash[i]);
  EXPECT_EQ(0xFF, flash[0x100]);
  EXPECT_TRUE(sorbel_sim::LeftBootloader(*run.bootloader.model));
  EXPECT_EQ("close sorbel", run.hid.events.back());
}

TEST(Upload, RoundsToPagesButNeverBelow128Bytes) {
  // A rounded range must stay below the bootloader's 2048 bytes too, and a
  // page size from 128 on must be a power of two: every attempt refuses then.
  struct Case {
    uint32_t page_size;
    uint32_t flash_size;
    unsigned start, count;
    size_t blocks;  // none: every attempt refuses with the line
    const char* line;
  } const cases[] = {
      {64, 32768, 0, 0x1234, 37, "Uploading 4736 (0x1280) bytes starting at 0 (0x0)\n"},
      {128, 32768, 0, 0x1234, 37, "Uploading 4736 (0x1280) bytes starting at 0 (0x0)\n"},
      {256, 32768, 0, 0x1234, 38, "Uploading 4864 (0x1300) bytes starting at 0 (0x0)\n"},
      {0, 32768, 0, 0x1234, 37, "Uploading 4736 (0x1280) bytes starting at 0 (0x0)\n"},
      {100, 32768, 0, 0x1234, 37, "Uploading 4736 (0x1280) bytes starting at 0 (0x0)\n"},
      {2048, 8192, 0, 6000, 48, "Uploading 6144 (0x1800) bytes starting at 0 (0x0)\n"},
      {4096, 8192, 0x13F0, 16, 0, "Data (8192 bytes) exceeds remaining flash size!\n"},
      {4096, 16384, 0, 14000, 0, "Data (16384 bytes) exceeds remaining flash size!\n"},
      {32768, 8192, 0, 16, 0, "Data (32768 bytes) exceeds remaining flash size!\n"},
      {65535, 8192, 0x13F0, 16, 0, "Page size (65535 bytes) is not a power of two!\n"},
      {129, 32768, 0x0105, 16, 0, "Page size (129 bytes) is not a power of two!\n"},
      {255, 32768, 0x0181, 16, 0, "Page size (255 bytes) is not a power of two!\n"},
  };
  for (const auto& c : cases) {
    Session run(sorbel_sim::Settings{c.page_size, c.flash_size});
    bool refused = c.blocks == 0;
    EXPECT_EQ(refused ? 1 : 0, run.Upload(HexFile(c.start, c.count))) << c.page_size;
    EXPECT_EQ(c.blocks, run.bootloader.BlockAddresses().size()) << c.page_size;
    EXPECT_EQ(refused ? 10 : 1, run.Count(c.line)) << run.out.text;
    if (refused) continue;
    // Bytes after the file's data go as 0xFF.
    unsigned end = c.start + c.count;
    EXPECT_EQ((end - 1) & 0xFF, sorbel_sim::Flash(*run.bootloader.model)[end - 1]);
    EXPECT_EQ(0xFF, sorbel_sim::Flash(*run.bootloader.model)[end]);
  }
}

TEST(Upload, DataStartingInsideABlockStartAtTheBlock) {
  Session run;
  EXPECT_EQ(0, run.Upload(HexFile(0x0105, 10)));
  EXPECT_EQ(1, run.Count("Uploading 128 (0x80) bytes starting at 256 (0x100)\n"));
  EXPECT_EQ((std::vector<unsigned>{0x100}), run.bootloader.BlockAddresses());
  auto flash = sorbel_sim::Flash(*run.bootloader.model);
  for (unsigned i = 0x100; i < 0x105; ++i) EXPECT_EQ(0xFF, flash[i]);
  EXPECT_EQ(0x05, flash[0x105]);
}

TEST(Upload, DataMustStay2048BytesBelowTheFlashEnd) {
  Session too_large(sorbel_sim::Settings{128, 8192});
  EXPECT_EQ(1, too_large.Upload(HexFile(0, 6145)));
  std::string attempt =
      "Page size   = 128 (0x80)\n"
      "Device size = 8192 (0x2000); 6144 bytes remaining\n"
      "Data (6145 bytes) exceeds remaining flash size!\n";
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += attempt;
  EXPECT_EQ(expected, too_large.out.text);
  EXPECT_TRUE(too_large.bootloader.BlockAddresses().empty());

  Session exact(sorbel_sim::Settings{128, 8192});
  EXPECT_EQ(0, exact.Upload(HexFile(0, 6144)));
  EXPECT_EQ(48u, exact.bootloader.BlockAddresses().size());
}

TEST(Upload, FlashSizeAtTheBottomOfTheIntRangeDoesNotWrap) {
  Session run(sorbel_sim::Settings{128, 0x80000000});
  run.bootloader.model->settings.flash_size = 0x80000000;  // as the device reports it
  EXPECT_EQ(1, run.Upload(HexFile(0, 16)));
  EXPECT_EQ(10, run.Count("Data (16 bytes) exceeds remaining flash size!\n"));
  // Until an upload begins, every attempt shows the sizes again.
  EXPECT_EQ(10, run.Count("Device size = -2147483648 (0x80000000); 2147481600 bytes remaining\n"));
}

TEST(Upload, FailedBlockResumesFromTheStartOfItsPage) {
  Session run(sorbel_sim::Settings{256, 32768});
  sorbel_sim::FailBlock(*run.bootloader.model, 4);  // the block at 0x180
  EXPECT_EQ(0, run.Upload(HexFile(0, 0x300)));
  EXPECT_EQ((std::vector<unsigned>{0x000, 0x080, 0x100, 0x180, 0x100, 0x180, 0x200, 0x280}),
            run.bootloader.BlockAddresses());
  EXPECT_EQ(
      1,
      run.Count(
          "\r0x00180 ... 0x00200 Error uploading data block: Communication error with device\n"));
  // The second attempt prints neither the sizes nor the "Uploading" line again.
  EXPECT_EQ(1, run.Count("Page size"));
  EXPECT_EQ(1, run.Count("Uploading"));
  EXPECT_EQ(1, run.Count("The firmware is written successfully after 1 retries.\n"));
  // Once seen, the device gets its second chance only when an open fails.
  EXPECT_TRUE(run.Sleeps().empty());
  auto flash = sorbel_sim::Flash(*run.bootloader.model);
  for (unsigned i = 0; i < 0x300; ++i) ASSERT_EQ(i & 0xFF, flash[i]) << i;
}

TEST(Upload, NoDeviceMeansTenErrorsWithoutPause) {
  Session run;
  run.hid.devices.clear();
  EXPECT_EQ(1, run.Upload(HexFile(0, 16)));
  std::string expected;
  for (int i = 0; i < 10; ++i)
    expected += "Error opening Sorbel device: The specified device was not found\n";
  EXPECT_EQ(expected, run.out.text);
  EXPECT_TRUE(run.Sleeps().empty());
}

TEST(Upload, DeviceOnceSeenIsOpenedTwice2000MsApart) {
  Session run;
  auto& hid = run.hid;
  sorbel_sim::FailBlock(*run.bootloader.model, 1);
  auto upload = std::make_unique<Upload>();
  Reset(*upload);
  upload->start_address = 0;
  upload->end_address = 16;
  // A block fails in the first attempt...
  EXPECT_EQ(kUsbCommunicationError, UploadAttempt(*upload, hid, run.out));
  EXPECT_TRUE(upload->device_seen);
  // ...and the device cannot be opened in the second: two opens, 2000 ms apart.
  hid.hidden_searches = 2;
  hid.events.clear();
  run.out.text.clear();
  EXPECT_EQ(kUsbDeviceNotFound, UploadAttempt(*upload, hid, run.out));
  EXPECT_EQ(
      "Error opening Sorbel device: The specified device was not found\n"
      "Error opening Sorbel device: The specified device was not found\n",
      run.out.text);
  EXPECT_EQ((std::vector<std::string>{"list", "sleep 2000", "list"}), hid.events);
  // The third attempt starts again with an open.
  hid.events.clear();
  EXPECT_EQ(kUsbSuccess, UploadAttempt(*upload, hid, run.out));
  EXPECT_EQ((std::vector<std::string>{"list", "open sorbel", "claim sorbel", "close sorbel"}),
            hid.events);
  EXPECT_EQ((std::vector<unsigned>{0, 0}), run.bootloader.BlockAddresses());
}

TEST(Upload, ClosingReportCarriesTheLastBlocksAddressAndFirstBytes) {
  Session run;
  EXPECT_EQ(0, run.Upload(HexFile(0x0200, 0x90)));
  ASSERT_FALSE(run.bootloader.log.empty());
  EXPECT_EQ("set 3 7 01 80 02 00 80 81 82", run.bootloader.log.back());
}

TEST(Upload, AMakersProductNameIsLookedForWhenGiven) {
  Session run;
  run.hid.devices[0].product = u"Widget";
  TempFile file(HexFile(0, 16));
  const char* argv[] = {"hex-upload", file.path.c_str()};
  EXPECT_EQ(1, RunHexUpload(2, argv, run.hid, run.out));
  EXPECT_EQ(0, RunHexUpload(2, argv, run.hid, run.out, OpenTextFile, "Widget"));
  EXPECT_TRUE(sorbel_sim::LeftBootloader(*run.bootloader.model));
}

TEST(Upload, FailedClosingReportStillSucceeds) {
  Session run;
  run.hid.devices[0].closing_report_fails = true;
  EXPECT_EQ(0, run.Upload(HexFile(0, 16)));
  EXPECT_EQ(1, run.Count("The firmware is written successfully after 0 retries.\n"));
}

TEST(Upload, ShortInfoReportEndsEachAttemptWhereTheSystemTellsTheCount) {
  const struct {
    size_t info_length;
    bool tells_count;  // false: as on Windows
    int exit_code;
    const char* line;
  } cases[] = {
      {3, true, 1, "Not enough bytes in device info report (3 instead of 7)\n"},
      {6, true, 1, "Not enough bytes in device info report (6 instead of 7)\n"},
      {7, true, 0, "Device size = 32768 (0x8000); 30720 bytes remaining\n"},
      // No count told: what the device left unset reads as zeros.
      {3, false, 1, "Device size = 0 (0x0); -2048 bytes remaining\n"},
  };
  for (const auto& c : cases) {
    Session run;
    sorbel_sim::ShortInfoReport(*run.bootloader.model, c.info_length);
    run.hid.devices[0].tells_count = c.tells_count;
    EXPECT_EQ(c.exit_code, run.Upload(HexFile(0, 16))) << run.out.text;
    EXPECT_EQ(c.exit_code == 0 ? 1 : 10, run.Count(c.line)) << run.out.text;
    EXPECT_EQ(c.exit_code == 0, !run.bootloader.BlockAddresses().empty());
  }
}

TEST(Upload, InfoReportFailureEndsEachAttempt) {
  Session run;
  run.hid.devices[0].bootloader = nullptr;  // answers no report at all
  EXPECT_EQ(1, run.Upload(HexFile(0, 16)));
  // Seen once, each later attempt opens it at once and fails the same way.
  EXPECT_EQ(10, run.Count("Error reading page size: Communication error with device\n"));
  EXPECT_TRUE(run.Sleeps().empty());
}

TEST(Upload, EveryFailedAttemptClosesWhatItOpened) {
  struct Case {
    const char* what;
    sorbel_sim::Settings settings;
    int failing_block;
    bool answers;
    std::u16string product;
  } const cases[] = {
      {"info report fails", {}, 0, false, u"Sorbel"},
      {"flash too small", {128, 2048}, 0, true, u"Sorbel"},
      {"data block fails", {}, 1, true, u"Sorbel"},
      {"only a device that does not match", {}, 0, true, u"Other"},
  };
  for (const auto& c : cases) {
    Session run(c.settings);
    sorbel_sim::FailBlock(*run.bootloader.model, c.failing_block);
    if (!c.answers) run.hid.devices[0].bootloader = nullptr;
    run.hid.devices[0].product = c.product;
    run.Upload(HexFile(0, 16));
    EXPECT_LT(0, run.hid.Count("open ")) << c.what;
    EXPECT_EQ(run.hid.Count("open "), run.hid.Count("close ")) << c.what;
  }
}

TEST(Upload, LaterAttemptsCheckTheFilesRangeNotAnEarlierRounding) {
  // 5000 bytes rounded to 4096-byte pages end at 8192; when the device, back
  // after a failed block, answers 1024-byte pages of an 8192-byte flash, the
  // data still fit and the upload resumes on the new pages.
  Session run(sorbel_sim::Settings{4096, 16384});
  auto upload = std::make_unique<Upload>();
  Reset(*upload);
  for (unsigned i = 0; i < 5000; ++i) upload->image[i] = static_cast<uint8_t>(i);
  upload->start_address = 0;
  upload->end_address = 5000;
  sorbel_sim::FailBlock(*run.bootloader.model, 4);  // the block at 0x180
  EXPECT_EQ(kUsbCommunicationError, UploadAttempt(*upload, run.hid, run.out));
  run.bootloader.model->settings = {1024, 8192};
  EXPECT_EQ(kUsbSuccess, UploadAttempt(*upload, run.hid, run.out));
  EXPECT_EQ(0, run.Count("exceeds"));
  auto blocks = run.bootloader.BlockAddresses();
  ASSERT_EQ(4u + 40u, blocks.size());
  EXPECT_EQ(0x000u, blocks[4]);
  EXPECT_EQ(0x1380u, blocks.back());
  auto flash = sorbel_sim::Flash(*run.bootloader.model);
  for (unsigned i = 0; i < 5000; ++i) ASSERT_EQ(i & 0xFF, flash[i]) << i;
}

TEST(Upload, BlocksPastTheImageCarryErasedBytes) {
  // A 64 KiB page rounds the end past the image's 65792 bytes.
  Session run(sorbel_sim::Settings{0x8000, 128 * 1024});
  EXPECT_EQ(0, run.Upload(":020000040001F9\n" + HexFile(0, 0x10)));
  auto blocks = run.bootloader.BlockAddresses();
  ASSERT_EQ(256u, blocks.size());
  EXPECT_EQ(0x10000u, blocks.front());
  auto flash = sorbel_sim::Flash(*run.bootloader.model);
  EXPECT_EQ(0x0F, flash[0x1000F]);
  for (size_t i = 0x10010; i < 0x18000; ++i) ASSERT_EQ(0xFF, flash[i]) << i;
}

}  // namespace

namespace several {

using namespace hex_upload;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

// Three bootloaders at 9-1.1 to 9-1.3, listed after a device with the same
// ids and another product string.
struct Bench {
  fake::Hid hid;
  std::vector<fake::LoggedBootloader> boards = std::vector<fake::LoggedBootloader>(3);
  fake::CapturedOutput out;
  unsigned size = 0;

  Bench() {
    fake::Device other = fake::SorbelDevice(nullptr, "other");
    other.product = u"Other";
    other.place = "9-3";
    hid.devices.push_back(other);
    for (size_t i = 0; i < boards.size(); ++i) {
      std::string place = "9-1." + std::to_string(i + 1);
      hid.devices.push_back(fake::SorbelDevice(boards[i].model.get(), "board" + place));
      hid.devices.back().place = place;
    }
    for (auto& device : hid.devices) device.listed_identity = true;
  }
  int Run(std::vector<const char*> args, unsigned bytes) {
    size = bytes;
    TempFile file(HexFile(0, bytes));
    args.insert(args.begin(), "hex-upload");
    args.push_back(file.path.c_str());
    return RunHexUpload(static_cast<int>(args.size()), args.data(), hid, out);
  }
  // Per board: "w" holds the whole file, "-" was never sent a report, "?" else.
  std::string Boards() const {
    std::string state;
    for (const auto& board : boards) {
      auto flash = sorbel_sim::Flash(*board.model);
      // The last byte but one: the last of 0x500 bytes would read as erased.
      state += board.log.empty() ? '-' : flash[size - 2] == ((size - 2) & 0xFF) ? 'w' : '?';
    }
    return state;
  }
};

TEST(SeveralDevices, ChosenBoardWrittenOthersUntouched) {
  const struct {
    std::vector<const char*> args;
    int exit_code;
    std::string boards;
    std::string first_line;
  } cases[] = {
      {{},
       0,
       "w--",
       "Note: 3 Sorbel devices are attached; writing the one at 9-1.1 (--list lists them, "
       "-d PLACE picks one)"},
      {{"-d", "9-1.2"}, 0, "-w-", "Page size   = 128 (0x80)"},
      {{"--device", "9-1.3", "-r"}, 0, "--w", "Page size   = 128 (0x80)"},
      {{"-w", "-d", "9-1.3"}, 0, "--w", "Page size   = 128 (0x80)"},
      // Another device, or nothing, at the place: as if no device were there.
      {{"-d", "9-3"}, 1, "---", "Error opening Sorbel device: The specified device was not found"},
      {{"-d", "9-9"}, 1, "---", "Error opening Sorbel device: The specified device was not found"},
  };
  for (const auto& c : cases) {
    Bench bench;
    EXPECT_EQ(c.exit_code, bench.Run(c.args, 300));
    EXPECT_EQ(c.boards, bench.Boards()) << bench.out.text;
    auto lines = Lines(bench.out.text);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(c.first_line, lines.front());
    EXPECT_EQ(
        c.exit_code == 0 ? "The firmware is written successfully after 0 retries." : c.first_line,
        lines[lines.size() - (c.exit_code == 0 ? 1 : 2)]);
    if (c.exit_code == 1) {
      // Ten open errors, then where the Sorbel devices are.
      EXPECT_EQ(11u, lines.size());
      EXPECT_EQ(
          std::string("No Sorbel device is at ") + c.args[1] + "; attached: 9-1.1, 9-1.2, 9-1.3",
          lines.back());
    }
  }
  // One board alone: not a byte more than before.
  Session one;
  one.hid.devices[0].place = "9-1.1";
  EXPECT_EQ(0, one.Upload(HexFile(0, 300)));
  EXPECT_TRUE(one.out.text.starts_with("Page size")) << one.out.text;
}

TEST(SeveralDevices, ARetryLooksOnlyAtTheFirstOpenedBoardsPlace) {
  // The first board is pulled out after 3 blocks: no other board gets the
  // rest of its image, and the line after the attempts names the others.
  Bench bench;
  sorbel_sim::UnplugAfter(*bench.boards[0].model, 3);
  EXPECT_EQ(1, bench.Run({}, 0x500));
  EXPECT_EQ("?--", bench.Boards()) << bench.out.text;
  auto lines = Lines(bench.out.text);
  EXPECT_EQ("No Sorbel device is at 9-1.1; attached: 9-1.2, 9-1.3", lines.back());
  // Another board at the place written in the meantime: pulled out too, and
  // none is left.
  Bench alone;
  alone.hid.devices.resize(2);
  sorbel_sim::UnplugAfter(*alone.boards[0].model, 3);
  EXPECT_EQ(1, alone.Run({}, 0x500));
  EXPECT_EQ("No Sorbel device is at 9-1.1; none is attached", Lines(alone.out.text).back());
}

TEST(SeveralDevices, ABoardGoneFromItsPlaceIsWrittenAgainFromTheFirstBlock) {
  const struct {
    const char* what;
    std::vector<const char*> args;
    int searches_away;  // searches that find the place empty
    std::vector<unsigned> second_run;
  } cases[] = {
      // Back for the second open of the next attempt, 2000 ms later.
      {"back within the attempt", {}, 1, {0x000, 0x080, 0x100, 0x180, 0x200, 0x280}},
      {"back for a later attempt", {"-d", "9-1.2"}, 3, {0x000, 0x080, 0x100, 0x180, 0x200, 0x280}},
      {"back with --all", {"--all"}, 3, {0x000, 0x080, 0x100, 0x180, 0x200, 0x280}},
  };
  for (const auto& c : cases) {
    Bench bench;
    size_t board = c.args.empty() ? 0 : 1;
    auto& model = *bench.boards[board].model;
    sorbel_sim::UnplugAfter(model, 2);
    int away = 0;
    // Each search after the unplugging finds the place empty, until another
    // board, erased, sits there.
    bench.hid.on_search = [&] {
      if (sorbel_sim::Unplugged(model) && ++away > c.searches_away)
        sorbel_sim::PlugInAnother(model);
    };
    EXPECT_EQ(0, bench.Run(c.args, 0x300)) << c.what << bench.out.text;
    auto blocks = bench.boards[board].BlockAddresses();
    ASSERT_LE(2u, blocks.size()) << c.what;
    EXPECT_EQ(c.second_run, std::vector<unsigned>(blocks.begin() + 2, blocks.end())) << c.what;
    auto flash = sorbel_sim::Flash(model);
    for (unsigned i = 0; i < 0x300; ++i) ASSERT_EQ(i & 0xFF, flash[i]) << c.what << i;
  }
}

TEST(SeveralDevices, ADeviceInUseByAnotherProgramEndsItsRunAtOnce) {
  Bench bench;
  bench.hid.devices[2].claim_result = HidClaimResult::kBusy;
  EXPECT_EQ(1, bench.Run({"-d", "9-1.2"}, 0x300));
  EXPECT_EQ("The Sorbel device at 9-1.2 is in use by another program\n", bench.out.text);
  EXPECT_EQ("---", bench.Boards());
  EXPECT_EQ(1, bench.hid.Count("claim board9-1.2 9-1.2"));
  EXPECT_EQ(bench.hid.Count("open "), bench.hid.Count("close "));
  // --all: the others written, the summary names the one in use.
  Bench all;
  all.hid.devices[2].claim_result = HidClaimResult::kBusy;
  EXPECT_EQ(1, all.Run({"--all"}, 0x300));
  EXPECT_EQ("w-w", all.Boards());
  EXPECT_TRUE(all.out.text.ends_with(
      "Summary: 2 of 3 written\n9-1.1: written\n"
      "9-1.2: The Sorbel device at 9-1.2 is in use by another program\n9-1.3: written\n"))
      << all.out.text;
  // A system that cannot lock at all: written as before.
  Bench unlockable;
  unlockable.hid.devices[2].claim_result = HidClaimResult::kFailed;
  EXPECT_EQ(0, unlockable.Run({"-d", "9-1.2"}, 0x300));
  EXPECT_EQ("-w-", unlockable.Boards());
}

TEST(SeveralDevices, OnlyDevicesListedWithTheBootloadersIdsAreOpened) {
  for (std::vector<const char*> args :
       {std::vector<const char*>{}, {"-d", "9-1.2"}, {"-w"}, {"--all"}, {"--list"}}) {
    Bench bench;
    fake::Device keyboard = fake::SorbelDevice(nullptr, "keyboard");
    keyboard.vendor_id = 0x046D;
    keyboard.product_id = 0xC31C;
    keyboard.place = "9-2";
    keyboard.listed_identity = true;
    bench.hid.devices.insert(bench.hid.devices.begin(), keyboard);
    bench.Run(args, 0x100);
    EXPECT_EQ(0, bench.hid.Count("open keyboard")) << (args.empty() ? "" : args[0]);
  }
}

TEST(SeveralDevices, APlaceIsTakenAsTheSystemNamesIt) {
  const struct {
    const char* typed;
    const char* place;  // null: no place at all
  } cases[] = {
      {"9-1.2", "9-1.2"},
      {" 9-1.2 ", "9-1.2"},
      {"9-1.2\r", "9-1.2"},
      {"\t9-1.2\r\n", "9-1.2"},
      {"9-1.2:1.0", "9-1.2"},
      {"/sys/bus/usb/devices/9-1.2", "9-1.2"},
      {"/sys/bus/usb/devices/9-1.2/", "9-1.2"},
      {"/sys/devices/pci0000:00/0000:00:14.0/usb9/9-1.2/9-1.2:1.0", "9-1.2"},
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)", "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)"},
      {"9-1.2:x", "9-1.2:x"},  // not an interface
      {"", nullptr},
      {" \r", nullptr},
      {"/", nullptr},
  };
  for (const auto& c : cases) {
    std::array<char, kMaxPlaceSize> place{};
    EXPECT_EQ(c.place != nullptr, NormalizePlace(c.typed, place)) << c.typed;
    if (c.place != nullptr) {
      EXPECT_STREQ(c.place, place.data()) << c.typed;
    }
  }
  std::string long_place(kMaxPlaceSize, '1');
  std::array<char, kMaxPlaceSize> place{};
  EXPECT_FALSE(NormalizePlace(long_place, place));
  // Whole runs: the board written; nothing left is a usage error.
  for (const char* typed : {"9-1.2\r", "/sys/bus/usb/devices/9-1.2", "9-1.2:1.0 "}) {
    Bench bench;
    EXPECT_EQ(0, bench.Run({"-d", typed}, 0x100)) << typed;
    EXPECT_EQ("-w-", bench.Boards()) << typed;
  }
  Bench blank;
  EXPECT_EQ(1, blank.Run({"-d", " \r"}, 0x100));
  EXPECT_EQ("usage: hex-upload [-r] <intel-hexfile>\n", blank.out.text);
  // -w names the place it waits for, as the search takes it.
  Bench waiting;
  waiting.hid.hidden_searches = 2;
  EXPECT_EQ(0, waiting.Run({"-w", "-d", "9-1.3\r"}, 0x100));
  EXPECT_TRUE(waiting.out.text.starts_with(
      "Waiting for the Sorbel device at 9-1.3 (press Ctrl+C to stop) ...\n"))
      << waiting.out.text;
  EXPECT_EQ("--w", waiting.Boards());
}

TEST(SeveralDevices, BoardLinesAreWrittenUnderALockOfTheirOwn) {
  // Each line of a board's thread under the lines' lock alone: a slow
  // output must not hold up the other boards' searches.
  struct Watched final : Output {
    const fake::Hid* hid = nullptr;
    int lines = 0, wrong = 0;
    bool summary = false;  // written after the threads have ended
    void Write(std::string_view text) override {
      summary = summary || text.starts_with("Summary");
      if (summary || !text.starts_with("9-1.")) return;
      ++lines;
      wrong += hid->held[HidPlatform::kLines] != 1 || hid->held[HidPlatform::kDevices] != 0;
    }
  } out;
  Bench bench;
  out.hid = &bench.hid;
  TempFile file(HexFile(0, 0x500));
  const char* argv[] = {"hex-upload", "--all", file.path.c_str()};
  EXPECT_EQ(0, RunHexUpload(3, argv, bench.hid, out));
  EXPECT_LT(30, out.lines);
  EXPECT_EQ(0, out.wrong);
}

TEST(SeveralDevices, ListShowsPlacePathProductAndStateAndSendsNothing) {
  Bench bench;
  fake::Device locked = fake::SorbelDevice(nullptr, "locked");
  locked.place = "9-4";
  locked.listed_identity = true;
  locked.open_result = HidOpenResult::kAccessDenied;
  bench.hid.devices.push_back(locked);
  fake::Device unreadable = fake::SorbelDevice(nullptr, "mute");
  unreadable.manufacturer_fails = true;
  bench.hid.devices.push_back(unreadable);
  std::vector<const char*> args = {"hex-upload", "--list"};
  EXPECT_EQ(0, RunHexUpload(2, args.data(), bench.hid, bench.out));
  EXPECT_EQ(
      "9-3\tother\tOther\tother product\n"
      "9-1.1\tboard9-1.1\tSorbel\tready\n"
      "9-1.2\tboard9-1.2\tSorbel\tready\n"
      "9-1.3\tboard9-1.3\tSorbel\tready\n"
      "9-4\tlocked\tSorbel\tno access: the udev rule 70-sorbel-bootloader.rules is missing (see "
      "the README)\n"
      "-\tmute\t-\tstrings unreadable\n",
      bench.out.text);
  EXPECT_EQ("---", bench.Boards());
  EXPECT_EQ(bench.hid.Count("open "), bench.hid.Count("close "));
  // Only a device of other strings: listed, and none of ours.
  bench.hid.devices.resize(1);
  bench.out.text.clear();
  EXPECT_EQ(1, RunHexUpload(2, args.data(), bench.hid, bench.out));
  EXPECT_EQ("9-3\tother\tOther\tother product\nNo Sorbel device is attached.\n", bench.out.text);
}

TEST(SeveralDevices, AllWritesEveryBoardAndNamesEachOneThatFailed) {
  const struct {
    const char* what;
    int failing_board;    // its 2nd block fails once; -1: none
    int unplugged_board;  // pulled out after 3 blocks; -1: none
    int exit_code;
    std::string boards;
    std::string summary;
  } cases[] = {
      {"all well", -1, -1, 0, "www",
       "Summary: 3 of 3 written\n9-1.1: written\n9-1.2: written\n9-1.3: written\n"},
      {"a failed block resumes, a board pulled out", 1, 2, 1, "ww?",
       "Summary: 2 of 3 written\n9-1.1: written\n9-1.2: written\n"
       "9-1.3: Error opening Sorbel device: The specified device was not found\n"},
  };
  for (const auto& c : cases) {
    Bench bench;
    if (c.failing_board >= 0) sorbel_sim::FailBlock(*bench.boards[c.failing_board].model, 2);
    if (c.unplugged_board >= 0) sorbel_sim::UnplugAfter(*bench.boards[c.unplugged_board].model, 3);
    EXPECT_EQ(c.exit_code, bench.Run({"--all"}, 0x500)) << c.what;
    EXPECT_EQ(c.boards, bench.Boards()) << c.what;
    const std::string& text = bench.out.text;
    EXPECT_TRUE(text.starts_with("Writing 3 Sorbel devices at once\n")) << text;
    EXPECT_TRUE(text.ends_with(c.summary)) << text;
    // Every line of a board names it, progress as whole lines by tenths.
    auto lines = Lines(text);
    size_t summary_lines = Lines(c.summary).size();
    for (size_t i = 1; i + summary_lines < lines.size(); ++i)
      EXPECT_TRUE(lines[i].starts_with("9-1.")) << lines[i];
    EXPECT_EQ(std::string::npos, text.find('\r'));
    EXPECT_EQ(10, std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                return line.starts_with("9-1.1: ") && line.find("% written, up to") != line.npos;
              }));
    EXPECT_NE(std::string::npos, text.find("9-1.1: 100% written, up to 0x00500\n"));
    if (c.failing_board >= 0) {
      EXPECT_NE(std::string::npos,
                text.find("9-1.2: Error uploading data block 0x00080: Communication error with "
                          "device\n"));
      EXPECT_NE(std::string::npos,
                text.find("9-1.2: The firmware is written successfully after 1 retries.\n"));
    }
  }
  Bench empty;
  empty.hid.devices.resize(1);
  EXPECT_EQ(1, empty.Run({"--all"}, 16));
  EXPECT_EQ("No Sorbel device is attached.\n", empty.out.text);
}

}  // namespace several
