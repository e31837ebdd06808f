#include "tests/unit/monitor/fakes.h"

#include "monitor/monitor.h"
#include "monitor/state.h"

#include <algorithm>
#include <cstring>

namespace port_monitor::testing {

namespace {

std::uint32_t Word(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::uint32_t word = 0;
  for (std::size_t i = 0; i < 4; ++i) word |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
  return word;
}

int IndexOfPort(std::uint32_t address) {
  const std::uint32_t offset = address - kPortBase;
  return offset < 8 ? static_cast<int>(offset) : static_cast<int>(offset - 0x400 + 8);
}

bool IsEdit(int id) {
  return (id >= IDC_WRITE_DATA && id <= IDC_WRITE_CONTROL) ||
         (id >= IDC_CFGA && id <= IDC_WRITE_ECR) ||
         (id >= IDC_SHOWN_DATA && id <= IDC_SHOWN_CONTROL) || id == IDC_SHOWN_ECR;
}

}  // namespace

void FakePort::Write(int index, std::uint8_t value) {
  writes.emplace_back(index, value);
  if (log) log->push_back("write " + std::to_string(index) + " " + std::to_string(value));
  auto& reg = registers[static_cast<std::size_t>(index & 15)];
  if (index == 10 && refused_modes.count(value >> 5) != 0) return;
  const std::uint8_t mask = read_only_mask[static_cast<std::size_t>(index & 15)];
  reg = static_cast<std::uint8_t>((reg & mask) | (value & ~mask));
}

std::uint8_t FakePort::Read(int index) {
  reads.push_back(index);
  if (log) log->push_back("read " + std::to_string(index));
  return registers[static_cast<std::size_t>(index & 15)];
}

DeviceHandle FakeDevice::Open(const char* name) {
  opened.emplace_back(name);
  if (log) log->push_back(std::string("open ") + name);
  return open_fails ? kInvalidDevice : kHandle;
}

bool FakeDevice::Control(DeviceHandle handle, std::uint32_t code,
                         std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  requests.push_back({code,
                      {input.begin(), input.end()},
                      {output.begin(), output.end()},
                      !input.empty() && input.data() == output.data()});
  if (handle != kHandle || requests_fail || port == nullptr) return false;
  switch (code) {
    case kAdapterRegisterRequest:
      if (input.size() == 2) {
        port->Write(input[0] & 15, input[1]);
      } else if (input.size() == 1 && output.size() == 1) {
        output[0] = port->Read(input[0] & 15);
      } else {
        return false;
      }
      return true;
    case kBulkWriteRequest:
      if (input.size() != 4 || Word(input, 0) != 0) return false;
      if (output.size() == 2) {
        port->Write(output[0] & 15, output[1]);
      } else if (output.size() == 1) {
        pending_answer = port->Read(output[0] & 15);
      } else {
        return false;
      }
      return true;
    case kBulkReadRequest:
      if (input.size() != 4 || Word(input, 0) != 1 || output.size() != 1) return false;
      output[0] = pending_answer;
      return true;
    case kPortWriteRequest:
      if (input.size() != 12) return false;
      port->Write(IndexOfPort(Word(input, 0)), static_cast<std::uint8_t>(Word(input, 8)));
      return true;
    case kPortReadRequest:
      if (input.size() != 12 || output.size() != 4) return false;
      std::fill(output.begin(), output.end(), std::uint8_t{0});
      output[0] = port->Read(IndexOfPort(Word(input, 0)));
      return true;
    default:
      return false;
  }
}

void FakeDevice::Close(DeviceHandle) { ++closed; }

void FakeDevice::Sleep(unsigned milliseconds) { sleeps.push_back(milliseconds); }

std::uint8_t FakePorts::In(std::uint16_t address) {
  ins.push_back(address);
  return port ? port->Read(IndexOfPort(address)) : 0xFF;
}

void FakePorts::Out(std::uint16_t address, std::uint8_t value) {
  outs.emplace_back(address, value);
  if (port) port->Write(IndexOfPort(address), value);
}

DrawingObject FakeGraphics::Make(MadeObject object) {
  if (log) log->push_back("make " + object.kind);
  made.push_back(std::move(object));
  return made.size();
}
DrawingObject FakeGraphics::MakePen(int width, Color color) {
  return Make({"pen", width, color, {}});
}
DrawingObject FakeGraphics::MakeNullPen() { return Make({"null pen", 0, {}, {}}); }
DrawingObject FakeGraphics::MakeBrush(Color color) { return Make({"brush", 0, color, {}}); }
DrawingObject FakeGraphics::MakeFont(int height, const char* face) {
  return Make({"font", height, {}, face});
}
void FakeGraphics::Destroy(DrawingObject object) { destroyed.push_back(object); }

DrawingObject FakeCanvas::Select(DrawingObject object) {
  ++selects;
  DrawingObject* slot = &pen;
  if (object == kDefaultBrush) {
    slot = &brush;
  } else if (object == kDefaultFont) {
    slot = &font;
  } else if (object != kDefaultPen && graphics != nullptr && object >= 1 &&
             object <= graphics->made.size()) {
    const std::string& kind = graphics->made[object - 1].kind;
    if (kind == "brush") slot = &brush;
    if (kind == "font") slot = &font;
  }
  const DrawingObject previous = *slot;
  *slot = object;
  return previous;
}

DrawCall FakeCanvas::Call(std::string kind) const {
  return DrawCall{std::move(kind), {}, {}, {}, 0, pen, brush, font, transparent};
}

void FakeCanvas::DrawPolygon(std::span<const Point> corners) {
  DrawCall call = Call("polygon");
  call.points.assign(corners.begin(), corners.end());
  calls.push_back(call);
}
void FakeCanvas::DrawEllipse(Rect box) {
  DrawCall call = Call("ellipse");
  call.box = box;
  calls.push_back(call);
}
void FakeCanvas::DrawRectangle(Rect box) {
  DrawCall call = Call("rectangle");
  call.box = box;
  calls.push_back(call);
}
void FakeCanvas::DrawLine(Point from, Point to) {
  DrawCall call = Call("line");
  call.points = {from, to};
  calls.push_back(call);
}
void FakeCanvas::WriteText(Point origin, std::string_view text) {
  DrawCall call = Call("text");
  call.points = {origin};
  call.text = text;
  calls.push_back(call);
}
void FakeCanvas::WriteClippedText(Point origin, Rect clip, std::string_view text, int advance) {
  DrawCall call = Call("clipped text");
  call.points = {origin};
  call.box = clip;
  call.text = text;
  call.advance = advance;
  calls.push_back(call);
}
void FakeCanvas::SetTransparentBackground(bool value) { transparent = value; }

int FakeCanvas::Count(std::string_view kind) const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                        [&](const DrawCall& call) { return call.kind == kind; }));
}

