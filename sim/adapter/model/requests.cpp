#include "sim/adapter/model/requests.h"

namespace tarnel_sim {
namespace {

constexpr RequestResult Ok(std::uint32_t bytes = 0) { return {RequestStatus::kSuccess, bytes}; }
constexpr RequestResult Malformed() { return {RequestStatus::kInvalidParameter, 0}; }
constexpr RequestResult Unknown() { return {RequestStatus::kInvalidRequest, 0}; }
constexpr RequestResult Failed() { return {RequestStatus::kDeviceError, 0}; }

std::uint32_t WordAt(std::span<const std::uint8_t> bytes, unsigned offset) {
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void PutWord(std::span<std::uint8_t> bytes, std::uint32_t value) {
  for (unsigned i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Copies a command of at most two bytes out of the request, so that writing
// the answer into a shared buffer cannot change it.
struct Command {
  std::uint8_t bytes[2] = {};
  std::size_t size = 0;
  std::span<const std::uint8_t> Span() const { return {bytes, size}; }
};
bool CopyCommand(std::span<const std::uint8_t> source, Command& command) {
  if (source.empty() || source.size() > 2) return false;
  for (std::size_t i = 0; i < source.size(); ++i) command.bytes[i] = source[i];
  command.size = source.size();
  return true;
}

RequestResult LptRequest(Adapter& adapter, std::uint32_t code, RequestBuffers buffers) {
  switch (code) {
    case kLptRegisterCommand: {
      Command command;
      if (!CopyCommand(buffers.input, command)) return Malformed();
      const bool wants_answer = command.size == 1;
      if (wants_answer && buffers.output.empty()) return Malformed();
      const CommandResult result = ExecuteCommand(adapter, command.Span());
      if (!result.ok) return Malformed();
      if (!result.answered) return Ok();
      buffers.output[0] = result.answer;
      return Ok(1);
    }
    case kLptEepromRead: {
      if (buffers.input.size() != 2 || buffers.output.empty()) return Malformed();
      const auto offset = static_cast<std::uint16_t>(buffers.input[0] | buffers.input[1] << 8);
      std::uint8_t value = 0;
      if (!ReadEeprom(adapter, offset, value)) return Failed();
      buffers.output[0] = value;
      return Ok(1);
    }
    case kLptEepromWrite: {
      // The value travels in the direct buffer, towards the device.
      if (buffers.input.size() != 2 || buffers.output.size() != 1) return Malformed();
      const auto offset = static_cast<std::uint16_t>(buffers.input[0] | buffers.input[1] << 8);
      if (!WriteEeprom(adapter, offset, buffers.output[0])) return Failed();
      return Ok();
    }
    default:
      return Unknown();
  }
}

RequestResult EzusbRequest(Adapter& adapter, std::uint32_t code, RequestBuffers buffers) {
  if (code != kEzusbBulkWrite && code != kEzusbBulkRead) return Unknown();
  if (buffers.input.size() != 4) return Malformed();
  const std::uint32_t pipe = WordAt(buffers.input, 0);
  if (code == kEzusbBulkWrite) {
    if (pipe != kEzusbCommandPipe) return Malformed();
    Command command;
    if (!CopyCommand(buffers.output, command)) return Malformed();
    const CommandResult result = ExecuteCommand(adapter, command.Span());
    if (!result.ok) return Malformed();
    if (result.answered) {
      adapter.answer_pending = true;
      adapter.answer = result.answer;
    }
    return Ok(static_cast<std::uint32_t>(command.size));
  }
  if (pipe != kEzusbAnswerPipe || buffers.output.empty()) return Malformed();
  // Nothing was asked: the bulk-in pipe has nothing to deliver.
  if (!adapter.answer_pending) return Failed();
  adapter.answer_pending = false;
  buffers.output[0] = adapter.answer;
  return Ok(1);
}

RequestResult PortIoRequest(Adapter& adapter, std::uint32_t code, RequestBuffers buffers) {
  if (code != kPortIoRead && code != kPortIoWrite) return Unknown();
  if (buffers.input.size() != 12) return Malformed();
  const int index = RegisterOfPort(WordAt(buffers.input, 0));
  const std::uint32_t width = WordAt(buffers.input, 4);  // 0: byte-wide
  const std::uint32_t value = WordAt(buffers.input, 8);
  if (index < 0 || width != 0) return Malformed();
  if (code == kPortIoWrite) {
    if (value > 0xFF) return Malformed();
    WriteRegister(adapter, static_cast<unsigned>(index), static_cast<std::uint8_t>(value));
    return Ok();
  }
  if (buffers.output.size() < 4) return Malformed();
  PutWord(buffers.output, ReadRegister(adapter, static_cast<unsigned>(index)));
  return Ok(4);
}

void TakeWrites(WriteLog& log, std::span<std::uint8_t> answer) {
  const std::uint32_t count = log.total < kWriteLogSize ? log.total : kWriteLogSize;
  answer[0] = static_cast<std::uint8_t>(count);
  answer[1] = log.total > kWriteLogSize ? 1 : 0;
  for (std::uint32_t i = 0; i < kWriteLogSize; ++i) {
    const RegisterWrite entry =
        i < count ? log.entries[(log.total - count + i) % kWriteLogSize] : RegisterWrite{};
    answer[2 + 2 * i] = entry.index;
    answer[3 + 2 * i] = entry.value;
  }
  log = WriteLog{};
}

RequestResult ControlRequest(Adapter& adapter, std::uint32_t code, RequestBuffers buffers) {
  switch (code) {
    case kControlGetState:
      if (buffers.output.size() < kSnapshotSize) return Malformed();
      for (unsigned i = 0; i < kRegisterCount; ++i) buffers.output[i] = PeekRegister(adapter, i);
      buffers.output[kSnapshotEeprom] = adapter.eeprom_first;
      buffers.output[kSnapshotLpt] = adapter.lpt_number;
      buffers.output[kSnapshotFailure] = static_cast<std::uint8_t>(adapter.eeprom_failure);
      return Ok(kSnapshotSize);
    case kControlSetState: {
      if (buffers.input.size() != kSetStateSize) return Malformed();
      std::array<std::uint8_t, kRegisterCount> values{};
      for (unsigned i = 0; i < kRegisterCount; ++i) values[i] = buffers.input[i];
      if (!SetState(adapter, values, buffers.input[kRegisterCount])) return Malformed();
      return Ok();
    }
    case kControlSetLpt:
      if (buffers.input.size() != 1) return Malformed();
      adapter.lpt_number = buffers.input[0];
      return Ok();
    case kControlSetFailure:
      if (buffers.input.size() != 1 ||
          buffers.input[0] > static_cast<std::uint8_t>(EepromFailure::kWrite))
        return Malformed();
      adapter.eeprom_failure = static_cast<EepromFailure>(buffers.input[0]);
      return Ok();
    case kControlPowerOn:
      PowerOn(adapter);
      return Ok();
    case kControlAnimate:
      if (buffers.input.size() != 2) return Malformed();
      SetAnimation(adapter, static_cast<std::uint16_t>(buffers.input[0] | buffers.input[1] << 8));
      return Ok();
    case kControlTakeWrites:
      if (buffers.output.size() < kWriteLogAnswerSize) return Malformed();
      TakeWrites(adapter.write_log, buffers.output);
      return Ok(kWriteLogAnswerSize);
    default:
      return Unknown();
  }
}

}  // namespace

int RegisterOfPort(std::uint32_t address) {
  if (address >= kPortBase && address < kPortBase + 8) return static_cast<int>(address - kPortBase);
  if (address >= kPortBase + 0x400 && address < kPortBase + 0x408)
    return static_cast<int>(address - kPortBase - 0x400 + 8);
  return -1;
}

RequestResult HandleRequest(Adapter& adapter, DeviceKind device, std::uint32_t code,
                            RequestBuffers buffers) {
  switch (device) {
    case DeviceKind::kLpt:
      return LptRequest(adapter, code, buffers);
    case DeviceKind::kEzusb:
      return EzusbRequest(adapter, code, buffers);
    case DeviceKind::kPortIo:
      return PortIoRequest(adapter, code, buffers);
    case DeviceKind::kControl:
      return ControlRequest(adapter, code, buffers);
  }
  return Unknown();
}

}  // namespace tarnel_sim
