// The simulated adapter's port: register file, ECR modes with the FIFO, the
// adapter byte commands and the EEPROM's first byte.
//
// Freestanding on purpose: this code runs inside the simulated kernel driver
// (built without any runtime library) and in the native unit tests. No heap,
// no exceptions, no library calls; only header-only facilities.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tarnel_sim {

inline constexpr unsigned kRegisterCount = 16;
inline constexpr unsigned kFifoCapacity = 16;

// Register indices with a special meaning in the model.
inline constexpr unsigned kDataRegister = 0;
inline constexpr unsigned kStatusRegister = 1;
inline constexpr unsigned kFifoRegister = 8;  // cfgA in mode 7
inline constexpr unsigned kCfgBRegister = 9;
inline constexpr unsigned kEcrRegister = 10;

inline constexpr std::uint8_t kEcrFifoFull = 0x02;
inline constexpr std::uint8_t kEcrFifoEmpty = 0x01;
inline constexpr std::uint8_t kEcrFlagBits = kEcrFifoFull | kEcrFifoEmpty;

inline constexpr unsigned kModeEcp = 3;
inline constexpr unsigned kModeReserved = 5;
inline constexpr unsigned kModeTest = 6;
inline constexpr unsigned kModeConfig = 7;

inline constexpr std::uint8_t kCfgAValue = 0x10;
inline constexpr std::uint8_t kEepromPowerOn = 0xC2;
inline constexpr std::uint8_t kDefaultLptNumber = 2;

enum class EepromFailure : std::uint8_t { kNone = 0, kRead = 1, kWrite = 2 };

struct Fifo {
  std::array<std::uint8_t, kFifoCapacity> bytes{};
  std::uint8_t head = 0;
  std::uint8_t count = 0;
};

// Input lines that change by themselves, for tests of a live port: while
// on, status bits 7..3 and (in the reverse direction) the data lines follow
// AnimationPattern, one step per period.
struct Animation {
  std::uint16_t period_ms = 0;  // 0: off, the lines keep their values
  bool clock_started = false;   // the first request after switching on starts it
  std::uint32_t start_ms = 0;
  std::uint32_t start_step = 0;
  std::uint32_t step = 0;
  // Set from switching on until the port is put into a state again: the
  // data register reads the animated lines while control bit 5 (reverse
  // direction) is set.
  bool drives_data = false;
};

struct RegisterWrite {
  std::uint8_t index = 0;
  std::uint8_t value = 0;
};

// The last write commands as they reached the port, also those the port
// ignores (status, cfgA): tests see that a request arrived.
inline constexpr unsigned kWriteLogSize = 32;
struct WriteLog {
  std::array<RegisterWrite, kWriteLogSize> entries{};
  std::uint32_t total = 0;  // writes ever logged; the newest is entries[(total - 1) % size]
};

// The whole state; a value-initialised Adapter is the power-on state.
struct Adapter {
  // Last value written to each register. Exceptions: [1] holds the status
  // register's input lines; [10] holds the ECR without its two flag bits.
  std::array<std::uint8_t, kRegisterCount> registers{};
  Fifo fifo{};
  std::uint8_t eeprom_first = kEepromPowerOn;
  EepromFailure eeprom_failure = EepromFailure::kNone;
  std::uint8_t lpt_number = kDefaultLptNumber;  // 0: no LPT name
  // Bulk-in pipe of the EZ-USB path: the answer to the last read command.
  bool answer_pending = false;
  std::uint8_t answer = 0;
  Animation animation{};
  WriteLog write_log{};
};

constexpr unsigned EcrMode(const Adapter& adapter) { return adapter.registers[kEcrRegister] >> 5; }

// Back to the power-on state; the LPT number and the failure switch are test
// settings, not port state, and stay. The animation ends, the write log is
// emptied.
void PowerOn(Adapter& adapter);

// A USB bus reset: the EZ-USB's endpoint buffers are emptied, so an answer
// not yet fetched is gone; the port keeps its registers and its FIFO.
void BusReset(Adapter& adapter);

