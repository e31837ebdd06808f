// The simulated device's state on disk. Wine ends the driver's host process
// with every Wine session (a few seconds after the last program ended) and
// loads the driver again with the next one; like a device that stays plugged
// in, the bootloader keeps its settings, flash, pending failure, product string
// and log meanwhile, in files under C:\windows\sorbel-sim of the prefix.
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
};

// Opens or creates the files. Returns true when a saved state was read into
// the model (settings, flash, failure count, closed flag), the product and
// the connection settings.
bool Open(sorbel_sim::Bootloader& model, wchar_t* product, uint32_t product_capacity,
          uint32_t& product_length, bool& strict_length, bool& unplugged);

// Reads back the saved log text; returns the bytes read.
size_t ReadLog(char* buffer, size_t capacity);

// After a reset: everything written anew, log emptied.
void SaveAll(const sorbel_sim::Bootloader& model, Identity identity);
// After any other change: the small state record, and the block at an address.
void SaveState(const sorbel_sim::Bootloader& model, Identity identity);
void SaveBlock(const sorbel_sim::Bootloader& model, uint32_t address);
void AppendLog(std::string_view line);

}  // namespace device_store
