// Recording fakes of the port monitor's platform interfaces, and a simple
// emulated port behind them that answers the requests of every access method.
#pragma once

#include "monitor/platform.h"
#include "monitor/register_access.h"
#include "monitor/resource_ids.h"

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace port_monitor::testing {

// The emulated port: registers read back what was last written, except the
// bits in `read_only_mask` (those keep `inputs`), and ECR mode switches to a
// mode in `refused_modes` do nothing.
struct FakePort {
  std::array<std::uint8_t, 16> registers{};
  std::array<std::uint8_t, 16> read_only_mask{};
  std::set<int> refused_modes;
  std::vector<std::pair<int, std::uint8_t>> writes;
  std::vector<int> reads;
  std::vector<std::string>* log = nullptr;

  void Write(int index, std::uint8_t value);
  std::uint8_t Read(int index);
};

struct Request {
  std::uint32_t code;
  std::vector<std::uint8_t> input;
  std::vector<std::uint8_t> output;  // the output buffer as it was passed in
  bool same_buffer;                  // input and output are the same bytes
};

// DeviceIo that records every request and lets `port` answer them.
struct FakeDevice final : DeviceIo {
  FakePort* port = nullptr;
  bool open_fails = false;
  bool requests_fail = false;
  std::vector<std::string> opened;
  int closed = 0;
  std::vector<unsigned> sleeps;
  std::vector<Request> requests;
  std::uint8_t pending_answer = 0;  // EZ-USB: the answer waiting on pipe 1
  std::vector<std::string>* log = nullptr;

  DeviceHandle Open(const char* name) override;
  bool Control(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output) override;
  void Close(DeviceHandle handle) override;
  void Sleep(unsigned milliseconds) override;

  static constexpr DeviceHandle kHandle = 0x44;
};

struct FakePorts final : PortIo {
  FakePort* port = nullptr;
  std::vector<std::pair<std::uint16_t, std::uint8_t>> outs;
  std::vector<std::uint16_t> ins;

  std::uint8_t In(std::uint16_t address) override;
  void Out(std::uint16_t address, std::uint8_t value) override;
};

struct MadeObject {
  std::string kind;  // "pen", "null pen", "brush", "font"
  int size;          // pen width or font height
  Color color;
  std::string face;
};

struct FakeGraphics final : Graphics {
  std::vector<MadeObject> made;  // handle = position + 1
  std::vector<DrawingObject> destroyed;
  std::vector<std::string>* log = nullptr;

  DrawingObject MakePen(int width, Color color) override;
  DrawingObject MakeNullPen() override;
  DrawingObject MakeBrush(Color color) override;
  DrawingObject MakeFont(int height, const char* face) override;
  void Destroy(DrawingObject object) override;
  DrawingObject Make(MadeObject object);
};

// One drawing call, with the objects selected at the time.
struct DrawCall {
  std::string kind;  // "polygon", "ellipse", "rectangle", "line", "text", "clipped text"
  std::vector<Point> points;
  Rect box;
  std::string text;
  int advance;
  DrawingObject pen, brush, font;
  bool transparent;
};

inline constexpr DrawingObject kDefaultPen = 1001;
inline constexpr DrawingObject kDefaultBrush = 1002;
inline constexpr DrawingObject kDefaultFont = 1003;

// Canvas that records calls. Object kinds come from the FakeGraphics.
struct FakeCanvas final : Canvas {
  const FakeGraphics* graphics = nullptr;
  DrawingObject pen = kDefaultPen, brush = kDefaultBrush, font = kDefaultFont;
  bool transparent = false;
  int selects = 0;
  std::vector<DrawCall> calls;

  DrawingObject Select(DrawingObject object) override;
  void DrawPolygon(std::span<const Point> corners) override;
  void DrawEllipse(Rect box) override;
  void DrawRectangle(Rect box) override;
  void DrawLine(Point from, Point to) override;
  void WriteText(Point origin, std::string_view text) override;
  void WriteClippedText(Point origin, Rect clip, std::string_view text, int advance) override;
  void SetTransparentBackground(bool value) override;

  DrawCall Call(std::string kind) const;
  int Count(std::string_view kind) const;
};

struct FakeDialog final : Dialog {
  std::map<int, std::string> texts;
  std::map<int, bool> visible, read_only, checked;
  std::vector<std::pair<int, std::string>> set_texts;  // every SetText
  int other_control_changes = 0;                       // visibility, read-only, check, list changes
  std::vector<std::string> list;
  int selection = -1;
  bool dropped_down = false;
  std::map<unsigned, unsigned> timers;  // running timers and their periods
  int beeps = 0;
  int focus = 0;
  std::vector<int> select_all;
  int canvases_acquired = 0, canvases_released = 0;
  FakeCanvas canvas;
  int tooltip_activations = 0, tooltip_deactivations = 0;
  std::vector<Point> tooltip_positions;
  int tooltip_height = 0;
  int hand_cursors = 0;
  std::vector<std::string>* log = nullptr;

  void SetText(int id, const char* text) override;
  std::size_t GetText(int id, std::span<char> buffer) override;
  void SetVisible(int id, bool value) override;
  void SetReadOnly(int id, bool value) override;
  void SetChecked(int id, bool value) override;
  bool IsChecked(int id) override;
  void AddListString(int id, const char* text) override;
  void SelectListIndex(int id, int index) override;
  int GetListSelection(int id) override;
  bool IsListDroppedDown(int) override { return dropped_down; }
  void SelectAllText(int id) override;
  void SetFocus(int id) override;
  void Beep() override;
  void StartTimer(unsigned id, unsigned period_ms) override;
  void StopTimer(unsigned id) override;
  Canvas& AcquireCanvas() override;
  void ReleaseCanvas(Canvas& canvas) override;
  void InitCommonControls() override;
  void CreateTooltip() override;
  void ActivateTooltip(bool active) override;
  void PositionTooltip(Point screen) override;
  int TooltipHeight() override { return tooltip_height; }
  void SetHandCursor() override;

  std::string Text(int id) const;
  // Forget everything recorded so far (state such as texts stays).
  void ClearRecords();
};

// A complete monitor on fakes: state reset, access path opened with the
// built-in method. Start() runs StartMonitor.
struct MonitorFixture {
  FakePort port;
  FakeDevice device;
  FakePorts ports;
  FakeGraphics graphics;
  FakeDialog dialog;
  std::vector<std::string> log;

  MonitorFixture();
  ~MonitorFixture();
  void Start();
  // Forget what was recorded (after start-up or a first poll).
  void ClearRecords();
  // Registers written through the access path since the last ClearRecords.
  std::vector<std::pair<int, std::uint8_t>> Writes() const { return port.writes; }
  int Reads() const { return static_cast<int>(port.reads.size()); }
};

}  // namespace port_monitor::testing
