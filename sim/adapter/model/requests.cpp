#include "requests.hpp"

namespace tarnel_sim {
namespace {

constexpr RequestResult ok(std::uint32_t bytes = 0) { return {RequestStatus::success, bytes}; }
constexpr RequestResult malformed() { return {RequestStatus::invalid_parameter, 0}; }
constexpr RequestResult unknown() { return {RequestStatus::invalid_request, 0}; }
constexpr RequestResult failed() { return {RequestStatus::device_error, 0}; }

std::uint32_t word_at(std::span<const std::uint8_t> bytes, unsigned offset) {
  return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void put_word(std::span<std::uint8_t> bytes, std::uint32_t value) {
  for (unsigned i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Copies a command of at most two bytes out of the request, so that writing
// the answer into a shared buffer cannot change it.
struct Command {
  std::uint8_t bytes[2] = {};
  std::size_t size = 0;
  std::span<const std::uint8_t> span() const { return {bytes, size}; }
};
bool copy_command(std::span<const std::uint8_t> source, Command& command) {
  if (source.empty() || source.size() > 2) return false;
  for (std::size_t i = 0; i < source.size(); ++i) command.bytes[i] = source[i];
  command.size = source.size();
  return true;
}

RequestResult lpt_request(Adapter& adapter, std::uint32_t code, RequestBuffers buffers) {
  switch (code) {
    case lpt_register_command: {
      Command command;
      if (!copy_command(buffers.input, command)) return malformed();
      const bool wants_answer = command.size == 1;
      if (wants_answer && buffers.output.empty()) return malformed();
      const CommandResult result = execute_command(adapter, command.span());
      if (!result.ok) return malformed();
      if (!result.answered) return ok();
      buffers.output[0] = result.answer;
      return ok(1);
    }
    case lpt_eeprom_read: {
      if (buffers.input.size() != 2 || buffers.output.empty()) return malformed();
      const auto offset = static_cast<std::uint16_t>(buffers.input[0] | buffers.input[1] << 8);
      std::uint8_t value = 0;
      if (!read_eeprom(adapter, offset, value)) return failed();
      buffers.output[0] = value;
      return ok(1);
    }
    case lpt_eeprom_write: {
      // The value travels in the direct buffer, towards the device.
      if (buffers.input.size() != 2 || buffers.output.size() != 1) return malformed();
      const auto offset = static_cast<std::uint16_t>(buffers.input[0] | buffers.input[1] << 8);
      if (!write_eeprom(adapter, offset, buffers.output[0])) return failed();
      return ok();
    }
    default:
      return unknown();
  }
}

RequestResult ezusb_request(Adapter& adapter, std::uint32_t code, RequestBuffers buffers) {
  if (code != ezusb_bulk_write && code != ezusb_bulk_read) return unknown();
  if (buffers.input.size() != 4) return malformed();
  const std::uint32_t pipe = word_at(buffers.input, 0);
  if (code == ezusb_bulk_write) {
    if (pipe != ezusb_command_pipe) return malformed();
    Command command;
    if (!copy_command(buffers.output, command)) return malformed();
    const CommandResult result = execute_command(adapter, command.span());
    if (!result.ok) return malformed();
    if (result.answered) {
      adapter.answer_pending = true;
      adapter.answer = result.answer;
    }
    return ok(static_cast<std::uint32_t>(command.size));
  }
  if (pipe != ezusb_answer_pipe || buffers.output.empty()) return malformed();
  // Nothing was asked: the bulk-in pipe has nothing to deliver.
  if (!adapter.answer_pending) return failed();
  adapter.answer_pending = false;
  buffers.output[0] = adapter.answer;
  return ok(1);
}

RequestResult port_io_request(Adapter& adapter, std::uint32_t code, RequestBuffers buffers) {
  if (code != port_io_read && code != port_io_write) return unknown();
  if (buffers.input.size() != 12) return malformed();
  const int index = register_of_port(word_at(buffers.input, 0));
  const std::uint32_t width = word_at(buffers.input, 4);  // 0: byte-wide
  const std::uint32_t value = word_at(buffers.input, 8);
  if (index < 0 || width != 0) return malformed();
  if (code == port_io_write) {
    if (value > 0xFF) return malformed();
    write_register(adapter, static_cast<unsigned>(index), static_cast<std::uint8_t>(value));
    return ok();
  }
  if (buffers.output.size() < 4) return malformed();
  put_word(buffers.output, read_register(adapter, static_cast<unsigned>(index)));
  return ok(4);
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

RequestResult control_request(Adapter& adapter, std::uint32_t code, RequestBuffers buffers) {
  switch (code) {
    case control_get_state:
      if (buffers.output.size() < snapshot_size) return malformed();
      for (unsigned i = 0; i < register_count; ++i) buffers.output[i] = peek_register(adapter, i);
      buffers.output[snapshot_eeprom] = adapter.eeprom_first;
      buffers.output[snapshot_lpt] = adapter.lpt_number;
      buffers.output[snapshot_failure] = static_cast<std::uint8_t>(adapter.eeprom_failure);
      return ok(snapshot_size);
    case control_set_state: {
      if (buffers.input.size() != set_state_size) return malformed();
      std::array<std::uint8_t, register_count> values{};
      for (unsigned i = 0; i < register_count; ++i) values[i] = buffers.input[i];
      if (!set_state(adapter, values, buffers.input[register_count])) return malformed();
      return ok();
    }
    case control_set_lpt:
      if (buffers.input.size() != 1) return malformed();
      adapter.lpt_number = buffers.input[0];
      return ok();
    case control_set_failure:
      if (buffers.input.size() != 1 || buffers.input[0] > static_cast<std::uint8_t>(EepromFailure::write))
        return malformed();
      adapter.eeprom_failure = static_cast<EepromFailure>(buffers.input[0]);
      return ok();
    case control_power_on:
      power_on(adapter);
      return ok();
    case kControlAnimate:
      if (buffers.input.size() != 2) return malformed();
      SetAnimation(adapter, static_cast<std::uint16_t>(buffers.input[0] | buffers.input[1] << 8));
      return ok();
    case kControlTakeWrites:
      if (buffers.output.size() < kWriteLogAnswerSize) return malformed();
      TakeWrites(adapter.write_log, buffers.output);
      return ok(kWriteLogAnswerSize);
    default:
      return unknown();
  }
}

}  // namespace

int register_of_port(std::uint32_t address) {
  if (address >= port_base && address < port_base + 8) return static_cast<int>(address - port_base);
  if (address >= port_base + 0x400 && address < port_base + 0x408)
    return static_cast<int>(address - port_base - 0x400 + 8);
  return -1;
}

RequestResult handle_request(Adapter& adapter, DeviceKind device, std::uint32_t code,
                             RequestBuffers buffers) {
  switch (device) {
    case DeviceKind::lpt:
      return lpt_request(adapter, code, buffers);
    case DeviceKind::ezusb:
      return ezusb_request(adapter, code, buffers);
    case DeviceKind::port_io:
      return port_io_request(adapter, code, buffers);
    case DeviceKind::control:
      return control_request(adapter, code, buffers);
  }
  return unknown();
}

}  // namespace tarnel_sim
