#include "monitor/monitor.h"

#include "monitor/diagram.h"
#include "monitor/modes.h"
#include "monitor/register_access.h"
#include "monitor/resource_ids.h"
#include "monitor/state.h"
#include "monitor/tooltips.h"

#include <array>

namespace port_monitor {

namespace {

constexpr std::uint8_t kDataStartValue = 0x8F;
// A hex field's text is read as at most this many characters.
constexpr std::size_t kHexInputLength = 9;

bool IsHexField(int id) {
  return (id >= IDC_WRITE_DATA && id <= IDC_WRITE_CONTROL) ||
         (id >= IDC_CFGA && id <= IDC_WRITE_ECR);
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

Dialog& TheDialog() { return *Monitor().dialog; }

}  // namespace

HexText FormatHex(std::uint8_t value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return HexText{{kDigits[value >> 4], kDigits[value & 15], '\0'}};
}

int CurrentMode() { return Monitor().shown_values[10] >> 5; }

void StartMonitor(Dialog& dialog, Graphics& graphics) {
  MonitorState& state = Monitor();
  state.dialog = &dialog;
  state.graphics = &graphics;

  FillModeList();
  WriteRegister(0, kDataStartValue);
  // shown values start as the complement, so the first poll finds every bit
  // changed and draws everything.
  for (int index = 0; index < kRegisterCount; ++index) {
    const std::uint8_t value = ReadRegister(index);
    state.written_values[static_cast<std::size_t>(index)] = value;
    state.shown_values[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(~value);
  }
  CreateDrawingObjects();
  dialog.InitCommonControls();
  dialog.CreateTooltip();
  dialog.SetChecked(IDC_TARGET_ADDRESS, true);
  dialog.StartTimer(POLL_TIMER_ID, POLL_PERIOD_MS);
}

void PollRegisters() {
  const int mode = CurrentMode();
  if (mode < 2 || mode == 4 || !Monitor().data_read_back) RefreshRegister(0);
  RefreshRegister(1);
  RefreshRegister(2);
  if (mode == kConfigurationMode) {
    RefreshRegister(8);
    RefreshRegister(9);
  }
  RefreshRegister(10);
  FollowReadBackMode();
}

void RefreshRegister(int index) {
  MonitorState& state = Monitor();
  Dialog& dialog = TheDialog();
  const std::uint8_t value = ReadRegister(index);
  if (index == 0) state.data_read_back = true;
  std::uint8_t& shown = state.shown_values[static_cast<std::size_t>(index & 15)];
  if (value == shown) return;

  if (index >= 0 && index <= 2) {
    Canvas& canvas = dialog.AcquireCanvas();
    for (int bit = 0; bit < 8; ++bit) {
      const auto mask = static_cast<std::uint8_t>(1u << bit);
      if (((value ^ shown) & mask) == 0) continue;
      shown ^= mask;
      const auto code = static_cast<SignalCode>((index << 4) | bit);
      DrawBitBox(canvas, code);
      if (const std::optional<int> pin = LabelPinOf(code)) DrawPin(canvas, *pin);
    }
    dialog.ReleaseCanvas(canvas);
    dialog.SetText(IDC_SHOWN_DATA + index, FormatHex(value).text);
    return;
  }
  if (index == 8 || index == 9) {
    ShowValue(IDC_WRITE_DATA + index, value);
  } else if (index == 10) {
    const std::uint8_t changed = value ^ shown;
    if (changed & 0x01) dialog.SetChecked(IDC_FIFO_EMPTY, (value & 0x01) != 0);
    if (changed & 0x02) dialog.SetChecked(IDC_FIFO_FULL, (value & 0x02) != 0);
    // ApplyMode reads and sets shown values 8 and 9 itself; store the ECR
    // first so that the mode it arranges is the current one.
    shown = value;
    if (changed & 0xE0) ApplyMode(value >> 5);
    dialog.SetText(IDC_SHOWN_ECR, FormatHex(value).text);
  }
  shown = value;
}

void ShowValue(int field_id, std::uint8_t value) {
  Dialog& dialog = TheDialog();
  dialog.SetText(field_id, FormatHex(value).text);
  // Setting the text started the delay timer; a value the program shows is
  // not to be written back.
  dialog.StopTimer(static_cast<unsigned>(field_id));
}

std::optional<std::uint64_t> ParseHexInput(std::string_view text) {
  if (text.empty() || text.size() > kHexInputLength) return std::nullopt;
  std::uint64_t number = 0;  // 9 hex digits fit without overflow
  for (const char c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    number = number * 16 + static_cast<std::uint64_t>(digit);
  }
  return number;
}

std::optional<std::uint64_t> ReadHexInput(int field_id) {
  // One character more than is read, to tell an over-long text from one
  // that merely fills the nine.
  std::array<char, kHexInputLength + 2> buffer{};
  const std::size_t length = TheDialog().GetText(field_id, buffer);
  return ParseHexInput(std::string_view(buffer.data(), length < buffer.size() ? length : 0));
}

void DelayedWrite(unsigned timer_id) {
  MonitorState& state = Monitor();
  Dialog& dialog = TheDialog();
  const int field = static_cast<int>(timer_id);
  if (!IsHexField(field)) return;
  dialog.StopTimer(timer_id);
  if (field == IDC_CFGB && CurrentMode() != kConfigurationMode) {
    OutputByte();  // field 169 holds the byte to output
    return;
  }
  dialog.SelectAllText(field);
  const std::optional<std::uint64_t> number = ReadHexInput(field);
  if (!number) {
    dialog.Beep();
    return;
  }
  const int index = field - IDC_WRITE_DATA;
  if (*number == state.written_values[static_cast<std::size_t>(index)]) return;
  WriteRegister(index, static_cast<std::uint8_t>(*number & 0xFF));
  if (index <= 2) RedrawRow(index);
}

void ToggleBit(int x, int y) {
  MonitorState& state = Monitor();
  SignalCode code = 0;
  if (const std::optional<int> pin = PinAt(x, y)) {
    code = kPinMap[static_cast<std::size_t>(*pin)];
  } else if (const std::optional<SignalCode> box = BitBoxAt(x, y)) {
    code = *box;
  } else {
    return;
  }
  const int row = RowOf(code);
  const int bit = BitOf(code);
  const auto slot = static_cast<std::size_t>(row);
  WriteRegister(row, static_cast<std::uint8_t>(state.written_values[slot] ^ (1u << bit)));
  ShowValue(IDC_WRITE_DATA + row, state.written_values[slot]);
  Dialog& dialog = TheDialog();
  Canvas& canvas = dialog.AcquireCanvas();
  DrawBitBox(canvas, code);
  dialog.ReleaseCanvas(canvas);
  RefreshRegister(row);
}

void OnEditChange(int field_id) {
  if (IsHexField(field_id)) {
    TheDialog().StartTimer(static_cast<unsigned>(field_id), DELAY_PERIOD_MS);
  }
}

bool HandleCommand(int id, int code) {
  switch (id) {
    case MONITOR_IDCANCEL:
      return true;
    case IDC_MODE_LIST:
      if (code == MONITOR_CBN_SELCHANGE) SwitchMode(TheDialog().GetListSelection(IDC_MODE_LIST));
      return false;
    case IDC_REFRESH_DATA:
      RefreshRegister(0);
      return false;
    case IDC_OUTPUT_BYTE:
      OutputByte();
      return false;
    case IDC_READ_BYTE:
      ReadByte();
      return false;
    default:
      if (code == MONITOR_EN_CHANGE) OnEditChange(id);
      return false;
  }
}

void HandleTimer(unsigned timer_id) {
  if (timer_id == POLL_TIMER_ID) {
    PollRegisters();
  } else {
    DelayedWrite(timer_id);
  }
}

}  // namespace port_monitor
