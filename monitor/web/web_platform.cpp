#include "monitor/web/web_platform.h"

#include "monitor/register_access.h"
#include "monitor/resource_ids.h"

#include <emscripten/emscripten.h>

#include <cstring>

// Every function here hands its arguments to the page's shell object
// (Module.shell, see page/shell.js). Texts cross as their ANSI bytes; the
// page decodes them.
// clang-format off

EM_ASYNC_JS(int, JsOpenDevice, (), {
  return await Module["shell"].openDevice() ? 1 : 0;
});
EM_ASYNC_JS(int, JsTransferOut, (int pipe, const uint8_t* data, int length), {
  return await Module["shell"].transferOut(pipe, HEAPU8.slice(data, data + length)) ? 1 : 0;
});
// The bytes that came, at most `length`; the rest of the buffer stays.
EM_ASYNC_JS(int, JsTransferIn, (int pipe, uint8_t* data, int length), {
  const bytes = await Module["shell"].transferIn(pipe, length);
  if (!bytes) return 0;
  HEAPU8.set(bytes.subarray(0, length), data);
  return 1;
});
EM_ASYNC_JS(void, JsCloseDevice, (), {
  await Module["shell"].closeDevice();
});

EM_JS(void, JsMakeFont, (int handle, int height, const char* face), {
  Module["shell"].makeFont(handle, height, UTF8ToString(face));
});
EM_JS(void, JsDestroyFont, (int handle), { Module["shell"].destroyFont(handle); });

EM_JS(void, JsRectangle, (int l, int t, int r, int b, int pen, int width, int brush), {
  Module["shell"].rectangle(l, t, r, b, pen, width, brush);
});
EM_JS(void, JsEllipse, (int l, int t, int r, int b, int pen, int width, int brush), {
  Module["shell"].ellipse(l, t, r, b, pen, width, brush);
});
EM_JS(void, JsPolygon, (const int* points, int count, int pen, int width, int brush), {
  Module["shell"].polygon(HEAP32.slice(points >> 2, (points >> 2) + 2 * count), pen, width, brush);
});
EM_JS(void, JsLine, (int x0, int y0, int x1, int y1, int pen, int width), {
  Module["shell"].line(x0, y0, x1, y1, pen, width);
});
// advance 0: the font's own advances; clip_right < clip_left: not clipped.
EM_JS(void, JsText, (int x, int y, const char* text, int length, int font, int opaque,
                     int clip_left, int clip_top, int clip_right, int clip_bottom, int advance), {
  Module["shell"].text(x, y, HEAPU8.slice(text, text + length), font, opaque !== 0,
                       [clip_left, clip_top, clip_right, clip_bottom], advance);
});

