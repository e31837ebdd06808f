// --watch: boards taken as they appear, the operator's lines, the CSV log,
// Ctrl+C, and the SHA-256 the log names the file by.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/unit/upload/fake_hid.h"
#include "upload/sha256.h"
#include "upload/upload.h"

namespace {

using namespace hex_upload;

// 256 bytes at address 0: two blocks.
constexpr char kHex[] =
    ":10000000000102030405060708090A0B0C0D0E0F78\n"
    ":00000001FF\n";

using fake::TempFile;

std::string Sha256Hex(std::string_view text) {
  Sha256 hash;
  Begin(hash);
  Add(hash, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  std::array<char, 65> hex;
  FinishHex(hash, hex);
  return hex.data();
}

TEST(Sha256, StandardVectors) {
  struct Case {
    std::string text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the first block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& each : cases) EXPECT_EQ(each.digest, Sha256Hex(each.text)) << each.text.size();
}

// A bench: boards at places, each a model; the watch's system scripted.
struct Bench {
  std::vector<std::unique_ptr<fake::LoggedBootloader>> boards;
  fake::Hid hid;
  fake::WatchSystem system;
  fake::CapturedOutput out;
  TempFile file{kHex};

  Bench() { hid.devices.reserve(8); }  // handles point into the list

  // A board at place, a model of its own, leaving the bus once written.
  fake::Device& Plug(const std::string& place) {
    boards.push_back(std::make_unique<fake::LoggedBootloader>());
    fake::Device device = fake::SorbelDevice(boards.back()->model.get(), "/dev/" + place);
    device.place = place;
    device.leaves_when_written = true;
    hid.devices.push_back(device);
    return hid.devices.back();
  }
  int Run(std::vector<const char*> args, bool with_file = true) {
    args.insert(args.begin(), "hex-upload");
    if (with_file) args.push_back(file.path.c_str());
    return RunHexUpload(static_cast<int>(args.size()), args.data(), hid, out, OpenTextFile,
                        kProduct, &system);
  }
  int Writes(size_t board) const {  // closing reports: complete writes
    int n = 0;
    for (const auto& line : boards[board]->log) n += line.rfind("set 3 7 01", 0) == 0;
    return n;
  }
  int Count(const std::string& needle) const {
    int n = 0;
    for (size_t at = out.text.find(needle); at != std::string::npos;
         at = out.text.find(needle, at + 1))
      ++n;
    return n;
  }
};

TEST(Watch, BadArgumentsGiveTheUsageLineAndTouchNoDevice) {
  const std::vector<std::vector<const char*>> cases = {
      {"--watch", "--all"},
      {"--watch", "--list"},
      {"--watch", "-w"},
      {"--watch", "--count", "0"},
      {"--watch", "--count", "x"},
      {"--watch", "--count", "-1"},
      {"--watch", "--count"},
      {"--watch", "-d", " "},
      {"--watch", "--log", ""},
      {"--count", "3"},
      {"--log", "x.csv"},
      {"-d", "1-1", "-d", "1-2"},
      {"--watch", "--count", "9999999"},
  };
  for (const auto& args : cases) {
    Bench bench;
    bench.Plug("1-1");
    EXPECT_EQ(1, bench.Run(args)) << args[1];
    EXPECT_EQ(0u, bench.out.text.find("usage: ")) << bench.out.text;
    EXPECT_EQ(0, bench.hid.list_count) << args[1];
  }
}

TEST(Watch, NotAnOptionWhereTheSystemCannotWatch) {
  Bench bench;
  bench.Plug("1-1");
  TempFile file{kHex};
  const char* args[] = {"hex-upload", "--watch", file.path.c_str()};
  EXPECT_EQ(1, RunHexUpload(3, args, bench.hid, bench.out));
  EXPECT_EQ(0u, bench.out.text.find("usage: "));
  EXPECT_EQ(0, bench.hid.list_count);
}

TEST(Watch, BoardsThatAppearLaterAreEachWrittenOnce) {
  Bench bench;
  bench.Plug("1-1");
  bench.hid.on_search = [&] {
    if (bench.hid.list_count == 3) bench.Plug("1-2");  // from the third search on
  };
  EXPECT_EQ(0, bench.Run({"--watch", "--count", "2"}));
  EXPECT_EQ(1, bench.Writes(0));
  EXPECT_EQ(1, bench.Writes(1));
  EXPECT_NE(std::string::npos, bench.out.text.find("14:05:07 1-1: writing\n"));
  EXPECT_NE(std::string::npos, bench.out.text.find("14:05:07 1-1: written, 1 attempt, "));
  EXPECT_NE(std::string::npos, bench.out.text.find("1 written, 0 failed\n"));
  EXPECT_NE(std::string::npos, bench.out.text.find("2 written, 0 failed\n"));
  EXPECT_NE(std::string::npos, bench.out.text.find("Summary: 2 written, 0 failed\n"
                                                   "1-1: 1 written, 0 failed\n"
                                                   "1-2: 1 written, 0 failed\n"));
  // Nothing but the search between the polls: every 250 ms.
  EXPECT_GE(bench.hid.Count("sleep 250"), 2);
}

TEST(Watch, AWrittenBoardStillListedIsNotWrittenAgainUntilItLeaves) {
  Bench bench;
  bench.Plug("1-1").leaves_when_written = false;
  // Pulled out after the watch's 4th poll, back (erased, a new board) after its 7th.
  bench.hid.on_search = [&] {
    auto& model = *bench.boards[0]->model;
    if (bench.hid.Count("sleep 250") == 4) model.unplugged = true;
    if (bench.hid.Count("sleep 250") == 7 && model.unplugged) sorbel_sim::PlugInAnother(model);
  };
  EXPECT_EQ(0, bench.Run({"--watch", "--count", "2"}));
  EXPECT_EQ(2, bench.Writes(0));
  EXPECT_GE(bench.hid.Count("sleep 250"), 7);
}

TEST(Watch, AFailedBoardStaysFailedUntilItLeavesTheBus) {
  Bench bench;
  bench.Plug("1-1").leaves_when_written = false;
  auto& model = *bench.boards[0]->model;
  model.closed = true;  // answers no report: every attempt fails
  bench.hid.on_search = [&] {
    if (bench.hid.Count("sleep 250") == 4) model.unplugged = true;
    if (bench.hid.Count("sleep 250") == 7 && model.unplugged)
      sorbel_sim::PlugInAnother(model);  // a good board
  };
  EXPECT_EQ(1, bench.Run({"--watch", "--count", "2"}));
  EXPECT_EQ(1, bench.Writes(0));
  EXPECT_EQ(1, bench.Count("1-1: failed, 10 attempts, ")) << bench.out.text;
  EXPECT_NE(std::string::npos, bench.out.text.find("0 written, 1 failed\n"));
  EXPECT_NE(std::string::npos, bench.out.text.find("Summary: 1 written, 1 failed\n"
                                                   "1-1: 1 written, 1 failed\n"));
}

TEST(Watch, OnlyTheGivenPlacesAreWatched) {
  Bench bench;
  bench.Plug("1-1");
  bench.Plug("1-2");
  bench.Plug("1-3");
  EXPECT_EQ(0,
            bench.Run({"--watch", "-d", "1-3", "-d", "/sys/bus/usb/devices/1-1/", "--count", "2"}));
  EXPECT_EQ(1, bench.Writes(0));
  EXPECT_EQ(0, bench.Writes(1));
  EXPECT_EQ(1, bench.Writes(2));
  EXPECT_NE(std::string::npos, bench.out.text.find("Watching for Sorbel devices at 1-3, 1-1 "));
}

TEST(Watch, FirstCtrlCLetsWritesFinishAndTakesNoNewBoard) {
  Bench bench;
  bench.Plug("1-1");
  bench.system.defer = true;
  bench.system.interrupts = [&](int look) {
    if (look == 3) {
      bench.Plug("1-2");  // comes too late
      return 1;
    }
    if (look == 4) bench.system.RunQueued();  // the write in progress ends
    return look >= 3 ? 1 : 0;
  };
  EXPECT_EQ(0, bench.Run({"--watch"}));
  EXPECT_NE(std::string::npos,
            bench.out.text.find("Taking no new board; waiting for 1 write to finish "
                                "(Ctrl+C again stops at once)\n"));
  EXPECT_EQ(1, bench.Writes(0));
  EXPECT_EQ(0, bench.Writes(1));
  EXPECT_NE(std::string::npos, bench.out.text.find("Summary: 1 written, 0 failed\n"));
}

TEST(Watch, SecondCtrlCEndsAtOnce) {
  Bench bench;
  bench.Plug("1-1");
  bench.system.defer = true;
  bench.system.interrupts = [](int look) { return look >= 4 ? 2 : look >= 3 ? 1 : 0; };
  EXPECT_EQ(1, bench.Run({"--watch"}));
  EXPECT_NE(std::string::npos, bench.out.text.find("Stopped at once; 1 write cut off\n"));
  EXPECT_EQ(0, bench.Writes(0));
  EXPECT_EQ(1, bench.system.ended_with);
  bench.system.queued.clear();  // the program ends: the thread with it
}

// A board that ended since the last look is reported and logged before the
// end; only the write still going on is lost, and the process ends at once.
TEST(Watch, SecondCtrlCLosesNoBoardThatEnded) {
  Bench bench;
  bench.Plug("1-1");
  bench.Plug("1-2");
  bench.system.defer = true;
  bench.system.interrupts = [&](int look) {
    if (look == 4) {
      bench.system.queued.front()();  // 1-1 ends between two looks
      bench.system.queued.erase(bench.system.queued.begin());
    }
    return look >= 4 ? 2 : look >= 3 ? 1 : 0;
  };
  EXPECT_EQ(1, bench.Run({"--watch", "--log", "bench.csv"}));
  EXPECT_EQ(1, bench.system.ended_with);
  EXPECT_EQ(1, bench.Writes(0));
  EXPECT_EQ(0, bench.Writes(1));
  const std::string& text = bench.out.text;
  size_t written = text.find("1-1: written, 1 attempt");
  size_t stopped = text.find("Stopped at once; 1 write cut off\n");
  EXPECT_NE(std::string::npos, written) << text;
  EXPECT_NE(std::string::npos, text.find("1 written, 0 failed\n"));
  EXPECT_LT(written, stopped);
  EXPECT_EQ(std::string::npos, text.find("1-2: written"));
  EXPECT_EQ(2, bench.system.appends);  // the header and 1-1's line
  EXPECT_NE(std::string::npos, bench.system.log.find(",1-1,"));
  EXPECT_EQ(std::string::npos, bench.system.log.find(",1-2,"));
  bench.system.queued.clear();  // the process ends: the thread with it
}

TEST(Watch, CtrlCWithNothingWritingEndsWithTheSummary) {
  Bench bench;
  bench.system.interrupts = [](int look) { return look >= 3 ? 1 : 0; };
  EXPECT_EQ(0, bench.Run({"--watch"}));
  EXPECT_NE(std::string::npos, bench.out.text.find("Summary: 0 written, 0 failed\n"));
}

TEST(Watch, LogGetsAHeaderWhenNewAndALinePerBoard) {
  struct Case {
    std::string before;
    bool header;
  };
  for (const Case& each : {Case{"", true}, Case{"earlier line\n", false}}) {
    Bench bench;
    bench.Plug("1-1");
    bench.Plug("1,2");
    bench.system.log = each.before;
    EXPECT_EQ(0, bench.Run({"--watch", "--count", "2", "--log", "bench.csv"}));
    EXPECT_EQ("bench.csv", bench.system.opened_log);
    std::string digest = Sha256Hex(kHex);
    std::string expected = each.before;
    if (each.header) expected += "time,place,file,sha256,result,attempts,seconds\n";
    for (const char* place : {"1-1", "\"1,2\""})
      expected += std::string("2026-12-09T14:05:07+01:00,") + place + "," + bench.file.path + "," +
                  digest + ",written,1,";
    // The seconds differ with the clock's steps; everything else is fixed.
    std::string log = bench.system.log;
    for (size_t at = log.find(",written,1,"); at != std::string::npos;
         at = log.find(",written,1,", at + 1)) {
      size_t end = log.find('\n', at);
      log.erase(at + 11, end - at - 11);
      log.erase(at + 11, 1);
    }
    EXPECT_EQ(expected, log);
    EXPECT_EQ(each.header ? 3 : 2, bench.system.appends);  // each line written as it ends
  }
}

TEST(Watch, ALogThatCannotBeOpenedEndsBeforeAnyDeviceIsTouched) {
  Bench bench;
  bench.Plug("1-1");
  bench.system.log_opens = false;
  EXPECT_EQ(1, bench.Run({"--watch", "--log", "/nowhere/bench.csv"}));
  EXPECT_EQ("Cannot open the log file /nowhere/bench.csv\n", bench.out.text);
  EXPECT_EQ(0, bench.hid.list_count);
}

TEST(Watch, ABadFileEndsBeforeTheLogIsOpened) {
  Bench bench;
  bench.Plug("1-1");
  EXPECT_EQ(1, bench.Run({"--watch", "--log", "bench.csv", "/nonexistent.hex"}, false));
  EXPECT_EQ("", bench.system.opened_log);
  EXPECT_EQ(0, bench.hid.list_count);
}

TEST(Watch, SecondsAreTheBoardsOwnInTenths) {
  Bench bench;
  bench.Plug("1-1");
  bench.system.step = 1234;  // start and end readings 1.234 s apart
  EXPECT_EQ(0, bench.Run({"--watch", "--count", "1"}));
  EXPECT_NE(std::string::npos, bench.out.text.find("1-1: written, 1 attempt, 1.2 s\n"));
}

// The Windows shell reads the local and the UTC clock; the offset between
// them must hold across a change of day, month and year either way, and in
// zones of half and three quarter hours.
TEST(Watch, UtcOffsetFromTwoReadingsOfOneMoment) {
  struct Case {
    TimeOfDay local, utc;
    int minutes;
  };
  const Case cases[] = {
      {{2026, 12, 9, 20, 47, 5, 0}, {2026, 12, 9, 20, 47, 5, 0}, 0},
      {{2026, 12, 9, 21, 47, 5, 0}, {2026, 12, 9, 20, 47, 5, 0}, 60},
      {{2026, 12, 10, 2, 32, 5, 0}, {2026, 12, 9, 20, 47, 5, 0}, 345},  // into the next day
      {{2026, 12, 9, 17, 17, 5, 0}, {2026, 12, 9, 20, 47, 5, 0}, -210},
      {{2026, 12, 8, 21, 30, 0, 0}, {2026, 12, 9, 1, 0, 0, 0}, -210},  // back to the day before
      {{2026, 3, 1, 1, 0, 0, 0}, {2026, 2, 28, 23, 0, 0, 0}, 120},     // into the next month
      {{2027, 1, 1, 0, 30, 0, 0}, {2026, 12, 31, 23, 30, 0, 0}, 60},   // into the next year
      {{2026, 12, 31, 23, 0, 0, 0}, {2027, 1, 1, 4, 0, 0, 0}, -300},   // back to the year before
      {{2026, 12, 10, 10, 0, 0, 0}, {2026, 12, 9, 20, 0, 0, 0}, 14 * 60},
      {{2026, 12, 9, 8, 0, 0, 0}, {2026, 12, 9, 20, 0, 0, 0}, -12 * 60},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.minutes, UtcOffsetMinutes(c.local, c.utc))
        << c.local.year << "-" << c.local.month << "-" << c.local.day << " " << c.local.hour << ":"
        << c.local.minute;
}

}  // namespace
