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
};

constexpr unsigned EcrMode(const Adapter& adapter) { return adapter.registers[kEcrRegister] >> 5; }

// Back to the power-on state; the LPT number and the failure switch are test
// settings, not port state, and stay.
void PowerOn(Adapter& adapter);

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
// the ECR value are ignored) and no EZ-USB answer stays pending. Fails, and
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

// The whole state as bytes, so the driver can keep it across restarts of its
// host process. RestoreState accepts only what SaveState produces and
// leaves the adapter unchanged otherwise.
inline constexpr unsigned kSavedStateSize = 1 + kRegisterCount + kFifoCapacity + 7;
using SavedState = std::array<std::uint8_t, kSavedStateSize>;
SavedState SaveState(const Adapter& adapter);
bool RestoreState(Adapter& adapter, std::span<const std::uint8_t> saved);

// The EEPROM: only its first byte (offset 0) is modelled; other offsets fail.
bool ReadEeprom(const Adapter& adapter, std::uint16_t offset, std::uint8_t& value);
bool WriteEeprom(Adapter& adapter, std::uint16_t offset, std::uint8_t value);

}  // namespace tarnel_sim
