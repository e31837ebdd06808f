// Reading a full 64 KiB Intel HEX file, from memory and from a file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "upload/hex_reader.h"

namespace {

struct NullOutput final : hex_upload::Output {
  void Write(std::string_view) override {}
};

// 65536 bytes in records of 16, as firmware tools write them.
std::string FullHexFile() {
  std::string text;
  char field[16];
  for (unsigned address = 0; address < 0x10000; address += 16) {
    std::snprintf(field, sizeof field, ":10%04X00", address);
    text += field;
    unsigned sum = 16 + (address >> 8) + address;
    for (unsigned i = 0; i < 16; ++i) {
      unsigned value = (address * 7 + i * 13) & 0xFF;
      std::snprintf(field, sizeof field, "%02X", value);
      text += field;
      sum += value;
    }
    std::snprintf(field, sizeof field, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += field;
  }
  return text + ":00000001FF\r\n";
}

void ReadFromMemory(benchmark::State& state) {
  const std::string text = FullHexFile();
  auto image = std::make_unique<hex_upload::FirmwareImage>();
  NullOutput out;
  for (auto _ : state) {
    image->fill(0xFF);
    int32_t start = hex_upload::kImageSize;
    int32_t end = 0;
    hex_upload::MemorySource source({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    hex_upload::ReadHexRecords(source, *image, start, end, out);
    benchmark::DoNotOptimize(end);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["image_bytes_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * 65536, benchmark::Counter::kIsRate);
}
BENCHMARK(ReadFromMemory);

void LoadFromFile(benchmark::State& state) {
  const std::string text = FullHexFile();
  char path[] = "/tmp/hex-reader-benchXXXXXX";
  int fd = mkstemp(path);
  std::FILE* file = fdopen(fd, "w");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  auto image = std::make_unique<hex_upload::FirmwareImage>();
  NullOutput out;
  for (auto _ : state) {
    image->fill(0xFF);
    int32_t start = hex_upload::kImageSize;
    int32_t end = 0;
    hex_upload::LoadHexImage(path, *image, start, end, out);
    benchmark::DoNotOptimize(end);
  }
  std::remove(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["image_bytes_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * 65536, benchmark::Counter::kIsRate);
}
BENCHMARK(LoadFromFile);

}  // namespace

BENCHMARK_MAIN();
