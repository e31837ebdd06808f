// The port monitor's platform boundary. Each interface mirrors the Windows
// operations the monitor uses, so that a shell implements it as a 1:1
// translation (DeviceIoControl, SetDlgItemTextA, SelectObject, ...) and the
// core holding every rule runs unchanged under native unit tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace port_monitor {

// ---------------------------------------------------------------- devices

// A device handle as the platform gives it (a HANDLE cast to an integer).
using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kInvalidDevice = -1;  // INVALID_HANDLE_VALUE

// Device requests of access methods 1..3.
struct DeviceIo {
  // CreateFileA(name, GENERIC_READ | GENERIC_WRITE, no sharing, no security,
  // OPEN_EXISTING, no flags, no template). Returns kInvalidDevice on failure.
  virtual DeviceHandle Open(const char* name) = 0;
  // DeviceIoControl(handle, code, input, output), synchronous, no overlapped
  // I/O. `input` and `output` may be the very same bytes (one buffer for
  // both, as the adapter's read request uses). Returns true on success; on
  // failure the output bytes keep whatever they held.
  virtual bool Control(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) = 0;
  // CloseHandle.
  virtual void Close(DeviceHandle handle) = 0;
  // Sleep(milliseconds); access method 2 waits 1 ms between command and answer.
  virtual void Sleep(unsigned milliseconds) = 0;

 protected:
  ~DeviceIo() = default;
};

// The processor's byte-wide port instructions (access method 0: in/out).
struct PortIo {
  virtual std::uint8_t In(std::uint16_t port) = 0;
  virtual void Out(std::uint16_t port, std::uint8_t value) = 0;

 protected:
  ~PortIo() = default;
};

// ---------------------------------------------------------------- drawing

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// Left and top edges belong to the rectangle, right and bottom do not
// (the Windows RECT convention).
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct Color {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Color&, const Color&) = default;
};

// A pen, brush or font (an HPEN/HBRUSH/HFONT cast to an integer); 0 is none.
using DrawingObject = std::uintptr_t;

// Creation and deletion of drawing objects; needs no device context.
struct Graphics {
  // CreatePen(PS_SOLID, width, colour).
  virtual DrawingObject MakePen(int width, Color color) = 0;
  // CreatePen(PS_NULL, 0, 0): draws nothing.
  virtual DrawingObject MakeNullPen() = 0;
  // CreateSolidBrush(colour).
  virtual DrawingObject MakeBrush(Color color) = 0;
  // CreateFontA(height, 0, ..., face) with every other parameter zero.
  virtual DrawingObject MakeFont(int height, const char* face) = 0;
  // DeleteObject.
  virtual void Destroy(DrawingObject object) = 0;

 protected:
  ~Graphics() = default;
};

// A device context: the dialog's client area, in pixels.
struct Canvas {
  // SelectObject: returns the object it replaces, to be selected back.
  virtual DrawingObject Select(DrawingObject object) = 0;
  // Polygon with the current pen, filled with the current brush.
  virtual void DrawPolygon(std::span<const Point> corners) = 0;
  // Ellipse inscribed in the rectangle, current pen and brush.
  virtual void DrawEllipse(Rect box) = 0;
  // Rectangle, current pen and brush.
  virtual void DrawRectangle(Rect box) = 0;
  // MoveToEx(from) then LineTo(to), current pen.
  virtual void DrawLine(Point from, Point to) = 0;
  // TextOutA with the current font, text origin at `origin`.
  virtual void WriteText(Point origin, std::string_view text) = 0;
  // ExtTextOutA with ETO_CLIPPED to `clip` and a character advance of
  // `advance` pixels for every character.
  virtual void WriteClippedText(Point origin, Rect clip, std::string_view text, int advance) = 0;
  // SetBkMode(TRANSPARENT) when true, SetBkMode(OPAQUE) when false.
  virtual void SetTransparentBackground(bool transparent) = 0;

 protected:
  ~Canvas() = default;
};

// ---------------------------------------------------------------- dialog

// The monitor dialog, its controls (ids from resource_ids.h), its timers and
// its tooltip.
struct Dialog {
  // SetDlgItemTextA. Setting the text of an edit field raises EN_CHANGE
  // (the shell lets the dialog's message handling see it, as Windows does).
  virtual void SetText(int id, const char* text) = 0;
  // GetDlgItemTextA: at most buffer.size() - 1 characters and a NUL;
  // returns the number of characters copied.
  virtual std::size_t GetText(int id, std::span<char> buffer) = 0;
  // ShowWindow(SW_SHOW / SW_HIDE).
  virtual void SetVisible(int id, bool visible) = 0;
  // EM_SETREADONLY.
  virtual void SetReadOnly(int id, bool read_only) = 0;
  // CheckDlgButton / IsDlgButtonChecked.
  virtual void SetChecked(int id, bool checked) = 0;
  virtual bool IsChecked(int id) = 0;
  // CB_ADDSTRING, CB_SETCURSEL, CB_GETCURSEL (-1 when nothing is selected).
  virtual void AddListString(int id, const char* text) = 0;
  virtual void SelectListIndex(int id, int index) = 0;
  virtual int GetListSelection(int id) = 0;
  // CB_GETDROPPEDSTATE: the list is open and the user is choosing in it.
  virtual bool IsListDroppedDown(int id) = 0;
  // EM_SETSEL (0, -1): select the whole text of an edit field.
  virtual void SelectAllText(int id) = 0;
  // SetFocus on the control.
  virtual void SetFocus(int id) = 0;
  // MessageBeep(MB_ICONEXCLAMATION).
  virtual void Beep() = 0;
  // SetTimer / KillTimer on the dialog window.
  virtual void StartTimer(unsigned id, unsigned period_ms) = 0;
  virtual void StopTimer(unsigned id) = 0;
  // GetDC / ReleaseDC: a drawing canvas for the moment (incremental redraws).
  virtual Canvas& AcquireCanvas() = 0;
  virtual void ReleaseCanvas(Canvas& canvas) = 0;
  // InitCommonControls (the comctl32 export by ordinal 17).
  virtual void InitCommonControls() = 0;
  // Create the tooltip control ("tooltips_class32", popup, no owner) with its
  // one tool for the dialog itself: TTF_TRACK | TTF_CENTERTIP,
  // LPSTR_TEXTCALLBACK.
  virtual void CreateTooltip() = 0;
  // TTM_TRACKACTIVATE with TRUE / FALSE.
  virtual void ActivateTooltip(bool active) = 0;
  // TTM_TRACKPOSITION at a screen point.
  virtual void PositionTooltip(Point screen) = 0;
  // Height in pixels of the tooltip window as it is now (GetWindowRect).
  virtual int TooltipHeight() = 0;
  // SetCursor(LoadCursor(NULL, IDC_HAND)).
  virtual void SetHandCursor() = 0;

 protected:
  ~Dialog() = default;
};

}  // namespace port_monitor
