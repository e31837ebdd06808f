#include "tests/unit/monitor/fakes.h"

#include "monitor/register_access.h"
#include "monitor/state.h"

#include <gtest/gtest.h>

namespace port_monitor::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The access path of one method over the fakes.
struct AccessPath {
  FakePort port;
  FakeDevice device;
  FakePorts ports;

  explicit AccessPath(AccessMethod method, bool with_device = true) {
    ResetMonitor();
    device.port = &port;
    ports.port = &port;
    device.open_fails = !with_device;
    OpenAccessPathBy(method, device, ports);
  }
  ~AccessPath() { ResetMonitor(); }
};

TEST(PortAddress, IndicesAboveSevenAreBasePlus400) {
  EXPECT_EQ(PortAddressOf(0x378, 10), 0x77A);
  EXPECT_EQ(PortAddressOf(0x378, 8), 0x778);
  EXPECT_EQ(PortAddressOf(0x378, 7), 0x37F);
  EXPECT_EQ(PortAddressOf(0x378, 0), 0x378);
  EXPECT_EQ(PortAddressOf(0x378, 15), 0x77F);
}

TEST(OpenAccessPath, OpensTheMethodsDeviceReadWriteOnce) {
  const struct {
    AccessMethod method;
    const char* name;
  } cases[] = {{AccessMethod::kPortIoDriver, "\\\\.\\ZLPORTIO"},
               {AccessMethod::kUsbBulk, "\\\\.\\EZUSB-0"},
               {AccessMethod::kAdapterLpt, "\\\\.\\LPT2"}};
  for (const auto& c : cases) {
    AccessPath path(c.method);
    EXPECT_EQ(path.device.opened, std::vector<std::string>{c.name});
    CloseAccessPath();
    CloseAccessPath();  // a second close finds no handle
    EXPECT_EQ(path.device.closed, 1);
  }
  AccessPath instructions(AccessMethod::kPortInstructions);
  EXPECT_TRUE(instructions.device.opened.empty());
  CloseAccessPath();
  EXPECT_EQ(instructions.device.closed, 0);
}

TEST(AdapterLpt, WriteSendsIndexAndValue) {
  AccessPath path(AccessMethod::kAdapterLpt);
  WriteRegisterBy(AccessMethod::kAdapterLpt, 0x378, 0, 0xAB);
  ASSERT_EQ(path.device.requests.size(), 1u);
  const Request& request = path.device.requests[0];
  EXPECT_EQ(request.code, 0x222010u);
  EXPECT_EQ(request.input, (Bytes{0x00, 0xAB}));
  EXPECT_TRUE(request.output.empty());
  EXPECT_EQ(path.port.registers[0], 0xAB);
  EXPECT_EQ(Monitor().written_values[0], 0xAB);
}

TEST(AdapterLpt, ReadSendsCommandByteAndTakesTheAnswerInItsPlace) {
  AccessPath path(AccessMethod::kAdapterLpt);
  path.port.registers[2] = 0x5C;
  Monitor().written_values[2] = 0x77;
  EXPECT_EQ(ReadRegisterBy(AccessMethod::kAdapterLpt, 0x378, 2), 0x5C);
  ASSERT_EQ(path.device.requests.size(), 1u);
  const Request& request = path.device.requests[0];
  EXPECT_EQ(request.code, 0x222010u);
  EXPECT_EQ(request.input, Bytes{0x12});
  EXPECT_EQ(request.output, Bytes{0x12});
  EXPECT_TRUE(request.same_buffer);
  EXPECT_EQ(Monitor().written_values[2], 0x77);  // a read leaves it alone
}

