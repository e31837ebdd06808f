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
};

constexpr unsigned ecr_mode(const Adapter& adapter) { return adapter.registers[ecr_register] >> 5; }

// Back to the power-on state; the LPT number and the failure switch are test
// settings, not port state, and stay.
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
// the ECR value are ignored) and no EZ-USB answer stays pending. Fails, and
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

// The whole state as bytes, so the driver can keep it across restarts of its
// host process. restore_state accepts only what save_state produces and
// leaves the adapter unchanged otherwise.
inline constexpr unsigned saved_state_size = 1 + register_count + fifo_capacity + 7;
using SavedState = std::array<std::uint8_t, saved_state_size>;
SavedState save_state(const Adapter& adapter);
bool restore_state(Adapter& adapter, std::span<const std::uint8_t> saved);

// The EEPROM: only its first byte (offset 0) is modelled; other offsets fail.
bool read_eeprom(const Adapter& adapter, std::uint16_t offset, std::uint8_t& value);
bool write_eeprom(Adapter& adapter, std::uint16_t offset, std::uint8_t value);

}  // namespace tarnel_sim
