#include "sim/bootloader/model/bootloader.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using namespace sorbel_sim;

struct Model : ::testing::Test {
  // The model is large (its flash array); keep it off the stack.
  std::unique_ptr<Bootloader> owner = std::make_unique<Bootloader>();
  Bootloader& device = *owner;
  std::vector<std::string> log;

  void SetUp() override {
    device.log = [](void* context, std::string_view line) {
      static_cast<std::vector<std::string>*>(context)->emplace_back(line);
    };
    device.log_context = &log;
    Reset(device, Settings{});
  }
};

std::array<uint8_t, kDataReportSize> Block(uint32_t address, uint8_t fill) {
  std::array<uint8_t, kDataReportSize> report{};
  report[0] = 2;
  report[1] = static_cast<uint8_t>(address);
  report[2] = static_cast<uint8_t>(address >> 8);
  report[3] = static_cast<uint8_t>(address >> 16);
  for (size_t i = 4; i < report.size(); ++i) report[i] = fill;
  return report;
}

TEST_F(Model, InfoReportGivesPageAndFlashSizeLittleEndian) {
  Reset(device, Settings{256, 0x12345});
  std::array<uint8_t, 132> buffer{};
  buffer.fill(0xAA);
  buffer[0] = 1;
  ASSERT_TRUE(GetFeature(device, buffer));
  EXPECT_EQ((std::array<uint8_t, 8>{1, 0x00, 0x01, 0x45, 0x23, 0x01, 0x00, 0xAA}),
            (std::array<uint8_t, 8>{buffer[0], buffer[1], buffer[2], buffer[3], buffer[4],
                                    buffer[5], buffer[6], buffer[7]}));
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ("get 3 7 01 00 01 45 23 01 00", log[0]);
}

TEST_F(Model, InfoReportRefusedForOtherIdsAndShortBuffers) {
  std::array<uint8_t, 132> buffer{};
  buffer[0] = 2;
  EXPECT_FALSE(GetFeature(device, buffer));
  std::array<uint8_t, 6> short_buffer{1};
  EXPECT_FALSE(GetFeature(device, short_buffer));
  EXPECT_TRUE(log.empty());
}

TEST_F(Model, StoresBlocksAtTheirAddressAndKeepsTheRestErased) {
  EXPECT_EQ(32768u, Flash(device).size());
  ASSERT_TRUE(SetFeature(device, Block(0x0180, 0x5A)));
  auto image = Flash(device);
  EXPECT_EQ(0xFF, image[0x017F]);
  EXPECT_EQ(0x5A, image[0x0180]);
  EXPECT_EQ(0x5A, image[0x01FF]);
  EXPECT_EQ(0xFF, image[0x0200]);
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ(0u, log[0].rfind("set 3 132 02 80 01 00 5A 5A", 0));
  EXPECT_EQ(10u + 132 * 3 - 1, log[0].size());
}

TEST_F(Model, RefusesMalformedBlocks) {
  struct Case {
    const char* what;
    std::vector<uint8_t> report;
  };
  auto good = Block(0x0100, 0);
  auto misaligned = Block(0x0140, 0);
  auto last_fits = Block(32768 - 128, 0);
  auto past_end = Block(32768, 0);
  auto far_past_end = Block(0xFFFF80, 0);
  const Case cases[] = {
      {"short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"long",
       [&] {
         std::vector<uint8_t> v(good.begin(), good.end());
         v.push_back(0);
         return v;
       }()},
      {"misaligned", {misaligned.begin(), misaligned.end()}},
      {"past the end", {past_end.begin(), past_end.end()}},
      {"far past the end", {far_past_end.begin(), far_past_end.end()}},
      {"unknown id", {3, 0, 0, 0, 0, 0, 0}},
      {"closing report too long", {1, 0, 0, 0, 0, 0, 0, 0}},
      {"empty", {}},
  };
  for (const auto& c : cases) EXPECT_FALSE(SetFeature(device, c.report)) << c.what;
  EXPECT_TRUE(SetFeature(device, last_fits));
  for (size_t i = 0; i < 32768 - 128; ++i) ASSERT_EQ(0xFF, Flash(device)[i]) << i;
  EXPECT_FALSE(LeftBootloader(device));
}

TEST_F(Model, InjectedFailureHitsTheNthBlockOnce) {
  FailBlock(device, 2);
  EXPECT_TRUE(SetFeature(device, Block(0, 1)));
  EXPECT_FALSE(SetFeature(device, Block(128, 2)));
  EXPECT_EQ(0xFF, Flash(device)[128]);
  EXPECT_TRUE(SetFeature(device, Block(128, 2)));
  EXPECT_EQ(2, Flash(device)[128]);
  EXPECT_EQ(3u, log.size());  // the failed report was received and is logged
}