EM_JS(int, JsSetText, (int id, const char* text, int length), {
  return Module["shell"].setText(id, HEAPU8.slice(text, text + length)) ? 1 : 0;
});
// Copies at most `size` - 1 bytes and a NUL; returns the count copied.
EM_JS(int, JsGetText, (int id, char* buffer, int size), {
  const bytes = Module["shell"].getText(id).subarray(0, size - 1);
  HEAPU8.set(bytes, buffer);
  HEAPU8[buffer + bytes.length] = 0;
  return bytes.length;
});
EM_JS(void, JsSetVisible, (int id, int visible), {
  Module["shell"].setVisible(id, visible !== 0);
});
EM_JS(void, JsSetReadOnly, (int id, int read_only), {
  Module["shell"].setReadOnly(id, read_only !== 0);
});
EM_JS(void, JsSetChecked, (int id, int checked), {
  Module["shell"].setChecked(id, checked !== 0);
});
EM_JS(int, JsIsChecked, (int id), { return Module["shell"].isChecked(id) ? 1 : 0; });
EM_JS(void, JsAddListString, (int id, const char* text, int length), {
  Module["shell"].addListString(id, HEAPU8.slice(text, text + length));
});
EM_JS(void, JsSelectListIndex, (int id, int index), {
  Module["shell"].selectListIndex(id, index);
});
EM_JS(int, JsGetListSelection, (int id), { return Module["shell"].getListSelection(id); });
EM_JS(int, JsIsListDroppedDown, (int id), {
  return Module["shell"].isListDroppedDown(id) ? 1 : 0;
});
EM_JS(void, JsSelectAllText, (int id), { Module["shell"].selectAllText(id); });
EM_JS(void, JsSetFocus, (int id), { Module["shell"].setFocus(id); });
EM_JS(void, JsBeep, (), { Module["shell"].beep(); });
EM_JS(void, JsStartTimer, (unsigned id, unsigned period), {
  Module["shell"].startTimer(id, period);
});
EM_JS(void, JsStopTimer, (unsigned id), { Module["shell"].stopTimer(id); });
EM_JS(void, JsCreateTooltip, (), { Module["shell"].createTooltip(); });
EM_JS(void, JsActivateTooltip, (int active), { Module["shell"].activateTooltip(active !== 0); });
EM_JS(void, JsSetTooltipText, (const char* text, int length), {
  Module["shell"].setTooltipText(HEAPU8.slice(text, text + length));
});
EM_JS(void, JsPositionTooltip, (int x, int y), { Module["shell"].positionTooltip(x, y); });
EM_JS(int, JsTooltipHeight, (), { return Module["shell"].tooltipHeight(); });
EM_JS(void, JsSetHandCursor, (), { Module["shell"].setHandCursor(); });
// clang-format on