TEST(UsbBulk, WritePassesTheCommandAsOutputBufferOnPipe0) {
  AccessPath path(AccessMethod::kUsbBulk);
  WriteRegisterBy(AccessMethod::kUsbBulk, 0x378, 9, 0x3C);
  ASSERT_EQ(path.device.requests.size(), 1u);
  EXPECT_EQ(path.device.requests[0].code, 0x222051u);
  EXPECT_EQ(path.device.requests[0].input, (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(path.device.requests[0].output, (Bytes{0x09, 0x3C}));
  EXPECT_EQ(path.port.registers[9], 0x3C);
}

TEST(UsbBulk, ReadSendsCommandOnPipe0WaitsAndReadsPipe1) {
  AccessPath path(AccessMethod::kUsbBulk);
  path.port.registers[10] = 0x35;
  EXPECT_EQ(ReadRegisterBy(AccessMethod::kUsbBulk, 0x378, 10), 0x35);
  ASSERT_EQ(path.device.requests.size(), 2u);
  EXPECT_EQ(path.device.requests[0].code, 0x222051u);
  EXPECT_EQ(path.device.requests[0].input, (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(path.device.requests[0].output, Bytes{0x1A});
  EXPECT_EQ(path.device.requests[1].code, 0x22204Eu);
  EXPECT_EQ(path.device.requests[1].input, (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(path.device.requests[1].output.size(), 1u);
  EXPECT_EQ(path.device.sleeps, std::vector<unsigned>{1});
}

TEST(PortIoDriver, WriteIsThreeWordsAddressZeroValue) {
  AccessPath path(AccessMethod::kPortIoDriver);
  WriteRegisterBy(AccessMethod::kPortIoDriver, 0x378, 0, 0x8F);
  ASSERT_EQ(path.device.requests.size(), 1u);
  EXPECT_EQ(path.device.requests[0].code, 0x80FF0008u);
  EXPECT_EQ(path.device.requests[0].input, (Bytes{0x78, 0x03, 0, 0, 0, 0, 0, 0, 0x8F, 0, 0, 0}));
  EXPECT_TRUE(path.device.requests[0].output.empty());
}

TEST(PortIoDriver, ReadTakesTheLowByteOfAZeroedWord) {
  AccessPath path(AccessMethod::kPortIoDriver);
  path.port.registers[10] = 0x21;
  EXPECT_EQ(ReadRegisterBy(AccessMethod::kPortIoDriver, 0x378, 10), 0x21);
  ASSERT_EQ(path.device.requests.size(), 1u);
  EXPECT_EQ(path.device.requests[0].code, 0x80FF0004u);
  EXPECT_EQ(path.device.requests[0].input, (Bytes{0x7A, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(path.device.requests[0].output, (Bytes{0, 0, 0, 0}));
}

TEST(PortInstructions, UseTheProcessorsPortIoOnThePortAddress) {
  AccessPath path(AccessMethod::kPortInstructions);
  WriteRegisterBy(AccessMethod::kPortInstructions, 0x378, 8, 0x42);
  path.port.registers[2] = 0x0C;
  EXPECT_EQ(ReadRegisterBy(AccessMethod::kPortInstructions, 0x378, 2), 0x0C);
  EXPECT_EQ(path.ports.outs, (std::vector<std::pair<std::uint16_t, std::uint8_t>>{{0x778, 0x42}}));
  EXPECT_EQ(path.ports.ins, std::vector<std::uint16_t>{0x37A});
  EXPECT_TRUE(path.device.requests.empty());
  EXPECT_EQ(Monitor().written_values[8], 0x42);
}

// A failed read yields what its buffer held: the command byte for the
// adapter commands, zero for the port-I/O driver. Without a device nothing is
// sent at all; a failed write still updates written values.
TEST(FailedRequests, ReadTheBufferContentsAndKeepWrittenValues) {
  const struct {
    AccessMethod method;
    bool with_device;
    std::uint8_t register2, register10;
  } cases[] = {
      {AccessMethod::kAdapterLpt, false, 0x12, 0x1A}, {AccessMethod::kAdapterLpt, true, 0x12, 0x1A},
      {AccessMethod::kUsbBulk, false, 0x12, 0x1A},    {AccessMethod::kUsbBulk, true, 0x12, 0x1A},
      {AccessMethod::kPortIoDriver, false, 0, 0},     {AccessMethod::kPortIoDriver, true, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.method) * 10 + c.with_device);
    AccessPath path(c.method, c.with_device);
    path.device.requests_fail = true;
    path.port.registers.fill(0x99);
    EXPECT_EQ(ReadRegisterBy(c.method, 0x378, 0), c.register2 == 0 ? 0 : 0x10);
    EXPECT_EQ(ReadRegisterBy(c.method, 0x378, 2), c.register2);
    EXPECT_EQ(ReadRegisterBy(c.method, 0x378, 10), c.register10);
    WriteRegisterBy(c.method, 0x378, 1, 0x5A);
    EXPECT_EQ(Monitor().written_values[1], 0x5A);
    EXPECT_EQ(path.port.registers[1], 0x99);
    if (!c.with_device) {
      EXPECT_TRUE(path.device.requests.empty());
    }
  }
}

}  // namespace
}  // namespace port_monitor::testing
