#include "erase/firmware_erase.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/erase/fakes.h"

namespace erase {
namespace {

using testing::FakeAdapter;
using testing::FakeConsole;

// The texts as the console receives them in OEM code page 437.
const std::string kBanner =
    "Hilfsprogramm zum L\x94schen (Deaktivieren) der Firmware vom Kelmo Tarnel-Ger\x84t\n"
    "Versionen 1.0 bis 1.4, April 2007\n\n";
const std::string kEndPrompt =
    "\nBeliebige Taste zum Programmende dr\x81"
    "cken ...";
const std::string kDeviceFailed =
    "Fehler beim Ausf\x81hren der Ger\x84testeuerung, Tarnel nicht angesteckt?\n";
const std::string kAlreadyErased =
    "Firmware ist bereits gel\x94scht. Tarnel abziehen und wieder anstecken!\n";
const std::string kErased =
    "Firmware wurde durch \x9A"
    "berschreiben des ersten Bytes gel\x94scht.";

std::string Question(const std::string& hex) {
  return "Firmware im EEPROM des Tarnel jetzt l\x94schen?\n"
         "[Zum Beschreiben des EEPROM wird die kostenlose Entwicklungssoftware von\n"
         "softwaretools.infineon.com ben\x94tigt, davon m.W. das Programm EzMr.exe.]\n"
         "Erstes Byte (0x" +
         hex +
         ") l\x94schen (\x81"
         "berschreiben mit 0xFF)? J/N: ";
}

std::string Lpt(unsigned n) { return "\\\\.\\LPT" + std::to_string(n); }

struct Bench {
  FakeAdapter adapter;
  FakeConsole console;

