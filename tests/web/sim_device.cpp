// The simulated Sorbel bootloader for the browser tests: the bootloader model
// compiled to WebAssembly, driven by the stand-in for navigator.hid that the
// tests put into the page. Reports pass through one shared buffer.
#include <emscripten/emscripten.h>

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "sim/bootloader/model/bootloader.h"

// clang-format off
EM_JS(void, JsSimLog, (const char* line, int length), {
  Module["simLog"](UTF8ToString(line, length));
});
// clang-format on

namespace {

sorbel_sim::Bootloader device;
std::array<uint8_t, sorbel_sim::kMaxLoggedBytes + 1> buffer;

void LogLine(void*, std::string_view line) { JsSimLog(line.data(), static_cast<int>(line.size())); }

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void SimReset(uint32_t page_size, uint32_t flash_size, int fail_block) {
  device.log = LogLine;
  sorbel_sim::Reset(device, sorbel_sim::Settings{page_size, flash_size});
  sorbel_sim::FailBlock(device, fail_block);
}

EMSCRIPTEN_KEEPALIVE uint8_t* SimBuffer() { return buffer.data(); }

EMSCRIPTEN_KEEPALIVE int SimBufferSize() { return static_cast<int>(buffer.size()); }

EMSCRIPTEN_KEEPALIVE int SimGetFeature(int length) {
  return sorbel_sim::GetFeature(device, std::span(buffer).first(static_cast<size_t>(length)));
}

EMSCRIPTEN_KEEPALIVE int SimSetFeature(int length) {
  return sorbel_sim::SetFeature(device, std::span(buffer).first(static_cast<size_t>(length)));
}

EMSCRIPTEN_KEEPALIVE const uint8_t* SimFlash() { return sorbel_sim::Flash(device).data(); }

EMSCRIPTEN_KEEPALIVE int SimFlashSize() {
  return static_cast<int>(sorbel_sim::Flash(device).size());
}

EMSCRIPTEN_KEEPALIVE int SimLeftBootloader() { return sorbel_sim::LeftBootloader(device) ? 1 : 0; }

}  // extern "C"