// Register rules: every register reads back the value last written, in every
// mode (the data register included, also in the FIFO modes where the program
// uses it for ECP commands), except
//  - 1, status: reads the input lines, ignores writes;
//  - 10, ECR: bits 1 and 0 are the FIFO full and empty flags and ignore
//    writes; a write selecting mode 5 is refused as a whole; a change of mode
//    empties the FIFO;
//  - 8: cfgA in mode 7 (reads 0x10, writes go nowhere); the FIFO in modes 3
//    (the peripheral takes each byte at once, so it stays empty) and 6 (bytes
//    stay until read back, first in first out; a byte written to a full FIFO
//    is lost). An empty FIFO reads as the byte last written to register 8.
// A read as the port answers it; in mode 6 reading the FIFO takes its byte.
std::uint8_t ReadRegister(Adapter& adapter, unsigned index);
// The same value without taking anything out of the FIFO.
std::uint8_t PeekRegister(const Adapter& adapter, unsigned index);
void WriteRegister(Adapter& adapter, unsigned index, std::uint8_t value);

// Puts the port into a given state: input lines, registers, EEPROM byte. The
// FIFO is emptied (the ECR flag bits are derived from it, so bits 1 and 0 of
// the ECR value are ignored) and no EZ-USB answer stays pending. The data
// register reads as stored again (a running animation drives the status
// lines only until it is switched on again). Fails, and
// changes nothing, when the ECR value selects the reserved mode 5.
bool SetState(Adapter& adapter, std::span<const std::uint8_t, kRegisterCount> values,
              std::uint8_t eeprom_first);

// One adapter byte command: {index, value} writes, {0x10 | index} reads.
struct CommandResult {
  bool ok = false;
  bool answered = false;  // a read command: answer holds the register value
  std::uint8_t answer = 0;
};
CommandResult ExecuteCommand(Adapter& adapter, std::span<const std::uint8_t> command);

// The lines of one animation step. Consecutive steps differ in status bits
// 7..3 and in the data lines, so every step changes what the port reads.
struct AnimatedLines {
  std::uint8_t status = 0;  // bits 7..3; bits 2..0 are zero
  std::uint8_t data = 0;
};
constexpr AnimatedLines AnimationPattern(std::uint32_t step) {
  // Odd steps through the ranges of 32 and 256 values: every bit toggles.
  return {static_cast<std::uint8_t>(((step * 11 + 3) % 32) << 3),
          static_cast<std::uint8_t>((step * 0x9D + 0x5A) % 256)};
}

// Switches the animation on with a period (1..65535 ms; its clock starts at
// the next AdvanceAnimation) and puts step 0 on the lines at once, or, with
// 0, off: the lines keep the values they have.
void SetAnimation(Adapter& adapter, std::uint16_t period_ms);
// Brings the lines to the step that is due at `now_ms` (a millisecond clock
// that may wrap); called before and after every request.
void AdvanceAnimation(Adapter& adapter, std::uint32_t now_ms);

// The whole state as bytes, so the driver can keep it across restarts of its
// host process. RestoreState accepts only what SaveState produces and
// leaves the adapter unchanged otherwise.
// The animation is kept with its period and step (its clock starts anew);
// the write log is not kept.
inline constexpr unsigned kSavedStateSize = 1 + kRegisterCount + kFifoCapacity + 7 + 7;
using SavedState = std::array<std::uint8_t, kSavedStateSize>;
SavedState SaveState(const Adapter& adapter);
bool RestoreState(Adapter& adapter, std::span<const std::uint8_t> saved);

// The EEPROM: only its first byte (offset 0) is modelled; other offsets fail.
bool ReadEeprom(const Adapter& adapter, std::uint16_t offset, std::uint8_t& value);
bool WriteEeprom(Adapter& adapter, std::uint16_t offset, std::uint8_t value);

}  // namespace tarnel_sim