  explicit Bench(std::uint8_t first_byte = 0xC2, std::string keys = "") {
    adapter.present_names = {Lpt(5)};
    adapter.eeprom_first_byte = first_byte;
    console.keys.assign(keys.begin(), keys.end());
  }
  int Run() { return RunFirmwareErase(adapter, console); }
};

TEST(FirmwareEraseSearch, RunsDownFromLpt8AndTakesTheFirstThatOpens) {
  Bench s;
  s.adapter.present_names = {Lpt(3), Lpt(5)};
  s.console.keys = {'n', ' '};
  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(s.adapter.open_attempts, (std::vector<std::string>{Lpt(8), Lpt(7), Lpt(6), Lpt(5)}));
  EXPECT_EQ(s.adapter.opened, Lpt(5));
  EXPECT_EQ(s.adapter.closes, 1);
}

TEST(FirmwareEraseSearch, NoAdapterAsksToPlugItInAndWaitsForAKey) {
  Bench s(0xC2, "x");
  s.adapter.present_names.clear();
  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(s.adapter.open_attempts.size(), 8u);
  EXPECT_EQ(s.adapter.open_attempts.back(), Lpt(1));
  EXPECT_TRUE(s.adapter.requests.empty());
  EXPECT_EQ(s.adapter.closes, 0);
  EXPECT_EQ(s.console.Text(), kBanner + "Tarnel anstecken, muss LPTx sein!\n" + kEndPrompt + "x\n");
  EXPECT_EQ(s.console.reads, 1);
}

TEST(FirmwareEraseRequests, ReadAndWriteCarryTheirCodesAndBuffers) {
  Bench s(0xC2, "j ");
  s.Run();
  ASSERT_EQ(s.adapter.requests.size(), 2u);
  const auto& read = s.adapter.requests[0];
  EXPECT_EQ(read.code, 0x22228Au);
  EXPECT_EQ(read.input, (std::vector<std::uint8_t>{0, 0}));
  EXPECT_EQ(read.output_passed, (std::vector<std::uint8_t>{0}));  // 0 before the first request
  const auto& write = s.adapter.requests[1];
  EXPECT_EQ(write.code, 0x222289u);
  EXPECT_EQ(write.input, (std::vector<std::uint8_t>{0, 0}));
  EXPECT_EQ(write.output_passed, (std::vector<std::uint8_t>{0xFF}));  // the value to write
  EXPECT_EQ(s.adapter.eeprom_first_byte, 0xFF);
}

struct MarkerCase {
  std::uint8_t first_byte;
  bool asks;
  const char* shown;
};

class FirmwareEraseMarker : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(FirmwareEraseMarker, OnlyTheBootMarkersLeadToTheQuestion) {
  const MarkerCase c = GetParam();
  Bench s(c.first_byte, "n ");
  EXPECT_EQ(s.Run(), 0);
  if (c.asks) {
    EXPECT_EQ(s.console.Text(), kBanner + Question(c.shown) + "n\n" + kEndPrompt + " \n");
  } else {
    EXPECT_EQ(s.console.Text(), kBanner + kAlreadyErased + kEndPrompt + "n\n");
    EXPECT_EQ(s.console.reads, 1);  // only the final key
  }
  EXPECT_EQ(s.adapter.requests.size(), 1u);
  EXPECT_EQ(s.adapter.eeprom_first_byte, c.first_byte);
}

INSTANTIATE_TEST_SUITE_P(
    , FirmwareEraseMarker,
    ::testing::Values(MarkerCase{0xC2, true, "C2"}, MarkerCase{0xB2, true, "B2"},
                      MarkerCase{0xFF, false, ""}, MarkerCase{0xC0, false, ""},
                      MarkerCase{0x00, false, ""}, MarkerCase{0xB3, false, ""}),
    [](const auto& info) { return "byte_" + std::to_string(info.param.first_byte); });

struct KeyCase {
  char key;
  bool erases;
};

class FirmwareEraseAnswer : public ::testing::TestWithParam<KeyCase> {};

TEST_P(FirmwareEraseAnswer, OnlyJAndYErase) {
  const KeyCase c = GetParam();
  Bench s(0xC2, std::string{c.key, 'q'});
  EXPECT_EQ(s.Run(), 0);
  const std::string echo = std::string{c.key, '\n'};
  if (c.erases) {
    EXPECT_EQ(s.console.Text(), kBanner + Question("C2") + echo + kErased + kEndPrompt + "q\n");
    EXPECT_EQ(s.adapter.eeprom_first_byte, 0xFF);
  } else {
    EXPECT_EQ(s.console.Text(), kBanner + Question("C2") + echo + kEndPrompt + "q\n");
    EXPECT_EQ(s.adapter.eeprom_first_byte, 0xC2);
    EXPECT_EQ(s.adapter.requests.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(, FirmwareEraseAnswer,
                         ::testing::Values(KeyCase{'J', true}, KeyCase{'j', true},
                                           KeyCase{'Y', true}, KeyCase{'y', true},
                                           KeyCase{'N', false}, KeyCase{'n', false},
                                           KeyCase{'x', false}, KeyCase{'\r', false},
                                           KeyCase{' ', false}),
                         [](const auto& info) { return "key_" + std::to_string(info.param.key); });

TEST(FirmwareEraseFailure, FailedReadReportsAndEnds) {
  Bench s(0xC2, "j");
  s.adapter.fail_read = true;
  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(s.console.Text(), kBanner + kDeviceFailed + kEndPrompt + "j\n");
  EXPECT_EQ(s.adapter.requests.size(), 1u);
  EXPECT_EQ(s.adapter.closes, 1);
}

TEST(FirmwareEraseFailure, FailedWriteReportsAndEnds) {
  Bench s(0xB2, "Y ");
  s.adapter.fail_write = true;
  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(s.console.Text(),
            kBanner + Question("B2") + "Y\n" + kDeviceFailed + kEndPrompt + " \n");
  EXPECT_EQ(s.adapter.eeprom_first_byte, 0xB2);
  EXPECT_EQ(s.adapter.closes, 1);
}

TEST(FirmwareEraseConsole, EachKeyIsReadRawAndTheModeIsRestored) {
  Bench s(0xC2, "nx");
  const std::uint32_t original = s.console.input_mode;
  s.Run();
  EXPECT_EQ(s.console.modes_at_read, (std::vector<std::uint32_t>{0, 0}));
  EXPECT_EQ(s.console.modes_set, (std::vector<std::uint32_t>{0, original, 0, original}));
  EXPECT_EQ(s.console.input_mode, original);
}

TEST(FirmwareEraseConsole, RedirectedOutputGetsTheSameBytesThroughTheFileWrite) {
  Bench on_console(0xC2, "jx");
  on_console.Run();
  Bench redirected(0xC2, "jx");
  redirected.console.output_console = false;
  redirected.Run();
  EXPECT_TRUE(redirected.console.console_text.empty());
  EXPECT_EQ(redirected.console.file_text, on_console.console.console_text);
}

TEST(FirmwareEraseConsole, WithoutConsoleInputTheAnswerIsNoAndNothingWaits) {
  Bench s(0xC2);
  s.console.input_console = false;
  s.console.output_console = false;
  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(s.console.reads, 0);
  EXPECT_TRUE(s.console.modes_set.empty());
  EXPECT_EQ(s.adapter.eeprom_first_byte, 0xC2);
  EXPECT_EQ(s.adapter.requests.size(), 1u);
  // The lines stay apart, and no key that was never typed is echoed.
  EXPECT_EQ(s.console.file_text, kBanner + Question("C2") + "\n" + kEndPrompt + "\n");
}

TEST(FirmwareEraseConsole, AFailedKeyReadCountsAsNoAndRestoresTheMode) {
  Bench s(0xC2);  // console input, but no key arrives
  const std::uint32_t original = s.console.input_mode;
  s.Run();
  EXPECT_EQ(s.adapter.eeprom_first_byte, 0xC2);
  EXPECT_EQ(s.console.input_mode, original);
  EXPECT_EQ(s.console.Text(), kBanner + Question("C2") + "\n" + kEndPrompt + "\n");
}

TEST(PrintMessage, ConvertsWithThePlatformWhereNoTableFits) {
  FakeConsole console;
  console.code_page = 866;
  PrintMessage(console, "Ger\xE4t %02X", {0xAB});
  EXPECT_EQ(console.console_text, "Ger#t AB");
  EXPECT_EQ(console.platform_conversions, 1);
}

}  // namespace
}  // namespace erase
