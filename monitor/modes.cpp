#include "monitor/modes.h"

#include "monitor/diagram.h"
#include "monitor/monitor.h"
#include "monitor/register_access.h"
#include "monitor/resource_ids.h"
#include "monitor/state.h"
#include "monitor/texts.h"

#include <string_view>

namespace port_monitor {

namespace {

Dialog& TheDialog() { return *Monitor().dialog; }

bool Has(std::uint8_t flags, std::uint8_t flag) { return (flags & flag) != 0; }

// Register of a byte transfer: in ECP mode the address side is the data
// register (command) and the data side the FIFO; in EPP mode the EPP address
// and data ports; in test mode the FIFO.
int TransferRegister(int mode, bool address_side) {
  switch (mode) {
    case 3:
      return address_side ? 0 : 8;
    case 4:
      return address_side ? 3 : 4;
    case 6:
      return 8;
    default:
      return -1;
  }
}

}  // namespace

void FillModeList() {
  Dialog& dialog = TheDialog();
  for (int mode = 0; mode < kModeCount; ++mode) {
    // The names are NUL-terminated inside the list, so data() is a C string.
    dialog.AddListString(IDC_MODE_LIST, NameListEntry(kModeNames, mode).data());
  }
}

void SwitchMode(int selection) {
  if (selection < 0 || selection >= kModeCount) return;
  MonitorState& state = Monitor();
  WriteRegister(10,
                static_cast<std::uint8_t>((selection << 5) | (state.written_values[10] & 0x1F)));
  ShowValue(IDC_WRITE_ECR, state.written_values[10]);
}

void ApplyMode(int mode) {
  MonitorState& state = Monitor();
  Dialog& dialog = TheDialog();
  const std::uint8_t flags = kModeFlags[static_cast<std::size_t>(mode & 7)];

  dialog.SelectListIndex(IDC_MODE_LIST, mode);
  dialog.SetVisible(IDC_CFGA, Has(flags, mode_flag::kCfgAVisible));
  dialog.SetReadOnly(IDC_CFGA, Has(flags, mode_flag::kCfgAReadOnly));
  dialog.SetVisible(IDC_READ_BYTE, Has(flags, mode_flag::kReadButton));
  dialog.SetVisible(IDC_TARGET_ADDRESS, Has(flags, mode_flag::kTargetRadios));
  dialog.SetVisible(IDC_TARGET_DATA, Has(flags, mode_flag::kTargetRadios));
  dialog.SetText(IDC_TARGET_ADDRESS, Has(flags, mode_flag::kCommandCaption) ? TEXT_TARGET_COMMAND
                                                                            : TEXT_TARGET_ADDRESS);
  dialog.SetVisible(IDC_OUTPUT_BYTE, Has(flags, mode_flag::kOutputButton));
  dialog.SetVisible(IDC_CFGB, Has(flags, mode_flag::kCfgBVisible));
  dialog.SetReadOnly(IDC_CFGB, Has(flags, mode_flag::kCfgBReadOnly));
  const bool labels = !Has(flags, mode_flag::kCfgAReadOnly);
  dialog.SetVisible(IDC_LABEL_CFGA, labels);
  dialog.SetVisible(IDC_LABEL_CFGB, labels);
  if (mode == kConfigurationMode) {
    state.shown_values[8] = ReadRegister(8);
    ShowValue(IDC_CFGA, state.shown_values[8]);
    state.shown_values[9] = ReadRegister(9);
    ShowValue(IDC_CFGB, state.shown_values[9]);
  }
  // The poll reads the data register itself in modes 0, 1 and 4.
  dialog.SetVisible(IDC_REFRESH_DATA, !(mode < 2 || mode == 4));
}

void FollowReadBackMode() {
  Dialog& dialog = TheDialog();
  const int mode = CurrentMode();
  // While the list is open the user is choosing; the next poll catches up.
  if (dialog.GetListSelection(IDC_MODE_LIST) != mode && !dialog.IsListDroppedDown(IDC_MODE_LIST)) {
    dialog.SelectListIndex(IDC_MODE_LIST, mode);
  }
}

void OutputByte() {
  MonitorState& state = Monitor();
  Dialog& dialog = TheDialog();
  const int selection = dialog.GetListSelection(IDC_MODE_LIST);
  const std::optional<std::uint64_t> number = ReadHexInput(IDC_CFGB);
  if (!number || *number >= 0x100) {
    dialog.Beep();
    dialog.SetFocus(IDC_CFGB);
    dialog.SelectAllText(IDC_CFGB);
    return;
  }
  const auto value = static_cast<std::uint8_t>(*number);
  const bool address_side =
      (selection == 3 || selection == 4) && dialog.IsChecked(IDC_TARGET_ADDRESS);
  switch (selection) {
    case 0:
    case 1:
      WriteRegister(0, value);
      // Strobe pulse: STB asserted, then released.
      WriteRegister(2, static_cast<std::uint8_t>(state.written_values[2] | 0x01));
      WriteRegister(2, static_cast<std::uint8_t>(state.written_values[2] & 0xFE));
      RedrawRow(0);
      ShowValue(IDC_WRITE_DATA, value);
      break;
    case 2:
      WriteRegister(0, value);
      ShowValue(IDC_WRITE_DATA, value);
      break;
    case 3:
      WriteRegister(TransferRegister(3, address_side), value);
      break;
    case 4:
      WriteRegister(TransferRegister(4, address_side), value);
      // The EPP port puts the byte on the data lines.
      state.written_values[0] = value;
      RedrawRow(0);
      ShowValue(IDC_WRITE_DATA, value);
      break;
    case 6:
      WriteRegister(TransferRegister(6, false), value);
      break;
    default:  // 5, 7 and no selection transfer nothing
      break;
  }
  // Repeated outputs send consecutive bytes.
  ShowValue(IDC_CFGB, static_cast<std::uint8_t>(value + 1));
  dialog.SelectAllText(IDC_CFGB);
}

void ReadByte() {
  Dialog& dialog = TheDialog();
  const int selection = dialog.GetListSelection(IDC_MODE_LIST);
  const int index = TransferRegister(selection, dialog.IsChecked(IDC_TARGET_ADDRESS));
  if (index < 0) return;
  ShowValue(IDC_CFGA, ReadRegister(index));
}

}  // namespace port_monitor
