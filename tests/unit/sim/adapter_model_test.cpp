#include <gtest/gtest.h>

#include <vector>

#include "sim/adapter/model/adapter.h"

namespace tarnel_sim {
namespace {

Adapter InMode(unsigned mode) {
  Adapter adapter{};
  WriteRegister(adapter, kEcrRegister, static_cast<std::uint8_t>(mode << 5));
  return adapter;
}

TEST(AdapterModel, PowerOnState) {
  Adapter adapter{};
  for (unsigned i = 0; i < kRegisterCount; ++i)
    EXPECT_EQ(ReadRegister(adapter, i), i == kEcrRegister ? 0x01 : 0x00) << "register " << i;
  std::uint8_t eeprom = 0;
  ASSERT_TRUE(ReadEeprom(adapter, 0, eeprom));
  EXPECT_EQ(eeprom, 0xC2);
  EXPECT_EQ(adapter.lpt_number, 2);
  EXPECT_EQ(adapter.eeprom_failure, EepromFailure::kNone);
}

TEST(AdapterModel, PlainRegistersReadBackInEveryMode) {
  for (unsigned mode : {0u, 1u, 2u, 3u, 4u, 6u, 7u}) {
    for (unsigned index : {0u, 2u, 3u, 4u, 5u, 6u, 7u, 9u, 11u, 12u, 13u, 14u, 15u}) {
      Adapter adapter = InMode(mode);
      WriteRegister(adapter, index, static_cast<std::uint8_t>(0xA0 + index));
      EXPECT_EQ(ReadRegister(adapter, index), 0xA0 + index)
          << "mode " << mode << " register " << index;
    }
  }
}

TEST(AdapterModel, StatusRegisterShowsInputLinesAndIgnoresWrites) {
  Adapter adapter{};
  std::array<std::uint8_t, kRegisterCount> values{};
  values[kStatusRegister] = 0x5A;
  ASSERT_TRUE(SetState(adapter, values, 0xC2));
  WriteRegister(adapter, kStatusRegister, 0xFF);
  EXPECT_EQ(ReadRegister(adapter, kStatusRegister), 0x5A);
}

TEST(AdapterModel, EcrFlagBitsIgnoreWrites) {
  struct Case {
    std::uint8_t written;
    std::uint8_t read;
  };
  for (const Case c :
       {Case{0x00, 0x01}, Case{0x03, 0x01}, Case{0x02, 0x01}, Case{0x3C, 0x3D}, Case{0xFF, 0xFD}}) {
    Adapter adapter{};
    WriteRegister(adapter, kEcrRegister, c.written);
    EXPECT_EQ(ReadRegister(adapter, kEcrRegister), c.read) << std::hex << int{c.written};
  }
}

TEST(AdapterModel, ModeFiveIsRefusedAndTheModeStays) {
  for (std::uint8_t written : {std::uint8_t{0xA0}, std::uint8_t{0xA4}, std::uint8_t{0xBF}}) {
    Adapter adapter{};
    WriteRegister(adapter, kEcrRegister, 0x34);  // mode 1, low bits 0x14
    WriteRegister(adapter, kEcrRegister, written);
    EXPECT_EQ(ReadRegister(adapter, kEcrRegister), 0x35);
  }
}

TEST(AdapterModel, ConfigModeReadsCfgAConstantAndCfgBBack) {
  Adapter adapter{};
  WriteRegister(adapter, kFifoRegister, 0x77);
  WriteRegister(adapter, kEcrRegister, 0xE0);
  EXPECT_EQ(ReadRegister(adapter, kFifoRegister), kCfgAValue);
  WriteRegister(adapter, kFifoRegister, 0x55);  // cfgA is read-only
  EXPECT_EQ(ReadRegister(adapter, kFifoRegister), kCfgAValue);
  WriteRegister(adapter, kCfgBRegister, 0x42);
  EXPECT_EQ(ReadRegister(adapter, kCfgBRegister), 0x42);
  WriteRegister(adapter, kEcrRegister, 0x00);
  EXPECT_EQ(ReadRegister(adapter, kFifoRegister), 0x77)
      << "the write to cfgA must not reach register 8";
}

TEST(AdapterModel, TestFifoKeepsBytesInOrderWithFlags) {
  Adapter adapter = InMode(kModeTest);
  EXPECT_EQ(ReadRegister(adapter, kEcrRegister), 0xC1);
  for (unsigned i = 0; i < kFifoCapacity; ++i) {
    WriteRegister(adapter, kFifoRegister, static_cast<std::uint8_t>(0x30 + i));
    EXPECT_EQ(ReadRegister(adapter, kEcrRegister), i + 1 == kFifoCapacity ? 0xC2 : 0xC0) << i;
  }
  WriteRegister(adapter, kFifoRegister, 0x99);  // lost: the FIFO is full
  EXPECT_EQ(PeekRegister(adapter, kFifoRegister), 0x30) << "a peek does not take the byte";
  for (unsigned i = 0; i < kFifoCapacity; ++i)
    EXPECT_EQ(ReadRegister(adapter, kFifoRegister), 0x30 + i) << i;
  EXPECT_EQ(ReadRegister(adapter, kEcrRegister), 0xC1);
}

TEST(AdapterModel, TestFifoWrapsAround) {
  Adapter adapter = InMode(kModeTest);
  std::vector<std::uint8_t> read_back;
  for (unsigned round = 0; round < 3; ++round) {
    for (unsigned i = 0; i < 10; ++i)
      WriteRegister(adapter, kFifoRegister, static_cast<std::uint8_t>(round * 10 + i));
    for (unsigned i = 0; i < 10; ++i) read_back.push_back(ReadRegister(adapter, kFifoRegister));
  }
  for (unsigned i = 0; i < read_back.size(); ++i) EXPECT_EQ(read_back[i], i);
}

TEST(AdapterModel, EcpModePeripheralTakesEachByte) {
  Adapter adapter = InMode(kModeEcp);
  for (std::uint8_t byte = 1; byte <= 20; ++byte) WriteRegister(adapter, kFifoRegister, byte);
  EXPECT_EQ(ReadRegister(adapter, kEcrRegister), 0x61) << "the FIFO stays empty";
  EXPECT_EQ(ReadRegister(adapter, kFifoRegister), 20)
      << "an empty FIFO reads the last byte written";
}

TEST(AdapterModel, ModeChangeEmptiesTheFifo) {
  Adapter adapter = InMode(kModeTest);
  WriteRegister(adapter, kFifoRegister, 0x11);
  WriteRegister(adapter, kEcrRegister, 0xC4);  // same mode, other low bits: bytes stay
  EXPECT_EQ(ReadRegister(adapter, kEcrRegister), 0xC4);
  WriteRegister(adapter, kEcrRegister, 0x00);
  WriteRegister(adapter, kEcrRegister, 0xC0);
  EXPECT_EQ(ReadRegister(adapter, kEcrRegister), 0xC1);
}

TEST(AdapterModel, ByteCommands) {
  Adapter adapter{};
  const std::uint8_t write[] = {0x00, 0xAB};
  CommandResult result = ExecuteCommand(adapter, write);
  EXPECT_TRUE(result.ok);
  EXPECT_FALSE(result.answered);
  const std::uint8_t read[] = {0x10};
  result = ExecuteCommand(adapter, read);
  EXPECT_TRUE(result.ok && result.answered);
  EXPECT_EQ(result.answer, 0xAB);
  const std::uint8_t read_ecr[] = {0x1A};
  EXPECT_EQ(ExecuteCommand(adapter, read_ecr).answer, 0x01);
}

TEST(AdapterModel, MalformedCommandsFailAndChangeNothing) {
  const std::vector<std::vector<std::uint8_t>> commands = {
      {}, {0x02}, {0x12, 0x00}, {0x00, 0x01, 0x02}, {0x20, 0x01}, {0x80}, {0x40, 0x00}, {0xF0}};
  for (const auto& command : commands) {
    Adapter adapter{};
    EXPECT_FALSE(ExecuteCommand(adapter, command).ok)
        << "command of " << command.size() << " bytes";
    EXPECT_EQ(SaveState(adapter), SaveState(Adapter{}));
  }
}

TEST(AdapterModel, EepromFailureSwitch) {
  Adapter adapter{};
  std::uint8_t value = 0;
  adapter.eeprom_failure = EepromFailure::kRead;
  EXPECT_FALSE(ReadEeprom(adapter, 0, value));
  EXPECT_TRUE(WriteEeprom(adapter, 0, 0xFF));
  adapter.eeprom_failure = EepromFailure::kWrite;
  EXPECT_FALSE(WriteEeprom(adapter, 0, 0x00));
  ASSERT_TRUE(ReadEeprom(adapter, 0, value));
  EXPECT_EQ(value, 0xFF) << "a failed write leaves the byte";
  adapter.eeprom_failure = EepromFailure::kNone;
  EXPECT_TRUE(WriteEeprom(adapter, 0, 0xB2));
  ASSERT_TRUE(ReadEeprom(adapter, 0, value));
  EXPECT_EQ(value, 0xB2);
  EXPECT_FALSE(ReadEeprom(adapter, 1, value)) << "only the first byte is modelled";
  EXPECT_FALSE(WriteEeprom(adapter, 1, 0x00));
}

TEST(AdapterModel, PowerOnKeepsTheTestSwitches) {
  Adapter adapter = InMode(kModeTest);
  WriteRegister(adapter, kFifoRegister, 0x11);
  WriteEeprom(adapter, 0, 0xFF);
  adapter.lpt_number = 5;
  adapter.eeprom_failure = EepromFailure::kWrite;
  PowerOn(adapter);
  EXPECT_EQ(ReadRegister(adapter, kEcrRegister), 0x01);
  EXPECT_EQ(adapter.eeprom_first, 0xC2);
  EXPECT_EQ(adapter.lpt_number, 5);
  EXPECT_EQ(adapter.eeprom_failure, EepromFailure::kWrite);
}

TEST(AdapterModel, SetStateEmptiesFifoAndRefusesModeFive) {
  Adapter adapter = InMode(kModeTest);
  WriteRegister(adapter, kFifoRegister, 0x11);
  adapter.answer_pending = true;
  std::array<std::uint8_t, kRegisterCount> values{};
  for (unsigned i = 0; i < kRegisterCount; ++i) values[i] = static_cast<std::uint8_t>(i * 0x11);
  values[kEcrRegister] = 0xA0;
  const SavedState before = SaveState(adapter);
  EXPECT_FALSE(SetState(adapter, values, 0x00));
  EXPECT_EQ(SaveState(adapter), before);

  values[kEcrRegister] = 0xC3;
  ASSERT_TRUE(SetState(adapter, values, 0xB2));
  EXPECT_EQ(ReadRegister(adapter, kEcrRegister), 0xC1) << "flag bits come from the empty FIFO";
  EXPECT_EQ(ReadRegister(adapter, kFifoRegister), 0x88);
  EXPECT_EQ(ReadRegister(adapter, kStatusRegister), 0x11);
  EXPECT_EQ(adapter.eeprom_first, 0xB2);
  EXPECT_FALSE(adapter.answer_pending);
}

TEST(AdapterModel, SavedStateRoundTripAndRejectsDamage) {
  Adapter adapter = InMode(kModeTest);
  for (std::uint8_t byte : {0x21, 0x22, 0x23}) WriteRegister(adapter, kFifoRegister, byte);
  ReadRegister(adapter, kFifoRegister);
  adapter.lpt_number = 7;
  adapter.eeprom_failure = EepromFailure::kRead;
  SetAnimation(adapter, 300);
  AdvanceAnimation(adapter, 0);
  AdvanceAnimation(adapter, 900);
  const SavedState saved = SaveState(adapter);

  Adapter restored{};
  ASSERT_TRUE(RestoreState(restored, saved));
  EXPECT_EQ(SaveState(restored), saved);
  EXPECT_EQ(ReadRegister(restored, kFifoRegister), 0x22);
  AdvanceAnimation(restored, 5000);  // a new clock: the pattern goes on from step 3
  AdvanceAnimation(restored, 5300);
  EXPECT_EQ(restored.animation.step, 4u);

  struct Damage {
    unsigned at;
    std::uint8_t value;
  };
  const unsigned after_fifo = 1 + kRegisterCount + kFifoCapacity;
  for (const Damage d :
       {Damage{0, 9}, Damage{1 + kEcrRegister, 0xA0}, Damage{1 + kEcrRegister, 0xC1},
        Damage{after_fifo, 16}, Damage{after_fifo + 1, 17}, Damage{after_fifo + 3, 3},
        Damage{after_fifo + 5, 2}}) {
    SavedState damaged = saved;
    damaged[d.at] = d.value;
    Adapter target{};
    EXPECT_FALSE(RestoreState(target, damaged)) << "byte " << d.at;
    EXPECT_EQ(SaveState(target), SaveState(Adapter{}));
  }
  Adapter target{};
  EXPECT_FALSE(RestoreState(target, std::span<const std::uint8_t>(saved.data(), saved.size() - 1)));
}

TEST(AdapterModel, AnimationPatternChangesTheLinesAtEveryStep) {
  EXPECT_EQ(AnimationPattern(0).status, 0x18);
  EXPECT_EQ(AnimationPattern(0).data, 0x5A);
  for (std::uint32_t step = 0; step < 600; ++step) {
    const AnimatedLines now = AnimationPattern(step), next = AnimationPattern(step + 1);
    EXPECT_EQ(now.status & 0x07, 0) << step;
    EXPECT_NE(now.status, next.status) << step;
    EXPECT_NE(now.data, next.data) << step;
  }
}

TEST(AdapterModel, AnimationDrivesTheInputLinesAtItsPeriod) {
  Adapter adapter{};
  WriteRegister(adapter, 0, 0x8F);
  adapter.registers[kStatusRegister] = 0x05;
  SetAnimation(adapter, 50);
  const auto status_at = [&](std::uint32_t step) { return AnimationPattern(step).status | 0x05; };
  EXPECT_EQ(ReadRegister(adapter, kStatusRegister), status_at(0))
      << "step 0 at once, bits 2..0 stay";
  EXPECT_EQ(ReadRegister(adapter, 0), 0x8F) << "data lines count only in the reverse direction";
  WriteRegister(adapter, 2, 0x20);
  EXPECT_EQ(ReadRegister(adapter, 0), AnimationPattern(0).data);

  const std::uint32_t start = 0xFFFFFF00;  // the clock wraps meanwhile
  AdvanceAnimation(adapter, start);
  AdvanceAnimation(adapter, start + 49);
  EXPECT_EQ(ReadRegister(adapter, kStatusRegister), status_at(0));
  AdvanceAnimation(adapter, start + 50);
  EXPECT_EQ(ReadRegister(adapter, kStatusRegister), status_at(1));
  AdvanceAnimation(adapter, start + 50 * 7 + 10);
  EXPECT_EQ(ReadRegister(adapter, kStatusRegister), status_at(7));
  EXPECT_EQ(ReadRegister(adapter, 0), AnimationPattern(7).data);

  SetAnimation(adapter, 0);  // off: the port stays as it is
  AdvanceAnimation(adapter, start + 50 * 100);
  EXPECT_EQ(ReadRegister(adapter, kStatusRegister), status_at(7));
  EXPECT_EQ(ReadRegister(adapter, 0), AnimationPattern(7).data);

  std::array<std::uint8_t, kRegisterCount> values{};
  values[0] = 0x44;
  values[2] = 0x20;
  ASSERT_TRUE(SetState(adapter, values, 0xC2));
  EXPECT_EQ(ReadRegister(adapter, 0), 0x44)
      << "a state set by the test drives the data lines again";
  PowerOn(adapter);
  EXPECT_EQ(adapter.animation.period_ms, 0);
}

}  // namespace
}  // namespace tarnel_sim
