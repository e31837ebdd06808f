// The simulated device's state on disk. Wine ends the driver's host process
// with every Wine session (a few seconds after the last program ended) and
// loads the driver again with the next one; like a device that stays plugged
// in, each board keeps its settings, flash, pending failure, product string
// and log meanwhile, in files under C:\windows\sorbel-sim of the prefix
// (state.bin, flash.bin, log.txt for the first; state2.bin and so on after).
// Without the files (they cannot be made) the state lives in memory only.
#pragma once

#include <cstdint>
#include <string_view>

#include "sim/bootloader/model/bootloader.h"

namespace device_store {

// What the device holds beside the model: its product string and the
// settings of the simulated connection.
struct Identity {
  const wchar_t* product;
  uint32_t product_length;
  bool strict_length;
  bool unplugged;
  bool locked;
  uint32_t delay_ms;
};

// Opens or creates the files. Returns true when a saved state was read into
// the model (settings, flash, failure count, closed flag), the product and
// the connection settings.
// The connection settings come back in `identity` (product into the buffer
// it points at, of product_capacity code units).
bool Open(uint32_t board, sorbel_sim::Bootloader& model, uint32_t product_capacity,
          Identity& identity, wchar_t* product);

// Reads back the saved log text; returns the bytes read.
size_t ReadLog(uint32_t board, char* buffer, size_t capacity);

// After a reset: everything written anew, log emptied.
void SaveAll(uint32_t board, const sorbel_sim::Bootloader& model, Identity identity);
// After any other change: the small state record, and the block at an address.
void SaveState(uint32_t board, const sorbel_sim::Bootloader& model, Identity identity);
void SaveBlock(uint32_t board, const sorbel_sim::Bootloader& model, uint32_t address);
void AppendLog(uint32_t board, std::string_view line);

}  // namespace device_store
