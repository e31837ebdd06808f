#include "tests/unit/monitor/fakes.h"

#include "monitor/diagram.h"
#include "monitor/modes.h"
#include "monitor/monitor.h"
#include "monitor/state.h"

#include <gtest/gtest.h>

namespace port_monitor::testing {
namespace {

// The power-on state of the adapter: all zero, ECR mode 0 with FIFO empty.
struct Started : MonitorFixture {
  explicit Started(std::uint8_t ecr = 0x01) {
    port.registers[10] = ecr;
    Start();
  }
  // The first polls bring everything on screen; then start recording afresh.
  void Settle() {
    PollRegisters();
    PollRegisters();
    ClearRecords();
  }
};

TEST(StartMonitor, RunsItsStepsInOrder) {
  MonitorFixture m;
  m.port.registers = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                      0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x0F};
  m.ClearRecords();
  m.Start();
  std::vector<std::string> expected = {"list SPP (Nibble)", "list Bidirektional", "list AutoStrobe",
                                       "list ECP",          "list EPP",           "list reserviert",
                                       "list Test",         "list Konfiguration", "write 0 143"};
  for (int i = 0; i < 16; ++i) expected.push_back("read " + std::to_string(i));
  for (const char* kind :
       {"pen", "pen", "pen", "brush", "brush", "brush", "pen", "pen", "null pen", "font", "font"}) {
    expected.push_back(std::string("make ") + kind);
  }
  for (const char* step : {"common controls", "tooltip", "check 122", "timer 1 100"})
    expected.push_back(step);
  EXPECT_EQ(m.log, expected);

