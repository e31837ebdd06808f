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

inline constexpr unsigned register_count = 16;
inline constexpr unsigned fifo_capacity = 16;

// Register indices with a special meaning in the model.
inline constexpr unsigned data_register = 0;
inline constexpr unsigned status_register = 1;
inline constexpr unsigned fifo_register = 8;  // cfgA in mode 7
inline constexpr unsigned cfg_b_register = 9;
inline constexpr unsigned ecr_register = 10;

inline constexpr std::uint8_t ecr_fifo_full = 0x02;
inline constexpr std::uint8_t ecr_fifo_empty = 0x01;
inline constexpr std::uint8_t ecr_flag_bits = ecr_fifo_full | ecr_fifo_empty;

inline constexpr unsigned mode_ecp = 3;
inline constexpr unsigned mode_reserved = 5;
inline constexpr unsigned mode_test = 6;
inline constexpr unsigned mode_config = 7;

inline constexpr std::uint8_t cfg_a_value = 0x10;
inline constexpr std::uint8_t eeprom_power_on = 0xC2;
inline constexpr std::uint8_t default_lpt_number = 2;

enum class EepromFailure : std::uint8_t { none = 0, read = 1, write = 2 };

struct Fifo {
  std::array<std::uint8_t, fifo_capacity> bytes{};
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
  std::array<std::uint8_t, register_count> registers{};
  Fifo fifo{};
  std::uint8_t eeprom_first = eeprom_power_on;
  EepromFailure eeprom_failure = EepromFailure::none;
  std::uint8_t lpt_number = default_lpt_number;  // 0: no LPT name
  // Bulk-in pipe of the EZ-USB path: the answer to the last read command.
  bool answer_pending = false;
  std::uint8_t answer = 0;
  Animation animation{};
  WriteLog write_log{};
};

constexpr unsigned ecr_mode(const Adapter& adapter) { return adapter.registers[ecr_register] >> 5; }

// Back to the power-on state; the LPT number and the failure switch are test
// settings, not port state, and stay. The animation ends, the write log is
// emptied.
void power_on(Adapter& adapter);

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
std::uint8_t read_register(Adapter& adapter, unsigned index);
// The same value without taking anything out of the FIFO.
std::uint8_t peek_register(const Adapter& adapter, unsigned index);
void write_register(Adapter& adapter, unsigned index, std::uint8_t value);

// Puts the port into a given state: input lines, registers, EEPROM byte. The
// FIFO is emptied (the ECR flag bits are derived from it, so bits 1 and 0 of
// the ECR value are ignored) and no EZ-USB answer stays pending. The data
// register reads as stored again (a running animation drives the status
// lines only until it is switched on again). Fails, and
// changes nothing, when the ECR value selects the reserved mode 5.
bool set_state(Adapter& adapter, std::span<const std::uint8_t, register_count> values,
               std::uint8_t eeprom_first);

// One adapter byte command: {index, value} writes, {0x10 | index} reads.
struct CommandResult {
  bool ok = false;
  bool answered = false;  // a read command: answer holds the register value
  std::uint8_t answer = 0;
};
CommandResult execute_command(Adapter& adapter, std::span<const std::uint8_t> command);

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
// host process. restore_state accepts only what save_state produces and
// leaves the adapter unchanged otherwise.
// The animation is kept with its period and step (its clock starts anew);
// the write log is not kept.
inline constexpr unsigned saved_state_size = 1 + register_count + fifo_capacity + 7 + 7;
using SavedState = std::array<std::uint8_t, saved_state_size>;
SavedState save_state(const Adapter& adapter);
bool restore_state(Adapter& adapter, std::span<const std::uint8_t> saved);

// The EEPROM: only its first byte (offset 0) is modelled; other offsets fail.
bool read_eeprom(const Adapter& adapter, std::uint16_t offset, std::uint8_t& value);
bool write_eeprom(Adapter& adapter, std::uint16_t offset, std::uint8_t value);

}  // namespace tarnel_sim
