#include "adapter.hpp"

namespace tarnel_sim {
namespace {

constexpr bool fifo_empty(const Fifo& fifo) { return fifo.count == 0; }
constexpr bool fifo_full(const Fifo& fifo) { return fifo.count == fifo_capacity; }

void fifo_clear(Fifo& fifo) { fifo = Fifo{}; }

void fifo_push(Fifo& fifo, std::uint8_t value) {
  if (fifo_full(fifo)) return;  // like the hardware: a byte written to a full FIFO is lost
  fifo.bytes[(fifo.head + fifo.count) % fifo_capacity] = value;
  ++fifo.count;
}

std::uint8_t fifo_pop(Fifo& fifo) {
  const std::uint8_t value = fifo.bytes[fifo.head];
  fifo.head = static_cast<std::uint8_t>((fifo.head + 1) % fifo_capacity);
  --fifo.count;
  return value;
}

std::uint8_t ecr_value(const Adapter& adapter) {
  std::uint8_t flags = 0;
  if (fifo_full(adapter.fifo)) flags |= ecr_fifo_full;
  if (fifo_empty(adapter.fifo)) flags |= ecr_fifo_empty;
  return static_cast<std::uint8_t>((adapter.registers[ecr_register] & ~ecr_flag_bits) | flags);
}

void write_ecr(Adapter& adapter, std::uint8_t value) {
  const unsigned mode = value >> 5;
  if (mode == mode_reserved) return;  // refused: the port stays in its mode
  // Bytes waiting in a FIFO do not survive a change of mode.
  if (mode != ecr_mode(adapter)) fifo_clear(adapter.fifo);
  adapter.registers[ecr_register] = static_cast<std::uint8_t>(value & ~ecr_flag_bits);
}

// Register 8 by mode: cfgA (read-only) in mode 7, the FIFO in modes 3 and 6,
// a plain register elsewhere. An empty FIFO reads as the last byte written.
void write_fifo_register(Adapter& adapter, std::uint8_t value) {
  switch (ecr_mode(adapter)) {
    case mode_config:
      return;
    case mode_test:
      fifo_push(adapter.fifo, value);
      break;
    default:  // mode 3: the peripheral takes each byte at once
      break;
  }
  adapter.registers[fifo_register] = value;
}

}  // namespace

void power_on(Adapter& adapter) {
  Adapter fresh{};
  fresh.lpt_number = adapter.lpt_number;
  fresh.eeprom_failure = adapter.eeprom_failure;
  adapter = fresh;
}

namespace {

void ApplyAnimationStep(Adapter& adapter, std::uint32_t step) {
  adapter.animation.step = step;
  const AnimatedLines lines = AnimationPattern(step);
  adapter.registers[status_register] =
      static_cast<std::uint8_t>((adapter.registers[status_register] & 0x07) | lines.status);
}

constexpr unsigned kControlRegister = 2;
constexpr std::uint8_t kReverseDirection = 0x20;  // control bit 5

}  // namespace

void SetAnimation(Adapter& adapter, std::uint16_t period_ms) {
  Animation& animation = adapter.animation;
  animation.period_ms = period_ms;
  if (period_ms == 0) return;
  animation.clock_started = false;
  animation.start_step = 0;
  animation.drives_data = true;
  ApplyAnimationStep(adapter, 0);
}

void AdvanceAnimation(Adapter& adapter, std::uint32_t now_ms) {
  Animation& animation = adapter.animation;
  if (animation.period_ms == 0) return;
  if (!animation.clock_started) {
    animation.clock_started = true;
    animation.start_ms = now_ms;
    animation.start_step = animation.step;
    return;
  }
  const std::uint32_t step =
      animation.start_step + (now_ms - animation.start_ms) / animation.period_ms;
  if (step != animation.step) ApplyAnimationStep(adapter, step);
}

std::uint8_t peek_register(const Adapter& adapter, unsigned index) {
  if (index >= register_count) return 0;
  if (index == ecr_register) return ecr_value(adapter);
  if (index == data_register && adapter.animation.drives_data &&
      (adapter.registers[kControlRegister] & kReverseDirection) != 0)
    return AnimationPattern(adapter.animation.step).data;
  if (index == fifo_register) {
    const unsigned mode = ecr_mode(adapter);
    if (mode == mode_config) return cfg_a_value;
    if (mode == mode_test && !fifo_empty(adapter.fifo)) return adapter.fifo.bytes[adapter.fifo.head];
  }
  return adapter.registers[index];
}

std::uint8_t read_register(Adapter& adapter, unsigned index) {
  if (index == fifo_register && ecr_mode(adapter) == mode_test && !fifo_empty(adapter.fifo))
    return fifo_pop(adapter.fifo);
  return peek_register(adapter, index);
}

void write_register(Adapter& adapter, unsigned index, std::uint8_t value) {
  if (index < register_count) {
    WriteLog& log = adapter.write_log;
    log.entries[log.total % kWriteLogSize] = {static_cast<std::uint8_t>(index), value};
    ++log.total;
  }
  switch (index) {
    case status_register:
      return;  // input lines: writes do not reach them
    case ecr_register:
      write_ecr(adapter, value);
      return;
    case fifo_register:
      write_fifo_register(adapter, value);
      return;
    default:
      if (index < register_count) adapter.registers[index] = value;
  }
}

bool set_state(Adapter& adapter, std::span<const std::uint8_t, register_count> values,
               std::uint8_t eeprom_first) {
  if ((values[ecr_register] >> 5) == mode_reserved) return false;
  for (unsigned i = 0; i < register_count; ++i) adapter.registers[i] = values[i];
  adapter.registers[ecr_register] = static_cast<std::uint8_t>(values[ecr_register] & ~ecr_flag_bits);
  fifo_clear(adapter.fifo);
  adapter.answer_pending = false;
  adapter.eeprom_first = eeprom_first;
  adapter.animation.drives_data = false;
  return true;
}

CommandResult execute_command(Adapter& adapter, std::span<const std::uint8_t> command) {
  constexpr std::uint8_t read_flag = 0x10;
  if (command.empty() || (command[0] & 0xE0) != 0) return {};
  const unsigned index = command[0] & 0x0F;
  const bool is_read = (command[0] & read_flag) != 0;
  if (is_read) {
    if (command.size() != 1) return {};
    return {true, true, read_register(adapter, index)};
  }
  if (command.size() != 2) return {};
  write_register(adapter, index, command[1]);
  return {true, false, 0};
}

namespace {
constexpr std::uint8_t saved_state_version = 2;
}

SavedState save_state(const Adapter& adapter) {
  SavedState saved{};
  unsigned at = 0;
  saved[at++] = saved_state_version;
  for (std::uint8_t value : adapter.registers) saved[at++] = value;
  for (std::uint8_t value : adapter.fifo.bytes) saved[at++] = value;
  saved[at++] = adapter.fifo.head;
  saved[at++] = adapter.fifo.count;
  saved[at++] = adapter.eeprom_first;
  saved[at++] = static_cast<std::uint8_t>(adapter.eeprom_failure);
  saved[at++] = adapter.lpt_number;
  saved[at++] = adapter.answer_pending ? 1 : 0;
  saved[at++] = adapter.answer;
  const Animation& animation = adapter.animation;
  saved[at++] = static_cast<std::uint8_t>(animation.period_ms);
  saved[at++] = static_cast<std::uint8_t>(animation.period_ms >> 8);
  for (unsigned shift = 0; shift < 32; shift += 8)
    saved[at++] = static_cast<std::uint8_t>(animation.step >> shift);
  saved[at++] = animation.drives_data ? 1 : 0;
  return saved;
}

bool restore_state(Adapter& adapter, std::span<const std::uint8_t> saved) {
  if (saved.size() != saved_state_size || saved[0] != saved_state_version) return false;
  Adapter restored{};
  unsigned at = 1;
  for (std::uint8_t& value : restored.registers) value = saved[at++];
  for (std::uint8_t& value : restored.fifo.bytes) value = saved[at++];
  restored.fifo.head = saved[at++];
  restored.fifo.count = saved[at++];
  restored.eeprom_first = saved[at++];
  const std::uint8_t failure = saved[at++];
  restored.lpt_number = saved[at++];
  const std::uint8_t pending = saved[at++];
  restored.answer = saved[at++];
  Animation& animation = restored.animation;
  animation.period_ms = static_cast<std::uint16_t>(saved[at] | saved[at + 1] << 8);
  at += 2;
  for (unsigned shift = 0; shift < 32; shift += 8)
    animation.step |= static_cast<std::uint32_t>(saved[at++]) << shift;
  const std::uint8_t drives_data = saved[at++];
  if (drives_data > 1 || restored.fifo.head >= fifo_capacity ||
      restored.fifo.count > fifo_capacity ||
      failure > static_cast<std::uint8_t>(EepromFailure::write) || pending > 1 ||
      ecr_mode(restored) == mode_reserved ||
      (restored.registers[ecr_register] & ecr_flag_bits) != 0)
    return false;
  restored.eeprom_failure = static_cast<EepromFailure>(failure);
  restored.answer_pending = pending == 1;
  animation.drives_data = drives_data == 1;
  adapter = restored;
  return true;
}

bool read_eeprom(const Adapter& adapter, std::uint16_t offset, std::uint8_t& value) {
  if (offset != 0 || adapter.eeprom_failure == EepromFailure::read) return false;
  value = adapter.eeprom_first;
  return true;
}

bool write_eeprom(Adapter& adapter, std::uint16_t offset, std::uint8_t value) {
  if (offset != 0 || adapter.eeprom_failure == EepromFailure::write) return false;
  adapter.eeprom_first = value;
  return true;
}

}  // namespace tarnel_sim