void FakeDialog::SetText(int id, const char* text) {
  texts[id] = text;
  set_texts.emplace_back(id, text);
  if (log) log->push_back("text " + std::to_string(id) + " " + text);
  // Windows notifies the dialog of every text change of an edit field.
  if (IsEdit(id)) HandleCommand(id, MONITOR_EN_CHANGE);
}

std::size_t FakeDialog::GetText(int id, std::span<char> buffer) {
  const std::string& text = texts[id];
  const std::size_t length = std::min(text.size(), buffer.size() - 1);
  std::memcpy(buffer.data(), text.data(), length);
  buffer[length] = '\0';
  return length;
}

void FakeDialog::SetVisible(int id, bool value) {
  visible[id] = value;
  ++other_control_changes;
}
void FakeDialog::SetReadOnly(int id, bool value) {
  read_only[id] = value;
  ++other_control_changes;
}
void FakeDialog::SetChecked(int id, bool value) {
  checked[id] = value;
  ++other_control_changes;
  if (log) log->push_back("check " + std::to_string(id));
}
bool FakeDialog::IsChecked(int id) { return checked[id]; }
void FakeDialog::AddListString(int, const char* text) {
  list.emplace_back(text);
  if (log) log->push_back(std::string("list ") + text);
}
void FakeDialog::SelectListIndex(int, int index) {
  selection = index;
  ++other_control_changes;
}
int FakeDialog::GetListSelection(int) { return selection; }
void FakeDialog::SelectAllText(int id) { select_all.push_back(id); }
void FakeDialog::SetFocus(int id) { focus = id; }
void FakeDialog::Beep() { ++beeps; }
void FakeDialog::StartTimer(unsigned id, unsigned period_ms) {
  timers[id] = period_ms;
  if (log) log->push_back("timer " + std::to_string(id) + " " + std::to_string(period_ms));
}
void FakeDialog::StopTimer(unsigned id) { timers.erase(id); }
Canvas& FakeDialog::AcquireCanvas() {
  ++canvases_acquired;
  return canvas;
}
void FakeDialog::ReleaseCanvas(Canvas&) { ++canvases_released; }
void FakeDialog::InitCommonControls() {
  if (log) log->push_back("common controls");
}
void FakeDialog::CreateTooltip() {
  if (log) log->push_back("tooltip");
}
void FakeDialog::ActivateTooltip(bool active) {
  ++(active ? tooltip_activations : tooltip_deactivations);
}
void FakeDialog::PositionTooltip(Point screen) { tooltip_positions.push_back(screen); }
void FakeDialog::SetHandCursor() { ++hand_cursors; }

std::string FakeDialog::Text(int id) const {
  const auto found = texts.find(id);
  return found == texts.end() ? std::string() : found->second;
}

void FakeDialog::ClearRecords() {
  set_texts.clear();
  other_control_changes = 0;
  beeps = 0;
  focus = 0;
  select_all.clear();
  canvases_acquired = canvases_released = 0;
  canvas.calls.clear();
  canvas.selects = 0;
  tooltip_activations = tooltip_deactivations = 0;
  tooltip_positions.clear();
  hand_cursors = 0;
}

MonitorFixture::MonitorFixture() {
  ResetMonitor();
  device.port = &port;
  ports.port = &port;
  device.log = &log;
  port.log = &log;
  graphics.log = &log;
  dialog.log = &log;
  dialog.canvas.graphics = &graphics;
  OpenAccessPath(device, ports);
}

MonitorFixture::~MonitorFixture() { ResetMonitor(); }

void MonitorFixture::Start() { StartMonitor(dialog, graphics); }

void MonitorFixture::ClearRecords() {
  dialog.ClearRecords();
  port.writes.clear();
  port.reads.clear();
  device.requests.clear();
  log.clear();
}

}  // namespace port_monitor::testing