namespace port_monitor::web {

namespace {

constexpr char kDeviceName[] = "\\\\.\\EZUSB-0";
constexpr DeviceHandle kAdapterHandle = 1;

int ToInt(std::size_t size) { return static_cast<int>(size); }

int Rgb(Color color) { return color.red << 16 | color.green << 8 | color.blue; }

std::uint32_t PipeOf(std::span<const std::uint8_t> input) {
  return static_cast<std::uint32_t>(input[0]) | static_cast<std::uint32_t>(input[1]) << 8 |
         static_cast<std::uint32_t>(input[2]) << 16 | static_cast<std::uint32_t>(input[3]) << 24;
}

}  // namespace

// ---------------------------------------------------------------- devices

DeviceHandle WebDeviceIo::Open(const char* name) {
  if (std::strcmp(name, kDeviceName) != 0) return kInvalidDevice;
  return JsOpenDevice() != 0 ? kAdapterHandle : kInvalidDevice;
}

bool WebDeviceIo::Control(DeviceHandle handle, std::uint32_t code,
                          std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  // The driver's bulk requests take the pipe number as their input; the
  // data travel in the output buffer both ways (direct I/O).
  if (handle != kAdapterHandle || input.size() != 4 || output.empty()) return false;
  const std::uint32_t pipe = PipeOf(input);
  if (pipe > 15) return false;
  const int pipe_index = static_cast<int>(pipe);
  if (code == kBulkWriteRequest) {
    return JsTransferOut(pipe_index, output.data(), ToInt(output.size())) != 0;
  }
  if (code == kBulkReadRequest) {
    return JsTransferIn(pipe_index, output.data(), ToInt(output.size())) != 0;
  }
  return false;
}

void WebDeviceIo::Close(DeviceHandle handle) {
  if (handle == kAdapterHandle) JsCloseDevice();
}

void WebDeviceIo::Sleep(unsigned milliseconds) { emscripten_sleep(milliseconds); }

// ---------------------------------------------------------------- drawing

WebGraphics::WebGraphics() {
  objects_[kStockPen - 1] = {GdiObject::Kind::kPen, 1, 0x000000, 0};
  objects_[kStockBrush - 1] = {GdiObject::Kind::kBrush, 0, 0xFFFFFF, 0};
  objects_[kStockFont - 1] = {GdiObject::Kind::kFont, 0, -1, 16};
  JsMakeFont(static_cast<int>(kStockFont), 16, "System");
}

DrawingObject WebGraphics::Add(const GdiObject& object) {
  for (std::size_t i = kStockFont; i < objects_.size(); ++i) {
    if (objects_[i].kind == GdiObject::Kind::kFree) {
      objects_[i] = object;
      return static_cast<DrawingObject>(i + 1);
    }
  }
  return 0;  // out of objects: creation fails, as CreatePen would
}

DrawingObject WebGraphics::MakePen(int width, Color color) {
  return Add({GdiObject::Kind::kPen, width < 1 ? 1 : width, Rgb(color), 0});
}

DrawingObject WebGraphics::MakeNullPen() { return Add({GdiObject::Kind::kPen, 0, -1, 0}); }

DrawingObject WebGraphics::MakeBrush(Color color) {
  return Add({GdiObject::Kind::kBrush, 0, Rgb(color), 0});
}

DrawingObject WebGraphics::MakeFont(int height, const char* face) {
  const DrawingObject handle = Add({GdiObject::Kind::kFont, 0, -1, height});
  if (handle != 0) JsMakeFont(static_cast<int>(handle), height, face != nullptr ? face : "");
  return handle;
}

void WebGraphics::Destroy(DrawingObject object) {
  // Stock objects are never deleted (DeleteObject ignores them).
  if (object <= kStockFont || object > objects_.size()) return;
  GdiObject& entry = objects_[object - 1];
  if (entry.kind == GdiObject::Kind::kFont) JsDestroyFont(static_cast<int>(object));
  entry = GdiObject{};
}

const GdiObject* WebGraphics::Find(DrawingObject object) const {
  if (object == 0 || object > objects_.size()) return nullptr;
  const GdiObject& entry = objects_[object - 1];
  return entry.kind == GdiObject::Kind::kFree ? nullptr : &entry;
}

void WebCanvas::Reset(WebGraphics& graphics) {
  graphics_ = &graphics;
  pen_ = kStockPen;
  brush_ = kStockBrush;
  font_ = kStockFont;
  transparent_ = false;
}

const GdiObject& WebCanvas::Selected(DrawingObject handle, DrawingObject stock) const {
  const GdiObject* object = graphics_->Find(handle);
  return object != nullptr ? *object : *graphics_->Find(stock);
}

DrawingObject WebCanvas::Select(DrawingObject object) {
  const GdiObject* found = graphics_->Find(object);
  if (found == nullptr) return 0;  // SelectObject fails on a bad handle
  DrawingObject* slot = found->kind == GdiObject::Kind::kPen     ? &pen_
                        : found->kind == GdiObject::Kind::kBrush ? &brush_
                                                                 : &font_;
  const DrawingObject previous = *slot;
  *slot = object;
  return previous;
}

void WebCanvas::DrawPolygon(std::span<const Point> corners) {
  std::array<int, 32> points{};
  const std::size_t count = corners.size() < points.size() / 2 ? corners.size() : points.size() / 2;
  for (std::size_t i = 0; i < count; ++i) {
    points[2 * i] = corners[i].x;
    points[2 * i + 1] = corners[i].y;
  }
  const GdiObject& pen = Selected(pen_, kStockPen);
  JsPolygon(points.data(), ToInt(count), pen.color, pen.width, Selected(brush_, kStockBrush).color);
}

void WebCanvas::DrawEllipse(Rect box) {
  const GdiObject& pen = Selected(pen_, kStockPen);
  JsEllipse(box.left, box.top, box.right, box.bottom, pen.color, pen.width,
            Selected(brush_, kStockBrush).color);
}

void WebCanvas::DrawRectangle(Rect box) {
  const GdiObject& pen = Selected(pen_, kStockPen);
  JsRectangle(box.left, box.top, box.right, box.bottom, pen.color, pen.width,
              Selected(brush_, kStockBrush).color);
}

void WebCanvas::DrawLine(Point from, Point to) {
  const GdiObject& pen = Selected(pen_, kStockPen);
  JsLine(from.x, from.y, to.x, to.y, pen.color, pen.width);
}

void WebCanvas::WriteText(Point origin, std::string_view text) {
  JsText(origin.x, origin.y, text.data(), ToInt(text.size()), static_cast<int>(font_),
         transparent_ ? 0 : 1, 0, 0, -1, -1, 0);
}

void WebCanvas::WriteClippedText(Point origin, Rect clip, std::string_view text, int advance) {
  JsText(origin.x, origin.y, text.data(), ToInt(text.size()), static_cast<int>(font_),
         transparent_ ? 0 : 1, clip.left, clip.top, clip.right, clip.bottom, advance);
}

void WebCanvas::SetTransparentBackground(bool transparent) { transparent_ = transparent; }

// ---------------------------------------------------------------- dialog

void WebDialog::SetText(int id, const char* text) {
  // Windows sends EN_CHANGE from inside SetDlgItemTextA on an edit field.
  if (JsSetText(id, text, ToInt(std::strlen(text))) != 0 && messages_.command != nullptr) {
    messages_.command(id, MONITOR_EN_CHANGE);
  }
}

std::size_t WebDialog::GetText(int id, std::span<char> buffer) {
  if (buffer.empty()) return 0;
  return static_cast<std::size_t>(JsGetText(id, buffer.data(), ToInt(buffer.size())));
}

void WebDialog::SetVisible(int id, bool visible) { JsSetVisible(id, visible ? 1 : 0); }

void WebDialog::SetReadOnly(int id, bool read_only) { JsSetReadOnly(id, read_only ? 1 : 0); }

void WebDialog::SetChecked(int id, bool checked) { JsSetChecked(id, checked ? 1 : 0); }

bool WebDialog::IsChecked(int id) { return JsIsChecked(id) != 0; }

void WebDialog::AddListString(int id, const char* text) {
  JsAddListString(id, text, ToInt(std::strlen(text)));
}

void WebDialog::SelectListIndex(int id, int index) { JsSelectListIndex(id, index); }

int WebDialog::GetListSelection(int id) { return JsGetListSelection(id); }

bool WebDialog::IsListDroppedDown(int id) { return JsIsListDroppedDown(id) != 0; }

void WebDialog::SelectAllText(int id) { JsSelectAllText(id); }

void WebDialog::SetFocus(int id) { JsSetFocus(id); }

void WebDialog::Beep() { JsBeep(); }

void WebDialog::StartTimer(unsigned id, unsigned period_ms) { JsStartTimer(id, period_ms); }

void WebDialog::StopTimer(unsigned id) { JsStopTimer(id); }

Canvas& WebDialog::AcquireCanvas() {
  for (WebCanvas& canvas : canvases_) {
    if (!canvas.InUse()) {
      canvas.Reset(graphics_);
      return canvas;
    }
  }
  // Deeper nesting than the dialog ever does: share the last context.
  canvases_.back().Reset(graphics_);
  return canvases_.back();
}

void WebDialog::ReleaseCanvas(Canvas& canvas) {
  for (WebCanvas& own : canvases_) {
    if (&own == &canvas) own.Release();
  }
}

void WebDialog::CreateTooltip() { JsCreateTooltip(); }

// The tooltip control asks for its text (TTN_GETDISPINFOA) when it is shown
// and when it moves.
void WebDialog::RefreshTooltipText() {
  char text[80] = {};
  if (messages_.tooltip_text != nullptr) messages_.tooltip_text(text);
  JsSetTooltipText(text, ToInt(std::strlen(text)));
}

void WebDialog::ActivateTooltip(bool active) {
  tooltip_active_ = active;
  if (active) RefreshTooltipText();
  JsActivateTooltip(active ? 1 : 0);
}

void WebDialog::PositionTooltip(Point screen) {
  if (tooltip_active_) RefreshTooltipText();
  JsPositionTooltip(screen.x, screen.y);
}

int WebDialog::TooltipHeight() { return JsTooltipHeight(); }

void WebDialog::SetHandCursor() { JsSetHandCursor(); }

}  // namespace port_monitor::web
