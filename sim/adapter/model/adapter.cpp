#include "sim/adapter/model/adapter.h"

namespace tarnel_sim {
namespace {

constexpr bool FifoEmpty(const Fifo& fifo) { return fifo.count == 0; }
constexpr bool FifoFull(const Fifo& fifo) { return fifo.count == kFifoCapacity; }

void FifoClear(Fifo& fifo) { fifo = Fifo{}; }

void FifoPush(Fifo& fifo, std::uint8_t value) {
  if (FifoFull(fifo)) return;  // like the hardware: a byte written to a full FIFO is lost
  fifo.bytes[(fifo.head + fifo.count) % kFifoCapacity] = value;
  ++fifo.count;
}

std::uint8_t FifoPop(Fifo& fifo) {
  const std::uint8_t value = fifo.bytes[fifo.head];
  fifo.head = static_cast<std::uint8_t>((fifo.head + 1) % kFifoCapacity);
  --fifo.count;
  return value;
}

std::uint8_t EcrValue(const Adapter& adapter) {
  std::uint8_t flags = 0;
  if (FifoFull(adapter.fifo)) flags |= kEcrFifoFull;
  if (FifoEmpty(adapter.fifo)) flags |= kEcrFifoEmpty;
  return static_cast<std::uint8_t>((adapter.registers[kEcrRegister] & ~kEcrFlagBits) | flags);
}

void WriteEcr(Adapter& adapter, std::uint8_t value) {
  const unsigned mode = value >> 5;
  if (mode == kModeReserved) return;  // refused: the port stays in its mode
  // Bytes waiting in a FIFO do not survive a change of mode.
  if (mode != EcrMode(adapter)) FifoClear(adapter.fifo);
  adapter.registers[kEcrRegister] = static_cast<std::uint8_t>(value & ~kEcrFlagBits);
}

// Register 8 by mode: cfgA (read-only) in mode 7, the FIFO in modes 3 and 6,
// a plain register elsewhere. An empty FIFO reads as the last byte written.
void WriteFifoRegister(Adapter& adapter, std::uint8_t value) {
  switch (EcrMode(adapter)) {
    case kModeConfig:
      return;
    case kModeTest:
      FifoPush(adapter.fifo, value);
      break;
    default:  // mode 3: the peripheral takes each byte at once
      break;
  }
  adapter.registers[kFifoRegister] = value;
}

}  // namespace

void PowerOn(Adapter& adapter) {
  Adapter fresh{};
  fresh.lpt_number = adapter.lpt_number;
  fresh.eeprom_failure = adapter.eeprom_failure;
  adapter = fresh;
}

void BusReset(Adapter& adapter) {
  adapter.answer_pending = false;
  adapter.answer = 0;
}

namespace {

void ApplyAnimationStep(Adapter& adapter, std::uint32_t step) {
  adapter.animation.step = step;
  const AnimatedLines lines = AnimationPattern(step);
  adapter.registers[kStatusRegister] =
      static_cast<std::uint8_t>((adapter.registers[kStatusRegister] & 0x07) | lines.status);
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

std::uint8_t PeekRegister(const Adapter& adapter, unsigned index) {
  if (index >= kRegisterCount) return 0;
  if (index == kEcrRegister) return EcrValue(adapter);
  if (index == kDataRegister && adapter.animation.drives_data &&
      (adapter.registers[kControlRegister] & kReverseDirection) != 0)
    return AnimationPattern(adapter.animation.step).data;
  if (index == kFifoRegister) {
    const unsigned mode = EcrMode(adapter);
    if (mode == kModeConfig) return kCfgAValue;
    if (mode == kModeTest && !FifoEmpty(adapter.fifo)) return adapter.fifo.bytes[adapter.fifo.head];
  }
  return adapter.registers[index];
}

std::uint8_t ReadRegister(Adapter& adapter, unsigned index) {
  if (index == kFifoRegister && EcrMode(adapter) == kModeTest && !FifoEmpty(adapter.fifo))
    return FifoPop(adapter.fifo);
  return PeekRegister(adapter, index);
}

void WriteRegister(Adapter& adapter, unsigned index, std::uint8_t value) {
  if (index < kRegisterCount) {
    WriteLog& log = adapter.write_log;
    log.entries[log.total % kWriteLogSize] = {static_cast<std::uint8_t>(index), value};
    ++log.total;
  }
  switch (index) {
    case kStatusRegister:
      return;  // input lines: writes do not reach them
    case kEcrRegister:
      WriteEcr(adapter, value);
      return;
    case kFifoRegister:
      WriteFifoRegister(adapter, value);
      return;
    default:
      if (index < kRegisterCount) adapter.registers[index] = value;
  }
}

bool SetState(Adapter& adapter, std::span<const std::uint8_t, kRegisterCount> values,
              std::uint8_t eeprom_first) {
  if ((values[kEcrRegister] >> 5) == kModeReserved) return false;
  for (unsigned i = 0; i < kRegisterCount; ++i) adapter.registers[i] = values[i];
  adapter.registers[kEcrRegister] = static_cast<std::uint8_t>(values[kEcrRegister] & ~kEcrFlagBits);
  FifoClear(adapter.fifo);
  adapter.answer_pending = false;
  adapter.eeprom_first = eeprom_first;
  adapter.animation.drives_data = false;
  return true;
}

CommandResult ExecuteCommand(Adapter& adapter, std::span<const std::uint8_t> command) {
  constexpr std::uint8_t kReadFlag = 0x10;
  if (command.empty() || (command[0] & 0xE0) != 0) return {};
  const unsigned index = command[0] & 0x0F;
  const bool is_read = (command[0] & kReadFlag) != 0;
  if (is_read) {
    if (command.size() != 1) return {};
    return {true, true, ReadRegister(adapter, index)};
  }
  if (command.size() != 2) return {};
  WriteRegister(adapter, index, command[1]);
  return {true, false, 0};
}

namespace {
constexpr std::uint8_t kSavedStateVersion = 2;
}

SavedState SaveState(const Adapter& adapter) {
  SavedState saved{};
  unsigned at = 0;
  saved[at++] = kSavedStateVersion;
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

bool RestoreState(Adapter& adapter, std::span<const std::uint8_t> saved) {
  if (saved.size() != kSavedStateSize || saved[0] != kSavedStateVersion) return false;
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
  if (drives_data > 1 || restored.fifo.head >= kFifoCapacity ||
      restored.fifo.count > kFifoCapacity ||
      failure > static_cast<std::uint8_t>(EepromFailure::kWrite) || pending > 1 ||
      EcrMode(restored) == kModeReserved || (restored.registers[kEcrRegister] & kEcrFlagBits) != 0)
    return false;
  restored.eeprom_failure = static_cast<EepromFailure>(failure);
  restored.answer_pending = pending == 1;
  animation.drives_data = drives_data == 1;
  adapter = restored;
  return true;
}

bool ReadEeprom(const Adapter& adapter, std::uint16_t offset, std::uint8_t& value) {
  if (offset != 0 || adapter.eeprom_failure == EepromFailure::kRead) return false;
  value = adapter.eeprom_first;
  return true;
}

bool WriteEeprom(Adapter& adapter, std::uint16_t offset, std::uint8_t value) {
  if (offset != 0 || adapter.eeprom_failure == EepromFailure::kWrite) return false;
  adapter.eeprom_first = value;
  return true;
}

}  // namespace tarnel_sim
