#include <gtest/gtest.h>

#include <vector>

#include "sim/adapter/model/requests.h"

namespace tarnel_sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

RequestResult Send(Adapter& adapter, DeviceKind device, std::uint32_t code, const Bytes& input,
                   Bytes& output) {
  return HandleRequest(adapter, device, code, {input, output});
}

Bytes Words(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  Bytes bytes;
  for (std::uint32_t word : {a, b, c})
    for (unsigned i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
  return bytes;
}

TEST(AdapterRequests, LptRegisterCommands) {
  Adapter adapter{};
  Bytes none;
  EXPECT_EQ(Send(adapter, DeviceKind::kLpt, kLptRegisterCommand, {0x00, 0xAB}, none).status,
            RequestStatus::kSuccess);
  EXPECT_EQ(adapter.registers[0], 0xAB);

  // The read command and its answer share one byte, as the caller passes it.
  std::uint8_t shared = 0x10;
  const RequestResult result =
      HandleRequest(adapter, DeviceKind::kLpt, kLptRegisterCommand,
                    {std::span<const std::uint8_t>(&shared, 1), std::span(&shared, 1)});
  EXPECT_EQ(result.status, RequestStatus::kSuccess);
  EXPECT_EQ(result.bytes_returned, 1u);
  EXPECT_EQ(shared, 0xAB);
}

TEST(AdapterRequests, EepromRequestsAndFailureSwitch) {
  Adapter adapter{};
  Bytes byte{0x00};
  EXPECT_EQ(Send(adapter, DeviceKind::kLpt, kLptEepromRead, {0, 0}, byte).bytes_returned, 1u);
  EXPECT_EQ(byte[0], 0xC2);
  byte[0] = 0xFF;  // the value to write travels in the direct buffer
  EXPECT_EQ(Send(adapter, DeviceKind::kLpt, kLptEepromWrite, {0, 0}, byte).status,
            RequestStatus::kSuccess);
  EXPECT_EQ(adapter.eeprom_first, 0xFF);

  adapter.eeprom_failure = EepromFailure::kRead;
  EXPECT_EQ(Send(adapter, DeviceKind::kLpt, kLptEepromRead, {0, 0}, byte).status,
            RequestStatus::kDeviceError);
  adapter.eeprom_failure = EepromFailure::kWrite;
  byte[0] = 0x00;
  EXPECT_EQ(Send(adapter, DeviceKind::kLpt, kLptEepromWrite, {0, 0}, byte).status,
            RequestStatus::kDeviceError);
  EXPECT_EQ(adapter.eeprom_first, 0xFF);
}

TEST(AdapterRequests, EzUsbReadCommandThenAnswerPipe) {
  Adapter adapter{};
  Bytes data{0x02, 0x0C};
  EXPECT_EQ(Send(adapter, DeviceKind::kEzusb, kEzusbBulkWrite, {0, 0, 0, 0}, data).status,
            RequestStatus::kSuccess);
  Bytes command{0x12};
  EXPECT_EQ(Send(adapter, DeviceKind::kEzusb, kEzusbBulkWrite, {0, 0, 0, 0}, command).status,
            RequestStatus::kSuccess);
  Bytes answer{0x00};
  const RequestResult result =
      Send(adapter, DeviceKind::kEzusb, kEzusbBulkRead, {1, 0, 0, 0}, answer);
  EXPECT_EQ(result.status, RequestStatus::kSuccess);
  EXPECT_EQ(result.bytes_returned, 1u);
  EXPECT_EQ(answer[0], 0x0C);
  EXPECT_EQ(Send(adapter, DeviceKind::kEzusb, kEzusbBulkRead, {1, 0, 0, 0}, answer).status,
            RequestStatus::kDeviceError)
      << "each read command is answered once";
}

TEST(AdapterRequests, PortAddresses) {
  struct Case {
    std::uint32_t address;
    int index;
  };
  for (const Case c :
       {Case{0x378, 0}, Case{0x37F, 7}, Case{0x778, 8}, Case{0x77A, 10}, Case{0x77F, 15},
        Case{0x377, -1}, Case{0x380, -1}, Case{0x777, -1}, Case{0x780, -1}, Case{0x3BC, -1}}) {
    EXPECT_EQ(RegisterOfPort(c.address), c.index) << std::hex << c.address;
  }
}

TEST(AdapterRequests, PortIoReadAndWrite) {
  Adapter adapter{};
  Bytes none;
  EXPECT_EQ(Send(adapter, DeviceKind::kPortIo, kPortIoWrite, Words(0x378, 0, 0x8F), none).status,
            RequestStatus::kSuccess);
  Bytes word(4, 0xEE);
  const RequestResult result =
      Send(adapter, DeviceKind::kPortIo, kPortIoRead, Words(0x378, 0, 0), word);
  EXPECT_EQ(result.bytes_returned, 4u);
  EXPECT_EQ(word, (Bytes{0x8F, 0, 0, 0}));
  Send(adapter, DeviceKind::kPortIo, kPortIoRead, Words(0x77A, 0, 0), word);
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
  const auto bad = RequestStatus::kInvalidParameter;
  const auto unknown = RequestStatus::kInvalidRequest;
  const Case cases[] = {
      {"empty command", DeviceKind::kLpt, kLptRegisterCommand, {}, 1, bad},
      {"read without output", DeviceKind::kLpt, kLptRegisterCommand, {0x12}, 0, bad},
      {"three bytes", DeviceKind::kLpt, kLptRegisterCommand, {0x00, 1, 2}, 1, bad},
      {"not a command", DeviceKind::kLpt, kLptRegisterCommand, {0x40, 1}, 0, bad},
      {"short EEPROM offset", DeviceKind::kLpt, kLptEepromRead, {0}, 1, bad},
      {"EEPROM read without output", DeviceKind::kLpt, kLptEepromRead, {0, 0}, 0, bad},
      {"EEPROM offset 1",
       DeviceKind::kLpt,
       kLptEepromWrite,
       {1, 0},
       1,
       RequestStatus::kDeviceError},
      {"EEPROM write without data", DeviceKind::kLpt, kLptEepromWrite, {0, 0}, 0, bad},
      {"EEPROM write with two data bytes", DeviceKind::kLpt, kLptEepromWrite, {0, 0}, 2, bad},
      {"EZ-USB request on LPT", DeviceKind::kLpt, kEzusbBulkWrite, {0, 0, 0, 0}, 2, unknown},
      {"control request on LPT", DeviceKind::kLpt, kControlSetLpt, {5}, 0, unknown},
      {"command on answer pipe", DeviceKind::kEzusb, kEzusbBulkWrite, {1, 0, 0, 0}, 2, bad},
      {"short pipe number", DeviceKind::kEzusb, kEzusbBulkWrite, {0, 0, 0}, 2, bad},
      {"answer from command pipe", DeviceKind::kEzusb, kEzusbBulkRead, {0, 0, 0, 0}, 1, bad},
      {"empty bulk write", DeviceKind::kEzusb, kEzusbBulkWrite, {0, 0, 0, 0}, 0, bad},
      {"LPT request on EZ-USB", DeviceKind::kEzusb, kLptRegisterCommand, {0x00, 1}, 0, unknown},
      {"short port request", DeviceKind::kPortIo, kPortIoRead, {0x78, 3, 0, 0}, 4, bad},
      {"unknown port", DeviceKind::kPortIo, kPortIoWrite, Words(0x3BC, 0, 1), 0, bad},
      {"word-wide port", DeviceKind::kPortIo, kPortIoWrite, Words(0x378, 1, 1), 0, bad},
      {"value above a byte", DeviceKind::kPortIo, kPortIoWrite, Words(0x378, 0, 0x100), 0, bad},
      {"small output", DeviceKind::kPortIo, kPortIoRead, Words(0x378, 0, 0), 1, bad},
      {"unknown port request", DeviceKind::kPortIo, 0x80FF000C, Words(0x378, 0, 0), 4, unknown},
      {"short state", DeviceKind::kControl, kControlSetState, Bytes(16, 0), 0, bad},
      {"mode 5 state",
       DeviceKind::kControl,
       kControlSetState,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0, 0, 0, 0, 0, 0xC2},
       0,
       bad},
      {"failure 3", DeviceKind::kControl, kControlSetFailure, {3}, 0, bad},
      {"small snapshot", DeviceKind::kControl, kControlGetState, {}, kSnapshotSize - 1, bad},
      {"short animation period", DeviceKind::kControl, kControlAnimate, {50}, 0, bad},
      {"small write log",
       DeviceKind::kControl,
       kControlTakeWrites,
       {},
       kWriteLogAnswerSize - 1,
       bad},
  };
  for (const Case& c : cases) {
    Adapter adapter{};
    Bytes output(c.output_size, 0x00);
    const RequestResult result = Send(adapter, c.device, c.code, c.input, output);
    EXPECT_EQ(result.status, c.expected) << c.what;
    EXPECT_EQ(result.bytes_returned, 0u) << c.what;
    EXPECT_EQ(SaveState(adapter), SaveState(Adapter{})) << c.what;
  }
}

