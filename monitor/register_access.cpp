#include "monitor/register_access.h"

#include "monitor/state.h"

#include <array>

namespace port_monitor {

namespace {

void PutWord(std::uint8_t* bytes, std::uint32_t word) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(word >> (8 * i));
}

// Without an open device every request fails without effect.
bool Request(std::uint32_t code, std::span<const std::uint8_t> input,
             std::span<std::uint8_t> output) {
  MonitorState& state = Monitor();
  if (state.device == kInvalidDevice || state.device_io == nullptr) return false;
  return state.device_io->Control(state.device, code, input, output);
}

}  // namespace

const char* DeviceNameOf(AccessMethod method) {
  switch (method) {
    case AccessMethod::kPortIoDriver:
      return "\\\\.\\ZLPORTIO";
    case AccessMethod::kUsbBulk:
      return "\\\\.\\EZUSB-0";
    case AccessMethod::kAdapterLpt:
      return "\\\\.\\LPT2";
    case AccessMethod::kPortInstructions:
      break;
  }
  return nullptr;
}

void OpenAccessPathBy(AccessMethod method, DeviceIo& device_io, PortIo& port_io) {
  MonitorState& state = Monitor();
  state.device_io = &device_io;
  state.port_io = &port_io;
  if (const char* name = DeviceNameOf(method)) state.device = device_io.Open(name);
}

void OpenAccessPath(DeviceIo& device_io, PortIo& port_io) {
  OpenAccessPathBy(kAccessMethod, device_io, port_io);
}

void CloseAccessPath() {
  MonitorState& state = Monitor();
  if (state.device != kInvalidDevice && state.device_io != nullptr) {
    state.device_io->Close(state.device);
  }
  state.device = kInvalidDevice;
}

void WriteRegisterBy(AccessMethod method, std::uint16_t base, int index, std::uint8_t value) {
  MonitorState& state = Monitor();
  state.written_values[static_cast<std::size_t>(index & 15)] = value;
  const auto command = static_cast<std::uint8_t>(index & 15);
  switch (method) {
    case AccessMethod::kPortInstructions:
      if (state.port_io != nullptr) state.port_io->Out(PortAddressOf(base, index), value);
      break;
    case AccessMethod::kPortIoDriver: {
      std::array<std::uint8_t, 12> input{};
      PutWord(&input[0], PortAddressOf(base, index));
      PutWord(&input[8], value);
      Request(kPortWriteRequest, input, {});
      break;
    }
    case AccessMethod::kUsbBulk: {
      std::array<std::uint8_t, 4> pipe{};  // pipe 0
      std::array<std::uint8_t, 2> data = {command, value};
      Request(kBulkWriteRequest, pipe, data);
      break;
    }
    case AccessMethod::kAdapterLpt: {
      const std::array<std::uint8_t, 2> data = {command, value};
      Request(kAdapterRegisterRequest, data, {});
      break;
    }
  }
}

std::uint8_t ReadRegisterBy(AccessMethod method, std::uint16_t base, int index) {
  MonitorState& state = Monitor();
  // The adapter's command byte; a failed request leaves it as the result.
  std::uint8_t byte = static_cast<std::uint8_t>(kReadCommand | (index & 15));
  switch (method) {
    case AccessMethod::kPortInstructions:
      return state.port_io != nullptr ? state.port_io->In(PortAddressOf(base, index)) : 0;
    case AccessMethod::kPortIoDriver: {
      std::array<std::uint8_t, 12> input{};
      PutWord(&input[0], PortAddressOf(base, index));
      std::array<std::uint8_t, 4> output{};  // zero before the call
      Request(kPortReadRequest, input, output);
      return output[0];
    }
    case AccessMethod::kUsbBulk: {
      std::array<std::uint8_t, 4> pipe{};  // pipe 0: the command
      Request(kBulkWriteRequest, pipe, std::span(&byte, 1));
      if (state.device_io != nullptr) state.device_io->Sleep(1);
      pipe[0] = 1;  // pipe 1: the answer
      Request(kBulkReadRequest, pipe, std::span(&byte, 1));
      return byte;
    }
    case AccessMethod::kAdapterLpt:
      // Command and answer share the one byte.
      Request(kAdapterRegisterRequest, std::span<const std::uint8_t>(&byte, 1),
              std::span(&byte, 1));
      return byte;
  }
  return byte;
}

void WriteRegister(int index, std::uint8_t value) {
  WriteRegisterBy(kAccessMethod, kPortBase, index, value);
}

std::uint8_t ReadRegister(int index) { return ReadRegisterBy(kAccessMethod, kPortBase, index); }

}  // namespace port_monitor
