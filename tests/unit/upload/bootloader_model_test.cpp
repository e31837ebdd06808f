#include "bootloader_model.h"

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
        reset(device, Settings{});
    }
};

std::array<uint8_t, kDataReportSize> block(uint32_t address, uint8_t fill) {
    std::array<uint8_t, kDataReportSize> report{};
    report[0] = 2;
    report[1] = static_cast<uint8_t>(address);
    report[2] = static_cast<uint8_t>(address >> 8);
    report[3] = static_cast<uint8_t>(address >> 16);
    for (size_t i = 4; i < report.size(); ++i)
        report[i] = fill;
    return report;
}

TEST_F(Model, InfoReportGivesPageAndFlashSizeLittleEndian) {
    reset(device, Settings{256, 0x12345});
    std::array<uint8_t, 132> buffer{};
    buffer.fill(0xAA);
    buffer[0] = 1;
    ASSERT_TRUE(get_feature(device, buffer));
    EXPECT_EQ((std::array<uint8_t, 8>{1, 0x00, 0x01, 0x45, 0x23, 0x01, 0x00, 0xAA}),
              (std::array<uint8_t, 8>{buffer[0], buffer[1], buffer[2], buffer[3], buffer[4],
                                      buffer[5], buffer[6], buffer[7]}));
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("get 3 7 01 00 01 45 23 01 00", log[0]);
}

TEST_F(Model, InfoReportRefusedForOtherIdsAndShortBuffers) {
    std::array<uint8_t, 132> buffer{};
    buffer[0] = 2;
    EXPECT_FALSE(get_feature(device, buffer));
    std::array<uint8_t, 6> short_buffer{1};
    EXPECT_FALSE(get_feature(device, short_buffer));
    EXPECT_TRUE(log.empty());
}

TEST_F(Model, StoresBlocksAtTheirAddressAndKeepsTheRestErased) {
    EXPECT_EQ(32768u, flash(device).size());
    ASSERT_TRUE(set_feature(device, block(0x0180, 0x5A)));
    auto image = flash(device);
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
    auto good = block(0x0100, 0);
    auto misaligned = block(0x0140, 0);
    auto last_fits = block(32768 - 128, 0);
    auto past_end = block(32768, 0);
    auto far_past_end = block(0xFFFF80, 0);
    const Case cases[] = {
        {"short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"long", [&] { std::vector<uint8_t> v(good.begin(), good.end()); v.push_back(0); return v; }()},
        {"misaligned", {misaligned.begin(), misaligned.end()}},
        {"past the end", {past_end.begin(), past_end.end()}},
        {"far past the end", {far_past_end.begin(), far_past_end.end()}},
        {"unknown id", {3, 0, 0, 0, 0, 0, 0}},
        {"closing report too long", {1, 0, 0, 0, 0, 0, 0, 0}},
        {"empty", {}},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(set_feature(device, c.report)) << c.what;
    EXPECT_TRUE(set_feature(device, last_fits));
    for (size_t i = 0; i < 32768 - 128; ++i)
        ASSERT_EQ(0xFF, flash(device)[i]) << i;
    EXPECT_FALSE(left_bootloader(device));
}

TEST_F(Model, InjectedFailureHitsTheNthBlockOnce) {
    fail_block(device, 2);
    EXPECT_TRUE(set_feature(device, block(0, 1)));
    EXPECT_FALSE(set_feature(device, block(128, 2)));
    EXPECT_EQ(0xFF, flash(device)[128]);
    EXPECT_TRUE(set_feature(device, block(128, 2)));
    EXPECT_EQ(2, flash(device)[128]);
    EXPECT_EQ(3u, log.size());  // the failed report was received and is logged
}

TEST_F(Model, ClosingReportLeavesTheBootloader) {
    const std::array<uint8_t, 7> closing{1, 0x80, 0x01, 0x00, 0x5A, 0x5A, 0x5A};
    EXPECT_TRUE(set_feature(device, closing));
    EXPECT_TRUE(left_bootloader(device));
    EXPECT_EQ("set 3 7 01 80 01 00 5A 5A 5A", log.back());
    // Once left, the bootloader answers nothing.
    EXPECT_FALSE(set_feature(device, block(0, 0)));
    std::array<uint8_t, 7> info{1};
    EXPECT_FALSE(get_feature(device, info));
    reset(device, Settings{});
    EXPECT_FALSE(left_bootloader(device));
    EXPECT_TRUE(get_feature(device, info));
}

TEST_F(Model, FlashSizeIsClampedToTheModelsLimit) {
    reset(device, Settings{128, 0xFFFFFFFF});
    EXPECT_EQ(kMaxFlashSize, flash(device).size());
}

}  // namespace