TEST(AdapterRequests, ControlDevice) {
  Adapter adapter{};
  Bytes none;
  Bytes state{0x01, 0xA5, 0x04, 0, 0, 0, 0, 0, 0, 0, 0x23, 0, 0, 0, 0, 0x7F, 0xB2};
  EXPECT_EQ(Send(adapter, DeviceKind::kControl, kControlSetState, state, none).status,
            RequestStatus::kSuccess);
  EXPECT_EQ(Send(adapter, DeviceKind::kControl, kControlSetLpt, {5}, none).status,
            RequestStatus::kSuccess);
  EXPECT_EQ(Send(adapter, DeviceKind::kControl, kControlSetFailure, {1}, none).status,
            RequestStatus::kSuccess);
  Bytes snapshot(kSnapshotSize);
  EXPECT_EQ(Send(adapter, DeviceKind::kControl, kControlGetState, {}, snapshot).bytes_returned,
            kSnapshotSize);
  EXPECT_EQ(snapshot,
            (Bytes{0x01, 0xA5, 0x04, 0, 0, 0, 0, 0, 0, 0, 0x21, 0, 0, 0, 0, 0x7F, 0xB2, 5, 1}));
  EXPECT_EQ(Send(adapter, DeviceKind::kControl, kControlPowerOn, {}, none).status,
            RequestStatus::kSuccess);
  Send(adapter, DeviceKind::kControl, kControlGetState, {}, snapshot);
  EXPECT_EQ(snapshot, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0xC2, 5, 1}));
}

