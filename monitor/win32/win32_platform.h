// The Win32 side of the port monitor's platform boundary: each method is the
// Windows call it names, nothing more.
#pragma once

#include "monitor/platform.h"

#include <windows.h>

#include <array>

namespace port_monitor::win32 {

class Win32DeviceIo final : public DeviceIo {
 public:
  DeviceHandle Open(const char* name) override;
  bool Control(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output) override;
  void Close(DeviceHandle handle) override;
  void Sleep(unsigned milliseconds) override;
};

// x86 byte-wide in/out; needs port-I/O privilege (access method 0 only).
class X86PortIo final : public PortIo {
 public:
  std::uint8_t In(std::uint16_t port) override;
  void Out(std::uint16_t port, std::uint8_t value) override;
};

class GdiGraphics final : public Graphics {
 public:
  DrawingObject MakePen(int width, Color color) override;
  DrawingObject MakeNullPen() override;
  DrawingObject MakeBrush(Color color) override;
  // The named font where the system has it (or a substitute for it), else a
  // small sans-serif font of the same pixel height.
  DrawingObject MakeFont(int height, const char* face) override;
  void Destroy(DrawingObject object) override;
};

class GdiCanvas final : public Canvas {
 public:
  void Attach(HDC dc) { dc_ = dc; }
  HDC Handle() const { return dc_; }

  DrawingObject Select(DrawingObject object) override;
  void DrawPolygon(std::span<const Point> corners) override;
  void DrawEllipse(Rect box) override;
  void DrawRectangle(Rect box) override;
  void DrawLine(Point from, Point to) override;
  void WriteText(Point origin, std::string_view text) override;
  void WriteClippedText(Point origin, Rect clip, std::string_view text, int advance) override;
  void SetTransparentBackground(bool transparent) override;

 private:
  HDC dc_ = nullptr;
};

class Win32Dialog final : public Dialog {
 public:
  void Attach(HWND window) { window_ = window; }
  HWND Window() const { return window_; }

  void SetText(int id, const char* text) override;
  std::size_t GetText(int id, std::span<char> buffer) override;
  void SetVisible(int id, bool visible) override;
  void SetReadOnly(int id, bool read_only) override;
  void SetChecked(int id, bool checked) override;
  bool IsChecked(int id) override;
  void AddListString(int id, const char* text) override;
  void SelectListIndex(int id, int index) override;
  int GetListSelection(int id) override;
  bool IsListDroppedDown(int id) override;
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
  int TooltipHeight() override;
  void SetHandCursor() override;

 private:
  HWND window_ = nullptr;
  HWND tooltip_ = nullptr;
  // Incremental redraws: a device context of the dialog for the moment. Two,
  // in case a redraw happens while another one holds a context.
  std::array<GdiCanvas, 2> canvases_{};
};

}  // namespace port_monitor::win32
