#include <gtest/gtest.h>

#include <vector>

#include "model/requests.hpp"

namespace tarnel_sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

RequestResult send(Adapter& adapter, DeviceKind device, std::uint32_t code, const Bytes& input, Bytes& output) {
  return handle_request(adapter, device, code, {input, output});
}

Bytes words(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  Bytes bytes;
  for (std::uint32_t word : {a, b, c})
    for (unsigned i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
  return bytes;
}

TEST(AdapterRequests, LptRegisterCommands) {
  Adapter adapter{};
  Bytes none;
  EXPECT_EQ(send(adapter, DeviceKind::lpt, lpt_register_command, {0x00, 0xAB}, none).status, RequestStatus::success);
  EXPECT_EQ(adapter.registers[0], 0xAB);

  // The read command and its answer share one byte, as the caller passes it.
  std::uint8_t shared = 0x10;
  const RequestResult result = handle_request(adapter, DeviceKind::lpt, lpt_register_command,
                                              {std::span<const std::uint8_t>(&shared, 1), std::span(&shared, 1)});
  EXPECT_EQ(result.status, RequestStatus::success);
  EXPECT_EQ(result.bytes_returned, 1u);
  EXPECT_EQ(shared, 0xAB);
}

TEST(AdapterRequests, EepromRequestsAndFailureSwitch) {
  Adapter adapter{};
  Bytes byte{0x00};
  EXPECT_EQ(send(adapter, DeviceKind::lpt, lpt_eeprom_read, {0, 0}, byte).bytes_returned, 1u);
  EXPECT_EQ(byte[0], 0xC2);
  byte[0] = 0xFF;  // the value to write travels in the direct buffer
  EXPECT_EQ(send(adapter, DeviceKind::lpt, lpt_eeprom_write, {0, 0}, byte).status, RequestStatus::success);
  EXPECT_EQ(adapter.eeprom_first, 0xFF);

  adapter.eeprom_failure = EepromFailure::read;
  EXPECT_EQ(send(adapter, DeviceKind::lpt, lpt_eeprom_read, {0, 0}, byte).status, RequestStatus::device_error);
  adapter.eeprom_failure = EepromFailure::write;
  byte[0] = 0x00;
  EXPECT_EQ(send(adapter, DeviceKind::lpt, lpt_eeprom_write, {0, 0}, byte).status, RequestStatus::device_error);
  EXPECT_EQ(adapter.eeprom_first, 0xFF);
}

TEST(AdapterRequests, EzUsbReadCommandThenAnswerPipe) {
  Adapter adapter{};
  Bytes data{0x02, 0x0C};
  EXPECT_EQ(send(adapter, DeviceKind::ezusb, ezusb_bulk_write, {0, 0, 0, 0}, data).status, RequestStatus::success);
  Bytes command{0x12};
  EXPECT_EQ(send(adapter, DeviceKind::ezusb, ezusb_bulk_write, {0, 0, 0, 0}, command).status, RequestStatus::success);
  Bytes answer{0x00};
  const RequestResult result = send(adapter, DeviceKind::ezusb, ezusb_bulk_read, {1, 0, 0, 0}, answer);
  EXPECT_EQ(result.status, RequestStatus::success);
  EXPECT_EQ(result.bytes_returned, 1u);
  EXPECT_EQ(answer[0], 0x0C);
  EXPECT_EQ(send(adapter, DeviceKind::ezusb, ezusb_bulk_read, {1, 0, 0, 0}, answer).status,
            RequestStatus::device_error)
      << "each read command is answered once";
}

TEST(AdapterRequests, PortAddresses) {
  struct Case {
    std::uint32_t address;
    int index;
  };
  for (const Case c : {Case{0x378, 0}, Case{0x37F, 7}, Case{0x778, 8}, Case{0x77A, 10}, Case{0x77F, 15},
                       Case{0x377, -1}, Case{0x380, -1}, Case{0x777, -1}, Case{0x780, -1}, Case{0x3BC, -1}}) {
    EXPECT_EQ(register_of_port(c.address), c.index) << std::hex << c.address;
  }
}

TEST(AdapterRequests, PortIoReadAndWrite) {
  Adapter adapter{};
  Bytes none;
  EXPECT_EQ(send(adapter, DeviceKind::port_io, port_io_write, words(0x378, 0, 0x8F), none).status,
            RequestStatus::success);
  Bytes word(4, 0xEE);
  const RequestResult result = send(adapter, DeviceKind::port_io, port_io_read, words(0x378, 0, 0), word);
  EXPECT_EQ(result.bytes_returned, 4u);
  EXPECT_EQ(word, (Bytes{0x8F, 0, 0, 0}));
  send(adapter, DeviceKind::port_io, port_io_read, words(0x77A, 0, 0), word);
  EXPECT_EQ(word, (Bytes{0x01, 0, 0, 0}));
}

TEST(AdapterRequests, MalformedAndUnknownRequestsFailWithoutChange) {
  struct Case {
    const char* what;
    DeviceKind device;
    std::uint32_t code;
    Bytes input;
    std::size_t output_size;
    RequestStatus expected;
  };
  const auto bad = RequestStatus::invalid_parameter;
  const auto unknown = RequestStatus::invalid_request;
  const Case cases[] = {
      {"empty command", DeviceKind::lpt, lpt_register_command, {}, 1, bad},
      {"read without output", DeviceKind::lpt, lpt_register_command, {0x12}, 0, bad},
      {"three bytes", DeviceKind::lpt, lpt_register_command, {0x00, 1, 2}, 1, bad},
      {"not a command", DeviceKind::lpt, lpt_register_command, {0x40, 1}, 0, bad},
      {"short EEPROM offset", DeviceKind::lpt, lpt_eeprom_read, {0}, 1, bad},
      {"EEPROM read without output", DeviceKind::lpt, lpt_eeprom_read, {0, 0}, 0, bad},
      {"EEPROM offset 1", DeviceKind::lpt, lpt_eeprom_write, {1, 0}, 1, RequestStatus::device_error},
      {"EEPROM write without data", DeviceKind::lpt, lpt_eeprom_write, {0, 0}, 0, bad},
      {"EEPROM write with two data bytes", DeviceKind::lpt, lpt_eeprom_write, {0, 0}, 2, bad},
      {"EZ-USB request on LPT", DeviceKind::lpt, ezusb_bulk_write, {0, 0, 0, 0}, 2, unknown},
      {"control request on LPT", DeviceKind::lpt, control_set_lpt, {5}, 0, unknown},
      {"command on answer pipe", DeviceKind::ezusb, ezusb_bulk_write, {1, 0, 0, 0}, 2, bad},
      {"short pipe number", DeviceKind::ezusb, ezusb_bulk_write, {0, 0, 0}, 2, bad},
      {"answer from command pipe", DeviceKind::ezusb, ezusb_bulk_read, {0, 0, 0, 0}, 1, bad},
      {"empty bulk write", DeviceKind::ezusb, ezusb_bulk_write, {0, 0, 0, 0}, 0, bad},
      {"LPT request on EZ-USB", DeviceKind::ezusb, lpt_register_command, {0x00, 1}, 0, unknown},
      {"short port request", DeviceKind::port_io, port_io_read, {0x78, 3, 0, 0}, 4, bad},
      {"unknown port", DeviceKind::port_io, port_io_write, words(0x3BC, 0, 1), 0, bad},
      {"word-wide port", DeviceKind::port_io, port_io_write, words(0x378, 1, 1), 0, bad},
      {"value above a byte", DeviceKind::port_io, port_io_write, words(0x378, 0, 0x100), 0, bad},
      {"small output", DeviceKind::port_io, port_io_read, words(0x378, 0, 0), 1, bad},
      {"unknown port request", DeviceKind::port_io, 0x80FF000C, words(0x378, 0, 0), 4, unknown},
      {"short state", DeviceKind::control, control_set_state, Bytes(16, 0), 0, bad},
      {"mode 5 state", DeviceKind::control, control_set_state,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0, 0, 0, 0, 0, 0xC2}, 0, bad},
      {"failure 3", DeviceKind::control, control_set_failure, {3}, 0, bad},
      {"small snapshot", DeviceKind::control, control_get_state, {}, snapshot_size - 1, bad},
      {"short animation period", DeviceKind::control, kControlAnimate, {50}, 0, bad},
      {"small write log", DeviceKind::control, kControlTakeWrites, {}, kWriteLogAnswerSize - 1,
       bad},
  };
  for (const Case& c : cases) {
    Adapter adapter{};
    Bytes output(c.output_size, 0x00);
    const RequestResult result = send(adapter, c.device, c.code, c.input, output);
    EXPECT_EQ(result.status, c.expected) << c.what;
    EXPECT_EQ(result.bytes_returned, 0u) << c.what;
    EXPECT_EQ(save_state(adapter), save_state(Adapter{})) << c.what;
  }
}

