// The simulated Tarnel adapter for the browser tests: the adapter model and
// its request handling compiled to WebAssembly, driven by the stand-in for
// navigator.usb (fake_usb.js). Each request is the one the simulated driver
// answers: the EZ-USB bulk requests for the two endpoints, the control
// requests (state, animation, write log) for the tests.
#include <emscripten/emscripten.h>

#include <array>
#include <cstdint>

#include "sim/adapter/model/adapter.h"
#include "sim/adapter/model/requests.h"

namespace {

tarnel_sim::Adapter adapter;
// A request's input from offset 0, its output from kOutputOffset.
constexpr unsigned kOutputOffset = 128;
std::array<uint8_t, 256> buffer;

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE uint8_t* SimBuffer() { return buffer.data(); }

EMSCRIPTEN_KEEPALIVE unsigned SimOutputOffset() { return kOutputOffset; }

// The request codes the stand-in sends, by number: the EZ-USB bulk write and
// read, then the control device's get state, set state, animate, take writes.
EMSCRIPTEN_KEEPALIVE uint32_t SimCode(int which) {
  constexpr std::array<uint32_t, 6> kCodes = {
      tarnel_sim::kEzusbBulkWrite,  tarnel_sim::kEzusbBulkRead,  tarnel_sim::kControlGetState,
      tarnel_sim::kControlSetState, tarnel_sim::kControlAnimate, tarnel_sim::kControlTakeWrites};
  return which >= 0 && which < 6 ? kCodes[static_cast<unsigned>(which)] : 0;
}

// device: 1 the EZ-USB device, 3 the control device (tarnel_sim::DeviceKind).
// Returns the status (0 success) and, above bit 8, the bytes returned.
EMSCRIPTEN_KEEPALIVE unsigned SimRequest(int device, uint32_t code, unsigned input_length,
                                         unsigned output_length) {
  if (input_length > kOutputOffset || output_length > buffer.size() - kOutputOffset) return 1;
  const tarnel_sim::RequestResult result =
      tarnel_sim::HandleRequest(adapter, static_cast<tarnel_sim::DeviceKind>(device), code,
                                {std::span<const uint8_t>(buffer.data(), input_length),
                                 std::span<uint8_t>(buffer.data() + kOutputOffset, output_length)});
  return static_cast<unsigned>(result.status) | result.bytes_returned << 8;
}

// Before and after every request, as the simulated driver does.
EMSCRIPTEN_KEEPALIVE void SimAdvance(uint32_t now_ms) {
  tarnel_sim::AdvanceAnimation(adapter, now_ms);
}

}  // extern "C"