TEST(AdapterRequests, WriteLogShowsEveryWriteOnceAlsoIgnoredOnes) {
  Adapter adapter{};
  Bytes none;
  Send(adapter, DeviceKind::kLpt, kLptRegisterCommand, {0x0A, 0xE0}, none);  // configuration mode
  Send(adapter, DeviceKind::kLpt, kLptRegisterCommand, {0x08, 0x5A}, none);  // cfgA ignores it
  Send(adapter, DeviceKind::kPortIo, kPortIoWrite, Words(0x379, 0, 0x33), none);
  Bytes answer(1);
  Send(adapter, DeviceKind::kLpt, kLptRegisterCommand, {0x18}, answer);  // a read: not logged
  Bytes log(kWriteLogAnswerSize);
  EXPECT_EQ(Send(adapter, DeviceKind::kControl, kControlTakeWrites, {}, log).bytes_returned,
            kWriteLogAnswerSize);
  EXPECT_EQ(Bytes(log.begin(), log.begin() + 8), (Bytes{3, 0, 0x0A, 0xE0, 0x08, 0x5A, 0x01, 0x33}));
  Send(adapter, DeviceKind::kControl, kControlTakeWrites, {}, log);
  EXPECT_EQ(log[0], 0) << "taken: the log is empty";

  for (unsigned i = 0; i < kWriteLogSize + 3; ++i)
    Send(adapter, DeviceKind::kLpt, kLptRegisterCommand, {0x00, static_cast<std::uint8_t>(i)},
         none);
  Send(adapter, DeviceKind::kControl, kControlTakeWrites, {}, log);
  EXPECT_EQ(Bytes(log.begin(), log.begin() + 4), (Bytes{kWriteLogSize, 1, 0x00, 3}))
      << "the oldest are dropped";
  EXPECT_EQ(log.back(), kWriteLogSize + 2);
}

TEST(AdapterRequests, AnimateSwitchesTheLinesOnAndOff) {
  Adapter adapter{};
  Bytes none;
  EXPECT_EQ(Send(adapter, DeviceKind::kControl, kControlAnimate, {0x2C, 0x01}, none).status,
            RequestStatus::kSuccess);
  EXPECT_EQ(adapter.animation.period_ms, 300);
  EXPECT_EQ(ReadRegister(adapter, kStatusRegister), AnimationPattern(0).status);
  Send(adapter, DeviceKind::kControl, kControlAnimate, {0, 0}, none);
  EXPECT_EQ(adapter.animation.period_ms, 0);
  EXPECT_EQ(ReadRegister(adapter, kStatusRegister), AnimationPattern(0).status);
}

}  // namespace
}  // namespace tarnel_sim