TEST(AdapterRequests, ControlDevice) {
  Adapter adapter{};
  Bytes none;
  Bytes state{0x01, 0xA5, 0x04, 0, 0, 0, 0, 0, 0, 0, 0x23, 0, 0, 0, 0, 0x7F, 0xB2};
  EXPECT_EQ(send(adapter, DeviceKind::control, control_set_state, state, none).status, RequestStatus::success);
  EXPECT_EQ(send(adapter, DeviceKind::control, control_set_lpt, {5}, none).status, RequestStatus::success);
  EXPECT_EQ(send(adapter, DeviceKind::control, control_set_failure, {1}, none).status, RequestStatus::success);
  Bytes snapshot(snapshot_size);
  EXPECT_EQ(send(adapter, DeviceKind::control, control_get_state, {}, snapshot).bytes_returned, snapshot_size);
  EXPECT_EQ(snapshot, (Bytes{0x01, 0xA5, 0x04, 0, 0, 0, 0, 0, 0, 0, 0x21, 0, 0, 0, 0, 0x7F, 0xB2, 5, 1}));
  EXPECT_EQ(send(adapter, DeviceKind::control, control_power_on, {}, none).status, RequestStatus::success);
  send(adapter, DeviceKind::control, control_get_state, {}, snapshot);
  EXPECT_EQ(snapshot, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0xC2, 5, 1}));
}

