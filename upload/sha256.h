// SHA-256 of a byte stream, for the bench log: which file each board got.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace hex_upload {

struct Sha256 {
  std::array<uint32_t, 8> state;
  std::array<uint8_t, 64> block;
  size_t used;      // bytes in block
  uint64_t length;  // bytes hashed so far
};

void Begin(Sha256& hash);
void Add(Sha256& hash, std::span<const uint8_t> bytes);
// The digest as 64 lower-case hex digits and a terminating zero.
void FinishHex(Sha256& hash, std::span<char, 65> hex);

}  // namespace hex_upload
