#include <gtest/gtest.h>

#include <vector>

#include "model/adapter.hpp"

namespace tarnel_sim {
namespace {

Adapter in_mode(unsigned mode) {
  Adapter adapter{};
  write_register(adapter, ecr_register, static_cast<std::uint8_t>(mode << 5));
  return adapter;
}

TEST(AdapterModel, PowerOnState) {
  Adapter adapter{};
  for (unsigned i = 0; i < register_count; ++i)
    EXPECT_EQ(read_register(adapter, i), i == ecr_register ? 0x01 : 0x00) << "register " << i;
  std::uint8_t eeprom = 0;
  ASSERT_TRUE(read_eeprom(adapter, 0, eeprom));
  EXPECT_EQ(eeprom, 0xC2);
  EXPECT_EQ(adapter.lpt_number, 2);
  EXPECT_EQ(adapter.eeprom_failure, EepromFailure::none);
}

TEST(AdapterModel, PlainRegistersReadBackInEveryMode) {
  for (unsigned mode : {0u, 1u, 2u, 3u, 4u, 6u, 7u}) {
    for (unsigned index : {0u, 2u, 3u, 4u, 5u, 6u, 7u, 9u, 11u, 12u, 13u, 14u, 15u}) {
      Adapter adapter = in_mode(mode);
      write_register(adapter, index, static_cast<std::uint8_t>(0xA0 + index));
      EXPECT_EQ(read_register(adapter, index), 0xA0 + index) << "mode " << mode << " register " << index;
    }
  }
}

TEST(AdapterModel, StatusRegisterShowsInputLinesAndIgnoresWrites) {
  Adapter adapter{};
  std::array<std::uint8_t, register_count> values{};
  values[status_register] = 0x5A;
  ASSERT_TRUE(set_state(adapter, values, 0xC2));
  write_register(adapter, status_register, 0xFF);
  EXPECT_EQ(read_register(adapter, status_register), 0x5A);
}

TEST(AdapterModel, EcrFlagBitsIgnoreWrites) {
  struct Case {
    std::uint8_t written;
    std::uint8_t read;
  };
  for (const Case c : {Case{0x00, 0x01}, Case{0x03, 0x01}, Case{0x02, 0x01}, Case{0x3C, 0x3D}, Case{0xFF, 0xFD}}) {
    Adapter adapter{};
    write_register(adapter, ecr_register, c.written);
    EXPECT_EQ(read_register(adapter, ecr_register), c.read) << std::hex << int{c.written};
  }
}

TEST(AdapterModel, ModeFiveIsRefusedAndTheModeStays) {
  for (std::uint8_t written : {std::uint8_t{0xA0}, std::uint8_t{0xA4}, std::uint8_t{0xBF}}) {
    Adapter adapter{};
    write_register(adapter, ecr_register, 0x34);  // mode 1, low bits 0x14
    write_register(adapter, ecr_register, written);
    EXPECT_EQ(read_register(adapter, ecr_register), 0x35);
  }
}

TEST(AdapterModel, ConfigModeReadsCfgAConstantAndCfgBBack) {
  Adapter adapter{};
  write_register(adapter, fifo_register, 0x77);
  write_register(adapter, ecr_register, 0xE0);
  EXPECT_EQ(read_register(adapter, fifo_register), cfg_a_value);
  write_register(adapter, fifo_register, 0x55);  // cfgA is read-only
  EXPECT_EQ(read_register(adapter, fifo_register), cfg_a_value);
  write_register(adapter, cfg_b_register, 0x42);
  EXPECT_EQ(read_register(adapter, cfg_b_register), 0x42);
  write_register(adapter, ecr_register, 0x00);
  EXPECT_EQ(read_register(adapter, fifo_register), 0x77) << "the write to cfgA must not reach register 8";
}

TEST(AdapterModel, TestFifoKeepsBytesInOrderWithFlags) {
  Adapter adapter = in_mode(mode_test);
  EXPECT_EQ(read_register(adapter, ecr_register), 0xC1);
  for (unsigned i = 0; i < fifo_capacity; ++i) {
    write_register(adapter, fifo_register, static_cast<std::uint8_t>(0x30 + i));
    EXPECT_EQ(read_register(adapter, ecr_register), i + 1 == fifo_capacity ? 0xC2 : 0xC0) << i;
  }
  write_register(adapter, fifo_register, 0x99);  // lost: the FIFO is full
  EXPECT_EQ(peek_register(adapter, fifo_register), 0x30) << "a peek does not take the byte";
  for (unsigned i = 0; i < fifo_capacity; ++i)
    EXPECT_EQ(read_register(adapter, fifo_register), 0x30 + i) << i;
  EXPECT_EQ(read_register(adapter, ecr_register), 0xC1);
}

TEST(AdapterModel, TestFifoWrapsAround) {
  Adapter adapter = in_mode(mode_test);
  std::vector<std::uint8_t> read_back;
  for (unsigned round = 0; round < 3; ++round) {
    for (unsigned i = 0; i < 10; ++i) write_register(adapter, fifo_register, static_cast<std::uint8_t>(round * 10 + i));
    for (unsigned i = 0; i < 10; ++i) read_back.push_back(read_register(adapter, fifo_register));
  }
  for (unsigned i = 0; i < read_back.size(); ++i) EXPECT_EQ(read_back[i], i);
}

TEST(AdapterModel, EcpModePeripheralTakesEachByte) {
  Adapter adapter = in_mode(mode_ecp);
  for (std::uint8_t byte = 1; byte <= 20; ++byte) write_register(adapter, fifo_register, byte);
  EXPECT_EQ(read_register(adapter, ecr_register), 0x61) << "the FIFO stays empty";
  EXPECT_EQ(read_register(adapter, fifo_register), 20) << "an empty FIFO reads the last byte written";
}

TEST(AdapterModel, ModeChangeEmptiesTheFifo) {
  Adapter adapter = in_mode(mode_test);
  write_register(adapter, fifo_register, 0x11);
  write_register(adapter, ecr_register, 0xC4);  // same mode, other low bits: bytes stay
  EXPECT_EQ(read_register(adapter, ecr_register), 0xC4);
  write_register(adapter, ecr_register, 0x00);
  write_register(adapter, ecr_register, 0xC0);
  EXPECT_EQ(read_register(adapter, ecr_register), 0xC1);
}

TEST(AdapterModel, ByteCommands) {
  Adapter adapter{};
  const std::uint8_t write[] = {0x00, 0xAB};
  CommandResult result = execute_command(adapter, write);
  EXPECT_TRUE(result.ok);
  EXPECT_FALSE(result.answered);
  const std::uint8_t read[] = {0x10};
  result = execute_command(adapter, read);
  EXPECT_TRUE(result.ok && result.answered);
  EXPECT_EQ(result.answer, 0xAB);
  const std::uint8_t read_ecr[] = {0x1A};
  EXPECT_EQ(execute_command(adapter, read_ecr).answer, 0x01);
}

TEST(AdapterModel, MalformedCommandsFailAndChangeNothing) {
  const std::vector<std::vector<std::uint8_t>> commands = {
      {}, {0x02}, {0x12, 0x00}, {0x00, 0x01, 0x02}, {0x20, 0x01}, {0x80}, {0x40, 0x00}, {0xF0}};
  for (const auto& command : commands) {
    Adapter adapter{};
    EXPECT_FALSE(execute_command(adapter, command).ok) << "command of " << command.size() << " bytes";
    EXPECT_EQ(save_state(adapter), save_state(Adapter{}));
  }
}

TEST(AdapterModel, EepromFailureSwitch) {
  Adapter adapter{};
  std::uint8_t value = 0;
  adapter.eeprom_failure = EepromFailure::read;
  EXPECT_FALSE(read_eeprom(adapter, 0, value));
  EXPECT_TRUE(write_eeprom(adapter, 0, 0xFF));
  adapter.eeprom_failure = EepromFailure::write;
  EXPECT_FALSE(write_eeprom(adapter, 0, 0x00));
  ASSERT_TRUE(read_eeprom(adapter, 0, value));
  EXPECT_EQ(value, 0xFF) << "a failed write leaves the byte";
  adapter.eeprom_failure = EepromFailure::none;
  EXPECT_TRUE(write_eeprom(adapter, 0, 0xB2));
  ASSERT_TRUE(read_eeprom(adapter, 0, value));
  EXPECT_EQ(value, 0xB2);
  EXPECT_FALSE(read_eeprom(adapter, 1, value)) << "only the first byte is modelled";
  EXPECT_FALSE(write_eeprom(adapter, 1, 0x00));
}

TEST(AdapterModel, PowerOnKeepsTheTestSwitches) {
  Adapter adapter = in_mode(mode_test);
  write_register(adapter, fifo_register, 0x11);
  write_eeprom(adapter, 0, 0xFF);
  adapter.lpt_number = 5;
  adapter.eeprom_failure = EepromFailure::write;
  power_on(adapter);
  EXPECT_EQ(read_register(adapter, ecr_register), 0x01);
  EXPECT_EQ(adapter.eeprom_first, 0xC2);
  EXPECT_EQ(adapter.lpt_number, 5);
  EXPECT_EQ(adapter.eeprom_failure, EepromFailure::write);
}

TEST(AdapterModel, SetStateEmptiesFifoAndRefusesModeFive) {
  Adapter adapter = in_mode(mode_test);
  write_register(adapter, fifo_register, 0x11);
  adapter.answer_pending = true;
  std::array<std::uint8_t, register_count> values{};
  for (unsigned i = 0; i < register_count; ++i) values[i] = static_cast<std::uint8_t>(i * 0x11);
  values[ecr_register] = 0xA0;
  const SavedState before = save_state(adapter);
  EXPECT_FALSE(set_state(adapter, values, 0x00));
  EXPECT_EQ(save_state(adapter), before);

  values[ecr_register] = 0xC3;
  ASSERT_TRUE(set_state(adapter, values, 0xB2));
  EXPECT_EQ(read_register(adapter, ecr_register), 0xC1) << "flag bits come from the empty FIFO";
  EXPECT_EQ(read_register(adapter, fifo_register), 0x88);
  EXPECT_EQ(read_register(adapter, status_register), 0x11);
  EXPECT_EQ(adapter.eeprom_first, 0xB2);
  EXPECT_FALSE(adapter.answer_pending);
}

TEST(AdapterModel, SavedStateRoundTripAndRejectsDamage) {
  Adapter adapter = in_mode(mode_test);
  for (std::uint8_t byte : {0x21, 0x22, 0x23}) write_register(adapter, fifo_register, byte);
  read_register(adapter, fifo_register);
  adapter.lpt_number = 7;
  adapter.eeprom_failure = EepromFailure::read;
  SetAnimation(adapter, 300);
  AdvanceAnimation(adapter, 0);
  AdvanceAnimation(adapter, 900);
  const SavedState saved = save_state(adapter);

  Adapter restored{};
  ASSERT_TRUE(restore_state(restored, saved));
  EXPECT_EQ(save_state(restored), saved);
  EXPECT_EQ(read_register(restored, fifo_register), 0x22);
  AdvanceAnimation(restored, 5000);  // a new clock: the pattern goes on from step 3
  AdvanceAnimation(restored, 5300);
  EXPECT_EQ(restored.animation.step, 4u);

  struct Damage {
    unsigned at;
    std::uint8_t value;
  };
  const unsigned after_fifo = 1 + register_count + fifo_capacity;
  for (const Damage d : {Damage{0, 9}, Damage{1 + ecr_register, 0xA0}, Damage{1 + ecr_register, 0xC1},
                         Damage{after_fifo, 16}, Damage{after_fifo + 1, 17}, Damage{after_fifo + 3, 3},
                         Damage{after_fifo + 5, 2}}) {
    SavedState damaged = saved;
    damaged[d.at] = d.value;
    Adapter target{};
    EXPECT_FALSE(restore_state(target, damaged)) << "byte " << d.at;
    EXPECT_EQ(save_state(target), save_state(Adapter{}));
  }
  Adapter target{};
  EXPECT_FALSE(restore_state(target, std::span<const std::uint8_t>(saved.data(), saved.size() - 1)));
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
  write_register(adapter, 0, 0x8F);
  adapter.registers[status_register] = 0x05;
  SetAnimation(adapter, 50);
  const auto status_at = [&](std::uint32_t step) { return AnimationPattern(step).status | 0x05; };
  EXPECT_EQ(read_register(adapter, status_register), status_at(0))
      << "step 0 at once, bits 2..0 stay";
  EXPECT_EQ(read_register(adapter, 0), 0x8F) << "data lines count only in the reverse direction";
  write_register(adapter, 2, 0x20);
  EXPECT_EQ(read_register(adapter, 0), AnimationPattern(0).data);

  const std::uint32_t start = 0xFFFFFF00;  // the clock wraps meanwhile
  AdvanceAnimation(adapter, start);
  AdvanceAnimation(adapter, start + 49);
  EXPECT_EQ(read_register(adapter, status_register), status_at(0));
  AdvanceAnimation(adapter, start + 50);
  EXPECT_EQ(read_register(adapter, status_register), status_at(1));
  AdvanceAnimation(adapter, start + 50 * 7 + 10);
  EXPECT_EQ(read_register(adapter, status_register), status_at(7));
  EXPECT_EQ(read_register(adapter, 0), AnimationPattern(7).data);

  SetAnimation(adapter, 0);  // off: the port stays as it is
  AdvanceAnimation(adapter, start + 50 * 100);
  EXPECT_EQ(read_register(adapter, status_register), status_at(7));
  EXPECT_EQ(read_register(adapter, 0), AnimationPattern(7).data);

  std::array<std::uint8_t, register_count> values{};
  values[0] = 0x44;
  values[2] = 0x20;
  ASSERT_TRUE(set_state(adapter, values, 0xC2));
  EXPECT_EQ(read_register(adapter, 0), 0x44)
      << "a state set by the test drives the data lines again";
  power_on(adapter);
  EXPECT_EQ(adapter.animation.period_ms, 0);
}

}  // namespace
}  // namespace tarnel_sim
