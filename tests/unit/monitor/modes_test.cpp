#include "tests/unit/monitor/fakes.h"

#include "monitor/modes.h"
#include "monitor/monitor.h"
#include "monitor/state.h"

#include <gtest/gtest.h>

namespace port_monitor::testing {
namespace {

using Writes = std::vector<std::pair<int, std::uint8_t>>;

// A started monitor whose port reports `ecr`, after its first polls.
struct InMode : MonitorFixture {
  explicit InMode(std::uint8_t ecr) {
    port.registers[10] = ecr;
    Start();
    PollRegisters();
    PollRegisters();
    ClearRecords();
  }
};

TEST(FillModeList, AddsTheEightNamesInOrder) {
  MonitorFixture m;
  m.Start();
  EXPECT_EQ(m.dialog.list,
            (std::vector<std::string>{"SPP (Nibble)", "Bidirektional", "AutoStrobe", "ECP", "EPP",
                                      "reserviert", "Test", "Konfiguration"}));
}

TEST(ApplyMode, ArrangesTheLowerControlsByTheModeFlags) {
  struct Row {
    int mode;
    bool cfga, cfga_read_only, read_button, radios, cfgb, output_button, labels, refresh;
    const char* caption;
  };
  const Row rows[] = {
      {0, false, true, false, false, true, true, false, false, "&Adresse"},
      {1, false, true, false, false, true, true, false, false, "&Adresse"},
      {2, false, true, false, false, true, true, false, true, "&Adresse"},
      {3, true, true, true, true, true, true, false, true, "Komm&ando"},
      {4, true, true, true, true, true, true, false, false, "&Adresse"},
      {5, false, true, false, false, false, false, false, true, "&Adresse"},
      {6, true, true, true, false, true, true, false, true, "&Adresse"},
      {7, true, false, false, false, true, false, true, true, "&Adresse"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.mode);
    InMode m(static_cast<std::uint8_t>(r.mode << 5));
    FakeDialog& d = m.dialog;
    EXPECT_EQ(d.selection, r.mode);
    EXPECT_EQ(d.visible[IDC_CFGA], r.cfga);
    EXPECT_EQ(d.read_only[IDC_CFGA], r.cfga_read_only);
    EXPECT_EQ(d.visible[IDC_READ_BYTE], r.read_button);
    EXPECT_EQ(d.visible[IDC_TARGET_ADDRESS], r.radios);
    EXPECT_EQ(d.visible[IDC_TARGET_DATA], r.radios);
    EXPECT_EQ(d.Text(IDC_TARGET_ADDRESS), r.caption);
    EXPECT_EQ(d.visible[IDC_OUTPUT_BYTE], r.output_button);
    EXPECT_EQ(d.visible[IDC_CFGB], r.cfgb);
    EXPECT_FALSE(d.read_only[IDC_CFGB]);
    EXPECT_EQ(d.visible[IDC_LABEL_CFGA], r.labels);
    EXPECT_EQ(d.visible[IDC_LABEL_CFGB], r.labels);
    EXPECT_EQ(d.visible[IDC_REFRESH_DATA], r.refresh);
  }
}

TEST(SwitchMode, WritesTheModeKeepingTheWrittenLowBitsAndWaitsForTheReadBack) {
  InMode m(0x00);
  Monitor().written_values[10] = 0x15;
  m.port.registers[8] = 0x10;
  m.port.registers[9] = 0x3C;
  SwitchMode(7);
  EXPECT_EQ(m.Writes(), (Writes{{10, 0xF5}}));
  EXPECT_EQ(m.dialog.Text(IDC_WRITE_ECR), "F5");
  EXPECT_EQ(m.dialog.timers.count(IDC_WRITE_ECR), 0u);
  EXPECT_EQ(m.dialog.other_control_changes, 0);  // the controls wait for the read-back
  EXPECT_FALSE(m.dialog.visible[IDC_LABEL_CFGA]);

  PollRegisters();
  EXPECT_EQ(m.dialog.selection, 7);
  EXPECT_EQ(m.dialog.Text(IDC_CFGA), "10");
  EXPECT_EQ(m.dialog.Text(IDC_CFGB), "3C");
  EXPECT_FALSE(m.dialog.read_only[IDC_CFGA]);
  EXPECT_FALSE(m.dialog.read_only[IDC_CFGB]);
  EXPECT_TRUE(m.dialog.visible[IDC_LABEL_CFGA]);
  EXPECT_TRUE(m.dialog.visible[IDC_LABEL_CFGB]);
  EXPECT_EQ(Monitor().shown_values[8], 0x10);
  EXPECT_EQ(Monitor().shown_values[9], 0x3C);
}

TEST(SwitchMode, NoSelectionWritesNothing) {
  InMode m(0x00);
  SwitchMode(-1);
  EXPECT_TRUE(m.Writes().empty());
}

TEST(SwitchMode, ARefusedModeLeavesTheControlsAndTheListFollowsThePort) {
  InMode m(0x80);  // EPP
  m.port.refused_modes = {5};
  m.dialog.selection = 5;  // the user's choice
  SwitchMode(5);
  m.dialog.ClearRecords();
  PollRegisters();
  EXPECT_EQ(m.dialog.selection, 4);
  EXPECT_EQ(m.dialog.other_control_changes, 1);  // the list only, no rearranging
  m.dialog.texts[IDC_CFGB] = "12";
  OutputByte();  // acts on the list's selection, now the port's mode
  EXPECT_EQ(m.port.writes.back().first, 3);
}

TEST(SwitchMode, TheListIsLeftAloneWhileTheUserHasItOpen) {
  InMode m(0x80);
  m.dialog.dropped_down = true;
  m.dialog.selection = 6;  // highlighted, not chosen yet
  PollRegisters();
  EXPECT_EQ(m.dialog.selection, 6);
  m.dialog.dropped_down = false;
  PollRegisters();
  EXPECT_EQ(m.dialog.selection, 4);
}

TEST(OutputByte, StrobesInMode0) {
  InMode m(0x00);
  Monitor().written_values[2] = 0x04;
  m.dialog.texts[IDC_CFGB] = "41";
  OutputByte();
  EXPECT_EQ(m.Writes(), (Writes{{0, 0x41}, {2, 0x05}, {2, 0x04}}));
  EXPECT_EQ(m.dialog.Text(IDC_WRITE_DATA), "41");
  EXPECT_EQ(m.dialog.Text(IDC_CFGB), "42");
  EXPECT_EQ(m.dialog.canvas.Count("rectangle"), 8);  // the data row
  EXPECT_EQ(m.dialog.select_all.back(), IDC_CFGB);
  EXPECT_EQ(m.dialog.timers.count(IDC_CFGB) + m.dialog.timers.count(IDC_WRITE_DATA), 0u);
}

TEST(OutputByte, FFWrapsTo00) {
  InMode m(0x40);
  m.dialog.texts[IDC_CFGB] = "ff";
  OutputByte();
  EXPECT_EQ(m.Writes(), (Writes{{0, 0xFF}}));
  EXPECT_EQ(m.dialog.Text(IDC_CFGB), "00");
}

TEST(OutputByte, GoesWhereTheModeAndTargetSay) {
  const struct {
    std::uint8_t ecr;
    bool address;
    Writes writes;
    bool data_row_shows;
  } cases[] = {
      {0x40, true, {{0, 0x5A}}, true},    // AutoStrobe
      {0x60, true, {{0, 0x5A}}, false},   // ECP command
      {0x60, false, {{8, 0x5A}}, false},  // ECP data FIFO
      {0x80, true, {{3, 0x5A}}, true},    // EPP address
      {0x80, false, {{4, 0x5A}}, true},   // EPP data
      {0xC0, true, {{8, 0x5A}}, false},   // test FIFO
      {0xA0, true, {}, false},            // reserved
      {0xE0, true, {}, false},            // configuration
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int{c.ecr} * 2 + c.address);
    InMode m(c.ecr);
    m.dialog.checked[IDC_TARGET_ADDRESS] = c.address;
    m.dialog.texts[IDC_CFGB] = "5A";
    m.dialog.texts[IDC_WRITE_DATA] = "";
    OutputByte();
    EXPECT_EQ(m.Writes(), c.writes);
    EXPECT_EQ(m.dialog.Text(IDC_WRITE_DATA), c.data_row_shows ? "5A" : "");
    if (c.ecr == 0x80) {
      EXPECT_EQ(Monitor().written_values[0], 0x5A);  // the data lines carry the byte
      EXPECT_EQ(m.dialog.canvas.Count("rectangle"), 8);
    }
    EXPECT_EQ(m.dialog.Text(IDC_CFGB), "5B");
  }
}

TEST(OutputByte, WithNoSelectionStillAdvancesTheField) {
  InMode m(0x00);
  m.dialog.selection = -1;
  m.dialog.texts[IDC_CFGB] = "7F";
  OutputByte();
  EXPECT_TRUE(m.Writes().empty());
  EXPECT_EQ(m.dialog.Text(IDC_CFGB), "80");
}

TEST(OutputByte, BadOrTooLargeInputBeepsKeepsFocusAndWritesNothing) {
  for (const char* text : {"", "100", "12G", "0x12", "FFFFFFFFF"}) {
    SCOPED_TRACE(text);
    InMode m(0x00);
    m.dialog.texts[IDC_CFGB] = text;
    OutputByte();
    EXPECT_EQ(m.dialog.beeps, 1);
    EXPECT_EQ(m.dialog.focus, IDC_CFGB);
    EXPECT_EQ(m.dialog.select_all, std::vector<int>{IDC_CFGB});
    EXPECT_TRUE(m.Writes().empty());
    EXPECT_EQ(m.dialog.Text(IDC_CFGB), text);
  }
}

TEST(ReadByte, ReadsTheModesRegisterIntoField168) {
  const struct {
    int selection;
    bool address;
    int index;  // -1: nothing happens
  } cases[] = {
      {0, true, -1}, {1, true, -1}, {2, true, -1}, {5, true, -1}, {7, true, -1}, {-1, true, -1},
      {3, true, 0},  {3, false, 8}, {4, true, 3},  {4, false, 4}, {6, true, 8},  {6, false, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selection * 2 + c.address);
    InMode m(0x00);
    m.port.registers = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0, 0, 0, 0xA8, 0, 0, 0, 0, 0, 0, 0};
    m.dialog.selection = c.selection;
    m.dialog.checked[IDC_TARGET_ADDRESS] = c.address;
    const RegisterValues shown = Monitor().shown_values;
    ReadByte();
    if (c.index < 0) {
      EXPECT_EQ(m.Reads(), 0);
      EXPECT_TRUE(m.dialog.set_texts.empty());
    } else {
      EXPECT_EQ(m.port.reads, std::vector<int>{c.index});
      EXPECT_EQ(m.dialog.Text(IDC_CFGA),
                FormatHex(m.port.registers[static_cast<std::size_t>(c.index)]).text);
      EXPECT_EQ(m.dialog.timers.count(IDC_CFGA), 0u);
    }
    EXPECT_EQ(Monitor().shown_values, shown);
  }
}

}  // namespace
}  // namespace port_monitor::testing
