// The simulated devices as USB devices: the fault texts, and what each
// request on the wire gets from the models.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "sim/usbip/usb_device.h"

namespace {

using usbip_sim::Outcome;
using usbip_sim::Setup;

struct SpecCase {
  const char* text;
  bool ok;
};

TEST(UsbipDeviceSpec, AcceptsTheFaultsOfEachDeviceAndNothingElse) {
  constexpr std::array<SpecCase, 20> kCases = {{
      {"bootloader", true},
      {"adapter", true},
      {"bootloader:unplug=40", true},
      {"bootloader:stall=info:delay=5", true},
      {"bootloader,hang=block@3", true},
      {"bootloader:info-length=3", true},
      {"bootloader:fail-block=2", true},
      {"adapter:hang=answer", true},
      {"adapter:stall=command@2:unplug=4", true},
      {"keyboard", false},
      {"", false},
      {"bootloader:", false},
      {"bootloader:unplug=0", false},
      {"bootloader:unplug=-1", false},
      {"bootloader:unplug=4x", false},
      {"bootloader:stall=answer", false},
      {"adapter:stall=info", false},
      {"bootloader:hang=block@0", false},
      {"adapter:info-length=3", false},
      {"bootloader:info-length=9999", false},
  }};
  for (const SpecCase& c : kCases) {
    usbip_sim::DeviceSpec spec;
    std::string error;
    EXPECT_EQ(usbip_sim::ParseDeviceSpec(c.text, spec, error), c.ok) << c.text;
    EXPECT_EQ(error.empty(), c.ok) << c.text;
  }
}

usbip_sim::DeviceSpec Spec(const char* text) {
  usbip_sim::DeviceSpec spec;
  std::string error;
  EXPECT_TRUE(usbip_sim::ParseDeviceSpec(text, spec, error)) << error;
  return spec;
}

constexpr Setup GetInfo() { return {0xA1, 0x01, 0x0301, 0, 132}; }
constexpr Setup SetReport(std::uint8_t id, std::uint16_t length) {
  return {0x21, 0x09, static_cast<std::uint16_t>(0x0300 | id), 0, length};
}

std::vector<std::uint8_t> Block(std::uint32_t address) {
  std::vector<std::uint8_t> report(132, 0x5A);
  report[0] = 2;
  report[1] = static_cast<std::uint8_t>(address);
  report[2] = static_cast<std::uint8_t>(address >> 8);
  report[3] = static_cast<std::uint8_t>(address >> 16);
  return report;
}

TEST(UsbipDevice, BootloaderDescriptorsCarryItsIdsAndStrings) {
  auto device = usbip_sim::MakeDevice(Spec("bootloader"), "Tarnel Tools");
  auto reply = usbip_sim::Control(*device, {0x80, 0x06, 0x0100, 0, 64}, {});
  ASSERT_EQ(reply.outcome, Outcome::kDone);
  ASSERT_EQ(reply.data.size(), 18u);
  EXPECT_EQ(reply.data[7], 8);  // low speed: 8-byte control packets
  EXPECT_EQ(reply.data[8] | reply.data[9] << 8, 0x16C0);
  EXPECT_EQ(reply.data[10] | reply.data[11] << 8, 0x05DF);
  // The host asks for the configuration's first 9 bytes, then for all.
  EXPECT_EQ(usbip_sim::Control(*device, {0x80, 0x06, 0x0200, 0, 9}, {}).data.size(), 9u);
  reply = usbip_sim::Control(*device, {0x80, 0x06, 0x0200, 0, 255}, {});
  ASSERT_EQ(reply.data.size(), 34u);
  EXPECT_EQ(reply.data[2], 34);
  EXPECT_EQ(usbip_sim::Control(*device, {0x81, 0x06, 0x2200, 0, 255}, {}).data.size(), 32u);
  reply = usbip_sim::Control(*device, {0x80, 0x06, 0x0302, 0x0409, 255}, {});
  const std::vector<std::uint8_t> sorbel = {14, 3, 'S', 0, 'o', 0, 'r', 0, 'b', 0, 'e', 0, 'l', 0};
  EXPECT_EQ(reply.data, sorbel);
  auto named = usbip_sim::MakeDevice(Spec("bootloader"), "Zü\xF0\x9F\x94\xA7");
  reply = usbip_sim::Control(*named, {0x80, 0x06, 0x0301, 0x0409, 255}, {});
  const std::vector<std::uint8_t> utf16 = {10, 3, 'Z', 0, 0xFC, 0, 0x3D, 0xD8, 0x27, 0xDD};
  EXPECT_EQ(reply.data, utf16);
  EXPECT_EQ(usbip_sim::Control(*device, {0x80, 0x06, 0x0303, 0x0409, 255}, {}).outcome,
            Outcome::kStall);
  EXPECT_EQ(usbip_sim::Control(*device, {0xC0, 0x01, 0, 0, 1}, {}).outcome, Outcome::kStall);
}

TEST(UsbipDevice, FeatureReportsReachTheModel) {
  auto device = usbip_sim::MakeDevice(Spec("bootloader"), "Tarnel Tools");
  auto reply = usbip_sim::Control(*device, GetInfo(), {});
  ASSERT_EQ(reply.outcome, Outcome::kDone);
  const std::vector<std::uint8_t> info = {1, 128, 0, 0, 128, 0, 0};
  EXPECT_EQ(reply.data, info);
  const auto block = Block(256);
  reply = usbip_sim::Control(*device, SetReport(2, 132), block);
  EXPECT_EQ(reply.outcome, Outcome::kDone);
  EXPECT_EQ(reply.accepted, 132u);
  EXPECT_TRUE(reply.flash_changed);
  EXPECT_EQ(reply.flash_address, 256u);
  EXPECT_EQ(sorbel_sim::Flash(*device->bootloader)[256], 0x5A);
  // A report whose first byte is not the id of the request is refused.
  EXPECT_EQ(usbip_sim::Control(*device, SetReport(1, 132), block).outcome, Outcome::kStall);
  const std::vector<std::uint8_t> closing = {1, 0, 0, 0, 0, 0, 0};
  reply = usbip_sim::Control(*device, SetReport(1, 7), closing);
  EXPECT_EQ(reply.outcome, Outcome::kDone);
  EXPECT_TRUE(reply.leave_bus);
}

TEST(UsbipDevice, FaultsOnePerKind) {
  auto stalled = usbip_sim::MakeDevice(Spec("bootloader:stall=info@2"), "T");
  EXPECT_EQ(usbip_sim::Control(*stalled, GetInfo(), {}).outcome, Outcome::kDone);
  EXPECT_EQ(usbip_sim::Control(*stalled, GetInfo(), {}).outcome, Outcome::kStall);
  EXPECT_EQ(usbip_sim::Control(*stalled, GetInfo(), {}).outcome, Outcome::kDone);

  auto hanging = usbip_sim::MakeDevice(Spec("bootloader:hang=block"), "T");
  EXPECT_EQ(usbip_sim::Control(*hanging, SetReport(2, 132), Block(0)).outcome, Outcome::kNever);

  auto short_info = usbip_sim::MakeDevice(Spec("bootloader:info-length=3"), "T");
  EXPECT_EQ(usbip_sim::Control(*short_info, GetInfo(), {}).data.size(), 3u);

  auto slow = usbip_sim::MakeDevice(Spec("bootloader:delay=25"), "T");
  EXPECT_EQ(usbip_sim::Control(*slow, GetInfo(), {}).delay_ms, 25u);

  auto pulled = usbip_sim::MakeDevice(Spec("bootloader:unplug=2"), "T");
  EXPECT_EQ(usbip_sim::Control(*pulled, SetReport(2, 132), Block(0)).outcome, Outcome::kDone);
  auto reply = usbip_sim::Control(*pulled, SetReport(2, 132), Block(128));
  EXPECT_EQ(reply.outcome, Outcome::kGone);
  EXPECT_TRUE(reply.flash_changed);  // the block arrived; its answer did not
  EXPECT_EQ(usbip_sim::Control(*pulled, GetInfo(), {}).outcome, Outcome::kGone);
}

TEST(UsbipDevice, AdapterAnswersReadCommandsOnItsBulkIn) {
  auto device = usbip_sim::MakeDevice(Spec("adapter"), "T");
  EXPECT_EQ(usbip_sim::Transfer(*device, 1, true, {}, 64).outcome, Outcome::kPending);
  const std::vector<std::uint8_t> write = {0x00, 0xA5};
  EXPECT_EQ(usbip_sim::Transfer(*device, 1, false, write, 0).accepted, 2u);
  const std::vector<std::uint8_t> read = {0x10};
  EXPECT_EQ(usbip_sim::Transfer(*device, 1, false, read, 0).outcome, Outcome::kDone);
  auto reply = usbip_sim::Transfer(*device, 1, true, {}, 64);
  ASSERT_EQ(reply.outcome, Outcome::kDone);
  EXPECT_EQ(reply.data, std::vector<std::uint8_t>{0xA5});
  EXPECT_EQ(usbip_sim::Transfer(*device, 2, false, read, 0).outcome, Outcome::kStall);
  const std::vector<std::uint8_t> garbage(3, 0xFF);
  EXPECT_EQ(usbip_sim::Transfer(*device, 1, false, garbage, 0).outcome, Outcome::kStall);

  auto silent = usbip_sim::MakeDevice(Spec("adapter:hang=answer"), "T");
  usbip_sim::Transfer(*silent, 1, false, read, 0);
  EXPECT_EQ(usbip_sim::Transfer(*silent, 1, true, {}, 64).outcome, Outcome::kNever);
}

// The host asks for the device descriptor after a bus reset (the wire
// carries no reset of its own): an answer left unfetched is gone, the
// registers stay.
TEST(UsbipDevice, AdapterEmptiesItsAnswerAtABusReset) {
  auto device = usbip_sim::MakeDevice(Spec("adapter"), "T");
  const std::vector<std::uint8_t> write = {0x00, 0xA5};
  const std::vector<std::uint8_t> read = {0x10};
  usbip_sim::Transfer(*device, 1, false, write, 0);
  usbip_sim::Transfer(*device, 1, false, read, 0);
  // (request type, request, value, the answer stays)
  struct Case {
    usbip_sim::Setup setup;
    bool kept;
  };
  const std::array<Case, 4> cases = {{
      {{0x80, 0x06, 0x0200, 0, 9}, true},        // configuration descriptor
      {{0x80, 0x06, 0x0302, 0x409, 255}, true},  // a string
      {{0x00, 0x09, 1, 0, 0}, true},             // SET_CONFIGURATION
      {{0x80, 0x06, 0x0100, 0, 64}, false},      // device descriptor: after a reset
  }};
  for (const Case& c : cases) {
    EXPECT_EQ(usbip_sim::Control(*device, c.setup, {}).outcome, Outcome::kDone);
    EXPECT_EQ(device->adapter.answer_pending, c.kept) << c.setup.value;
  }
  EXPECT_EQ(device->descriptor_asks, 1);
  EXPECT_EQ(usbip_sim::Transfer(*device, 1, true, {}, 64).outcome, Outcome::kPending);
  usbip_sim::Transfer(*device, 1, false, read, 0);
  EXPECT_EQ(usbip_sim::Transfer(*device, 1, true, {}, 64).data, std::vector<std::uint8_t>{0xA5});
}

}  // namespace