TEST_F(Model, ClosingReportLeavesTheBootloader) {
  const std::array<uint8_t, 7> closing{1, 0x80, 0x01, 0x00, 0x5A, 0x5A, 0x5A};
  EXPECT_TRUE(SetFeature(device, closing));
  EXPECT_TRUE(LeftBootloader(device));
  EXPECT_EQ("set 3 7 01 80 01 00 5A 5A 5A", log.back());
  // Once left, the bootloader answers nothing.
  EXPECT_FALSE(SetFeature(device, Block(0, 0)));
  std::array<uint8_t, 7> info{1};
  EXPECT_FALSE(GetFeature(device, info));
  Reset(device, Settings{});
  EXPECT_FALSE(LeftBootloader(device));
  EXPECT_TRUE(GetFeature(device, info));
}

// A board plugged in later, at the host's n-th look; written, it leaves the
// bus at the next look only when set to, and a reset forgets both.
TEST_F(Model, AppearsAfterLooksAndLeavesWhenWritten) {
  const std::array<uint8_t, 7> closing{1, 0x80, 0x01, 0x00, 0x5A, 0x5A, 0x5A};
  AppearAfter(device, 2);
  EXPECT_TRUE(Unplugged(device));
  EXPECT_FALSE(Look(device));
  EXPECT_TRUE(Unplugged(device));
  EXPECT_TRUE(Look(device));
  EXPECT_FALSE(Unplugged(device));
  EXPECT_TRUE(SetFeature(device, closing));
  EXPECT_TRUE(Look(device));
  EXPECT_FALSE(Unplugged(device));  // a written board stays unless it leaves when written

  LeaveWhenWritten(device, true);
  EXPECT_TRUE(Look(device));
  EXPECT_TRUE(Unplugged(device));

  Reset(device, Settings{});
  AppearAfter(device, 0);  // at the next look at the earliest
  EXPECT_TRUE(Look(device));
  EXPECT_FALSE(Unplugged(device));
  EXPECT_TRUE(SetFeature(device, closing));
  EXPECT_TRUE(Look(device));
  EXPECT_FALSE(Unplugged(device));
}

TEST_F(Model, FlashSizeIsClampedToTheModelsLimit) {
  Reset(device, Settings{128, 0xFFFFFFFF});
  EXPECT_EQ(kMaxFlashSize, Flash(device).size());
}

TEST_F(Model, ShortInfoReportLeavesTheRestOfTheBufferAsItWas) {
  Reset(device, Settings{256, 0x12345});
  ShortInfoReport(device, 3);
  std::array<uint8_t, 132> buffer{};
  buffer.fill(0xAA);
  buffer[0] = kInfoReportId;
  ASSERT_TRUE(GetFeature(device, buffer));
  EXPECT_EQ(3u, InfoReportLength(device));
  EXPECT_EQ((std::array<uint8_t, 5>{1, 0x00, 0x01, 0xAA, 0xAA}),
            (std::array<uint8_t, 5>{buffer[0], buffer[1], buffer[2], buffer[3], buffer[4]}));
  EXPECT_EQ("get 3 3 01 00 01", log.back());
  // Out of range: cut to one byte at least, seven at most; Reset undoes it.
  ShortInfoReport(device, 0);
  EXPECT_EQ(1u, InfoReportLength(device));
  ShortInfoReport(device, 99);
  EXPECT_EQ(7u, InfoReportLength(device));
  ShortInfoReport(device, 2);
  Reset(device, Settings{});
  EXPECT_EQ(7u, InfoReportLength(device));
}

TEST_F(Model, AnotherBoardAtThePlaceIsErasedAndAnswersAgain) {
  Reset(device, Settings{128, 8192});
  UnplugAfter(device, 1);
  ASSERT_TRUE(SetFeature(device, Block(0x80, 0x5A)));
  EXPECT_TRUE(Unplugged(device));
  EXPECT_FALSE(SetFeature(device, Block(0x100, 0x5A)));
  PlugInAnother(device);
  EXPECT_FALSE(Unplugged(device));
  EXPECT_EQ(0xFF, Flash(device)[0x80]);
  EXPECT_EQ(8192u, Flash(device).size());
  EXPECT_TRUE(SetFeature(device, Block(0x100, 0x5A)));
}

}  // namespace