  const MonitorState& state = Monitor();
  EXPECT_EQ(state.written_values[0], 0x8F);  // written before the read
  EXPECT_EQ(state.shown_values[0], 0x70);
  for (std::size_t i = 1; i < 16; ++i) {
    EXPECT_EQ(state.written_values[i], m.port.registers[i]);
    EXPECT_EQ(state.shown_values[i], static_cast<std::uint8_t>(~m.port.registers[i]));
  }
  EXPECT_EQ(state.hover_id, 0);
}

TEST(PollRegisters, FirstPollRedrawsEveryBoxAndPinAndFillsTheReadBackFields) {
  Started m;
  m.ClearRecords();
  PollRegisters();
  EXPECT_EQ(m.dialog.canvas.Count("rectangle"), 24);
  EXPECT_EQ(m.dialog.canvas.Count("ellipse"), 17);  // every pin wired to a bit
  EXPECT_EQ(m.dialog.canvases_acquired, m.dialog.canvases_released);
  EXPECT_EQ(m.dialog.Text(IDC_SHOWN_DATA), "8F");
  EXPECT_EQ(m.dialog.Text(IDC_SHOWN_STATUS), "00");
  EXPECT_EQ(m.dialog.Text(IDC_SHOWN_CONTROL), "00");
  EXPECT_EQ(m.dialog.Text(IDC_SHOWN_ECR), "01");
  EXPECT_TRUE(m.dialog.checked[IDC_FIFO_EMPTY]);
  EXPECT_FALSE(m.dialog.checked[IDC_FIFO_FULL]);
  EXPECT_EQ(m.dialog.selection, 0);  // the port's mode applied
  EXPECT_EQ(Monitor().shown_values[0], 0x8F);
}

TEST(PollRegisters, WithoutADeviceShowsTheCommandBytes) {
  if (kAccessMethod != AccessMethod::kAdapterLpt) GTEST_SKIP() << "built for another access method";
  MonitorFixture m;
  ResetMonitor();
  m.device.open_fails = true;
  OpenAccessPathBy(AccessMethod::kAdapterLpt, m.device, m.ports);
  m.Start();
  PollRegisters();
  EXPECT_EQ(m.dialog.Text(IDC_SHOWN_DATA), "10");
  EXPECT_EQ(m.dialog.Text(IDC_SHOWN_STATUS), "11");
  EXPECT_EQ(m.dialog.Text(IDC_SHOWN_CONTROL), "12");
  EXPECT_EQ(m.dialog.Text(IDC_SHOWN_ECR), "1A");
}

TEST(PollRegisters, FindingNoChangeDrawsNothingAndSetsNoField) {
  for (const std::uint8_t ecr : {0x01, 0x21, 0x41, 0x61, 0x81, 0xA1, 0xC1, 0xE1}) {
    Started m(ecr);
    m.port.refused_modes = {5};
    m.Settle();
    PollRegisters();
    EXPECT_EQ(m.dialog.canvases_acquired, 0);
    EXPECT_TRUE(m.dialog.set_texts.empty());
    EXPECT_EQ(m.dialog.other_control_changes, 0);
    EXPECT_TRUE(m.dialog.timers.count(IDC_CFGA) == 0 && m.dialog.timers.count(IDC_CFGB) == 0);
  }
}

TEST(PollRegisters, ReadsWhatTheModeNeedsAndNeverMoreThanSix) {
  const struct {
    std::uint8_t ecr;
    std::vector<int> reads;
  } cases[] = {
      {0x00, {0, 1, 2, 10}}, {0x20, {0, 1, 2, 10}}, {0x40, {1, 2, 10}}, {0x60, {1, 2, 10}},
      {0x80, {0, 1, 2, 10}}, {0xA0, {1, 2, 10}},    {0xC0, {1, 2, 10}}, {0xE0, {1, 2, 8, 9, 10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ecr);
    Started m(c.ecr);
    EXPECT_LE(m.Reads(), 16);
    m.ClearRecords();
    PollRegisters();  // the first poll, with the mode of the complement
    EXPECT_LE(m.Reads(), 6);
    m.ClearRecords();
    PollRegisters();
    EXPECT_EQ(m.port.reads, c.reads);
  }
  // A poll that sees the switch to configuration mode: 0, 1, 2, 10, then
  // ApplyMode reads cfgA and cfgB.
  Started m(0x00);
  m.Settle();
  m.port.registers[10] = 0xE0;
  PollRegisters();
  EXPECT_EQ(m.port.reads, (std::vector<int>{0, 1, 2, 10, 8, 9}));
}

TEST(RefreshRegister, RedrawsOnlyTheChangedBitsAndTheirPins) {
  Started m;
  m.Settle();
  m.port.registers[1] = 0x80 | 0x01;  // S7 (pin 11) and S0 (no pin)
  RefreshRegister(1);
  EXPECT_EQ(m.dialog.canvas.Count("rectangle"), 2);
  EXPECT_EQ(m.dialog.canvas.Count("ellipse"), 1);
  EXPECT_EQ(m.dialog.canvas.calls[0].box, BitBoxSquare(0x10));  // bit 0 first
  EXPECT_EQ(m.dialog.canvases_acquired, 1);
  EXPECT_EQ(m.dialog.canvases_released, 1);
  EXPECT_EQ(m.dialog.set_texts,
            (std::vector<std::pair<int, std::string>>{{IDC_SHOWN_STATUS, "81"}}));
  EXPECT_EQ(Monitor().shown_values[1], 0x81);
}

TEST(RefreshRegister, EcrSetsOnlyTheChangedFifoIndicatorsAndRearrangesOnlyOnAModeChange) {
  Started m(0x01);
  m.Settle();
  m.port.registers[10] = 0x02;  // FIFO full, not empty, same mode
  RefreshRegister(10);
  EXPECT_EQ(m.dialog.other_control_changes, 2);
  EXPECT_TRUE(m.dialog.checked[IDC_FIFO_FULL]);
  EXPECT_FALSE(m.dialog.checked[IDC_FIFO_EMPTY]);
  EXPECT_EQ(m.dialog.Text(IDC_SHOWN_ECR), "02");
  m.ClearRecords();
  m.port.registers[10] = 0x82;  // EPP
  RefreshRegister(10);
  EXPECT_EQ(m.dialog.selection, 4);
  EXPECT_GT(m.dialog.other_control_changes, 2);
}

TEST(RefreshRegister, CfgRegistersGoToTheirFieldsWithoutADelayedWrite) {
  Started m(0xE0);
  m.Settle();
  m.port.registers[9] = 0x5A;
  RefreshRegister(9);
  EXPECT_EQ(m.dialog.Text(IDC_CFGB), "5A");
  EXPECT_TRUE(m.dialog.timers.count(IDC_CFGB) == 0);
}

TEST(ParseHexInput, AcceptsOnlyUpToNineHexDigits) {
  const struct {
    const char* text;
    std::optional<std::uint64_t> number;
  } cases[] = {
      {"12", 0x12},
      {"1FF", 0x1FF},
      {"ab", 0xAB},
      {"0", 0},
      {"123456789", 0x123456789},
      {"FFFFFFFFF", 0xFFFFFFFFF},  // no wrap-around to a small number
      {"", std::nullopt},
      {"0x12", std::nullopt},
      {"0X12", std::nullopt},
      {"12G", std::nullopt},
      {"G", std::nullopt},
      {" 12", std::nullopt},
      {"12 ", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {"1234567890", std::nullopt},  // ten characters: not cut to nine
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseHexInput(c.text), c.number);
  }
}

TEST(DelayedWrite, WritesTheLowByteOfTheFieldsNumber) {
  Started m;
  m.Settle();
  m.dialog.texts[IDC_WRITE_STATUS] = "1FF";
  OnEditChange(IDC_WRITE_STATUS);
  EXPECT_EQ(m.dialog.timers.at(IDC_WRITE_STATUS), 500u);
  DelayedWrite(IDC_WRITE_STATUS);
  EXPECT_EQ(m.Writes(), (std::vector<std::pair<int, std::uint8_t>>{{1, 0xFF}}));
  EXPECT_EQ(m.dialog.timers.count(IDC_WRITE_STATUS), 0u);
  EXPECT_EQ(m.dialog.select_all, std::vector<int>{IDC_WRITE_STATUS});
  EXPECT_EQ(m.dialog.canvas.Count("rectangle"), 8);  // the status row redrawn
  EXPECT_EQ(m.Reads(), 0);                           // the read-back follows with the next poll
}

TEST(DelayedWrite, BadInputBeepsAndWritesNothing) {
  for (const char* text : {"", "12G", "0x12", "xyz"}) {
    Started m;
    m.Settle();
    m.dialog.texts[IDC_WRITE_DATA] = text;
    DelayedWrite(IDC_WRITE_DATA);
    EXPECT_EQ(m.dialog.beeps, 1) << text;
    EXPECT_TRUE(m.Writes().empty()) << text;
  }
}

TEST(DelayedWrite, TheWrittenValueAgainWritesNothing) {
  Started m;
  m.Settle();
  m.dialog.texts[IDC_WRITE_ECR] = "01";
  DelayedWrite(IDC_WRITE_ECR);
  m.dialog.texts[IDC_WRITE_ECR] = "101";  // differs as a number
  DelayedWrite(IDC_WRITE_ECR);
  EXPECT_EQ(m.Writes(), (std::vector<std::pair<int, std::uint8_t>>{{10, 0x01}}));
  EXPECT_EQ(m.dialog.beeps, 0);
}

TEST(DelayedWrite, Field169WritesCfgBInConfigurationModeElseOutputsTheByte) {
  Started configuration(0xE0);
  configuration.Settle();
  configuration.dialog.texts[IDC_CFGB] = "3C";
  DelayedWrite(IDC_CFGB);
  EXPECT_EQ(configuration.Writes(), (std::vector<std::pair<int, std::uint8_t>>{{9, 0x3C}}));

  Started spp(0x00);
  spp.Settle();
  spp.dialog.texts[IDC_CFGB] = "3C";
  DelayedWrite(IDC_CFGB);
  EXPECT_EQ(spp.Writes().front(), (std::pair<int, std::uint8_t>{0, 0x3C}));
  EXPECT_EQ(spp.dialog.Text(IDC_CFGB), "3D");
}

TEST(ToggleBit, FlipsTheBitOfAPinOrBoxWritesShowsAndReadsBack) {
  const struct {
    Point at;
    int row;
    std::uint8_t flipped;
  } cases[] = {
      {{254, 104}, 2, 0x01},  // pin 1: C0, the inverted flag is ignored
      {{238, 104}, 0, 0x01},  // pin 2: D0
      {{126, 62}, 0, 0x80},   // box D7
      {{194, 172}, 1, 0x01},  // box S0, no pin
      {{262, 212}, 2, 0x01},  // box C0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at.x);
    Started m;
    m.Settle();
    const std::uint8_t before = Monitor().written_values[static_cast<std::size_t>(c.row)];
    const std::uint8_t after = static_cast<std::uint8_t>(before ^ c.flipped);
    ToggleBit(c.at.x, c.at.y);
    EXPECT_EQ(m.Writes(), (std::vector<std::pair<int, std::uint8_t>>{{c.row, after}}));
    EXPECT_EQ(m.dialog.Text(IDC_WRITE_DATA + c.row), FormatHex(after).text);
    EXPECT_EQ(m.port.reads, std::vector<int>{c.row});
    EXPECT_TRUE(m.dialog.timers.count(static_cast<unsigned>(IDC_WRITE_DATA + c.row)) == 0);
  }
}

TEST(ToggleBit, AStatusBitTheRegisterIgnoresKeepsItsReadBack) {
  Started m;
  m.port.read_only_mask[1] = 0xFF;
  m.Settle();
  ToggleBit(82, 172);  // S7
  EXPECT_EQ(Monitor().written_values[1], 0x80);
  EXPECT_EQ(Monitor().shown_values[1], 0x00);
  EXPECT_EQ(m.dialog.canvas.Count("rectangle"), 1);  // only the written half changed
}

TEST(ToggleBit, GroundPinsAndEmptySpaceDoNothing) {
  Started m;
  m.Settle();
  for (int pin = 17; pin < kPinCount; ++pin) {
    const Point centre = PinCentre(pin);
    ToggleBit(centre.x, centre.y);
  }
  for (const Point empty : {Point{0, 0}, Point{300, 300}, Point{150, 150}, Point{-1, -1}}) {
    ToggleBit(empty.x, empty.y);
  }
  EXPECT_TRUE(m.Writes().empty());
  EXPECT_EQ(m.Reads(), 0);
  EXPECT_EQ(m.dialog.canvases_acquired, 0);
  EXPECT_TRUE(m.dialog.set_texts.empty());
}

TEST(ProgramSetFields, StartNoDelayedWrite) {
  Started m(0x00);
  m.Settle();
  ToggleBit(254, 104);
  SwitchMode(7);
  m.dialog.texts[IDC_CFGB] = "41";
  OutputByte();
  m.port.registers[10] = 0xE0;
  PollRegisters();  // ApplyMode(7) shows cfgA and cfgB
  EXPECT_EQ(m.dialog.Text(IDC_CFGA), "00");
  EXPECT_TRUE(m.dialog.timers.size() == 1 && m.dialog.timers.count(POLL_TIMER_ID) == 1);
}

TEST(HandleCommand, FollowsTheMessageTable) {
  Started m;
  m.Settle();
  EXPECT_TRUE(HandleCommand(MONITOR_IDCANCEL, 0));
  EXPECT_FALSE(HandleCommand(IDC_WRITE_CONTROL, MONITOR_EN_CHANGE));
  EXPECT_EQ(m.dialog.timers.at(IDC_WRITE_CONTROL), 500u);
  HandleCommand(IDC_SHOWN_DATA, MONITOR_EN_CHANGE);  // read-only fields have no timer
  EXPECT_EQ(m.dialog.timers.count(IDC_SHOWN_DATA), 0u);
  m.port.registers[0] = 0x55;
  HandleCommand(IDC_REFRESH_DATA, 0);
  EXPECT_EQ(m.dialog.Text(IDC_SHOWN_DATA), "55");
  m.dialog.selection = 3;
  HandleCommand(IDC_MODE_LIST, 0);  // not a selection change
  EXPECT_TRUE(m.Writes().empty());
  HandleCommand(IDC_MODE_LIST, MONITOR_CBN_SELCHANGE);
  EXPECT_EQ(m.Writes(), (std::vector<std::pair<int, std::uint8_t>>{{10, 0x61}}));
  m.dialog.texts[IDC_WRITE_CONTROL] = "04";
  HandleTimer(IDC_WRITE_CONTROL);
  EXPECT_EQ(Monitor().written_values[2], 0x04);
}

}  // namespace
}  // namespace port_monitor::testing