TEST(AdapterRequests, WriteLogShowsEveryWriteOnceAlsoIgnoredOnes) {
  Adapter adapter{};
  Bytes none;
  send(adapter, DeviceKind::lpt, lpt_register_command, {0x0A, 0xE0}, none);  // configuration mode
  send(adapter, DeviceKind::lpt, lpt_register_command, {0x08, 0x5A}, none);  // cfgA ignores it
  send(adapter, DeviceKind::port_io, port_io_write, words(0x379, 0, 0x33), none);
  Bytes answer(1);
  send(adapter, DeviceKind::lpt, lpt_register_command, {0x18}, answer);  // a read: not logged
  Bytes log(kWriteLogAnswerSize);
  EXPECT_EQ(send(adapter, DeviceKind::control, kControlTakeWrites, {}, log).bytes_returned,
            kWriteLogAnswerSize);
  EXPECT_EQ(Bytes(log.begin(), log.begin() + 8), (Bytes{3, 0, 0x0A, 0xE0, 0x08, 0x5A, 0x01, 0x33}));
  send(adapter, DeviceKind::control, kControlTakeWrites, {}, log);
  EXPECT_EQ(log[0], 0) << "taken: the log is empty";

  for (unsigned i = 0; i < kWriteLogSize + 3; ++i)
    send(adapter, DeviceKind::lpt, lpt_register_command, {0x00, static_cast<std::uint8_t>(i)},
         none);
  send(adapter, DeviceKind::control, kControlTakeWrites, {}, log);
  EXPECT_EQ(Bytes(log.begin(), log.begin() + 4), (Bytes{kWriteLogSize, 1, 0x00, 3}))
      << "the oldest are dropped";
  EXPECT_EQ(log.back(), kWriteLogSize + 2);
}

TEST(AdapterRequests, AnimateSwitchesTheLinesOnAndOff) {
  Adapter adapter{};
  Bytes none;
  EXPECT_EQ(send(adapter, DeviceKind::control, kControlAnimate, {0x2C, 0x01}, none).status,
            RequestStatus::success);
  EXPECT_EQ(adapter.animation.period_ms, 300);
  EXPECT_EQ(read_register(adapter, status_register), AnimationPattern(0).status);
  send(adapter, DeviceKind::control, kControlAnimate, {0, 0}, none);
  EXPECT_EQ(adapter.animation.period_ms, 0);
  EXPECT_EQ(read_register(adapter, status_register), AnimationPattern(0).status);
}

}  // namespace
}  // namespace tarnel_sim
