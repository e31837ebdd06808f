// The browser side of the port monitor's platform boundary. Each method is
// the page operation that stands in for the Windows call it names: WebUSB for
// the EZ-USB driver's requests, an HTML canvas for GDI, page elements for the
// dialog's controls. The page's half (shell.js) does the DOM and the USB
// transfers; WebUSB answers with promises, so the device requests suspend
// the program until they settle (Asyncify), as a blocking DeviceIoControl.
#pragma once

#include "monitor/platform.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace port_monitor::web {

// The EZ-USB general-purpose driver over WebUSB: its one device, "\\.\EZUSB-0",
// is the adapter the user chose; a bulk request's pipe n is the n-th endpoint
// of the adapter's interface 0.
class WebDeviceIo final : public DeviceIo {
 public:
  DeviceHandle Open(const char* name) override;
  bool Control(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output) override;
  void Close(DeviceHandle handle) override;
  void Sleep(unsigned milliseconds) override;
};

// The browser has no port instructions; the web build never uses them.
class NoPortIo final : public PortIo {
 public:
  std::uint8_t In(std::uint16_t) override { return 0; }
  void Out(std::uint16_t, std::uint8_t) override {}
};

// Pens, brushes and fonts as a GDI object table. The first handles are the
// stock objects a fresh device context holds.
struct GdiObject {
  enum class Kind : std::uint8_t { kFree, kPen, kBrush, kFont };
  Kind kind = Kind::kFree;
  int width = 0;   // pen width; 0 with color -1 is the null pen
  int color = -1;  // 0xRRGGBB, -1 for none
  int height = 0;  // font height as CreateFontA takes it
};

inline constexpr DrawingObject kStockPen = 1;    // BLACK_PEN
inline constexpr DrawingObject kStockBrush = 2;  // WHITE_BRUSH
inline constexpr DrawingObject kStockFont = 3;   // SYSTEM_FONT

class WebGraphics final : public Graphics {
 public:
  WebGraphics();
  DrawingObject MakePen(int width, Color color) override;
  DrawingObject MakeNullPen() override;
  DrawingObject MakeBrush(Color color) override;
  DrawingObject MakeFont(int height, const char* face) override;
  void Destroy(DrawingObject object) override;

  // The object behind a handle, or nullptr for 0, a stale or unknown handle.
  const GdiObject* Find(DrawingObject object) const;

 private:
  DrawingObject Add(const GdiObject& object);
  std::array<GdiObject, 32> objects_{};
};

// A device context on the dialog's canvas: the selected pen, brush and font
// and the background mode, reset to the stock objects for every new one.
class WebCanvas final : public Canvas {
 public:
  void Reset(WebGraphics& graphics);
  bool InUse() const { return graphics_ != nullptr; }
  void Release() { graphics_ = nullptr; }

  DrawingObject Select(DrawingObject object) override;
  void DrawPolygon(std::span<const Point> corners) override;
  void DrawEllipse(Rect box) override;
  void DrawRectangle(Rect box) override;
  void DrawLine(Point from, Point to) override;
  void WriteText(Point origin, std::string_view text) override;
  void WriteClippedText(Point origin, Rect clip, std::string_view text, int advance) override;
  void SetTransparentBackground(bool transparent) override;

 private:
  const GdiObject& Selected(DrawingObject handle, DrawingObject stock) const;
  WebGraphics* graphics_ = nullptr;
  DrawingObject pen_ = kStockPen;
  DrawingObject brush_ = kStockBrush;
  DrawingObject font_ = kStockFont;
  bool transparent_ = false;
};

// What the dialog sends back to its own message handling, as Windows does
// from inside a call: EN_CHANGE while an edit field's text is set
// (WM_COMMAND), and the tooltip's request for its text (TTN_GETDISPINFOA).
struct DialogMessages {
  void (*command)(int id, int code) = nullptr;
  void (*tooltip_text)(char* buffer) = nullptr;
};

class WebDialog final : public Dialog {
 public:
  WebDialog(WebGraphics& graphics, DialogMessages messages)
      : graphics_(graphics), messages_(messages) {}

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
  void InitCommonControls() override {}
  void CreateTooltip() override;
  void ActivateTooltip(bool active) override;
  void PositionTooltip(Point screen) override;
  int TooltipHeight() override;
  void SetHandCursor() override;

 private:
  void RefreshTooltipText();
  WebGraphics& graphics_;
  DialogMessages messages_;
  bool tooltip_active_ = false;
  // Incremental redraws may nest one in another, as with two GetDC.
  std::array<WebCanvas, 3> canvases_{};
};

}  // namespace port_monitor::web
