#include "monitor/win32/win32_platform.h"

#include <commctrl.h>

namespace port_monitor::win32 {

namespace {

HANDLE ToHandle(DeviceHandle handle) { return reinterpret_cast<HANDLE>(handle); }

COLORREF ToColorRef(Color color) { return RGB(color.red, color.green, color.blue); }

RECT ToRect(Rect box) { return RECT{box.left, box.top, box.right, box.bottom}; }

BOOL CALLBACK NoteFontFound(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

// A face the system has installed, or one its font mapper substitutes
// ("Helv" is usually such a substitute).
bool SystemHasFont(const char* face) {
  LOGFONTA query{};
  query.lfCharSet = DEFAULT_CHARSET;
  lstrcpynA(query.lfFaceName, face, LF_FACESIZE);
  bool found = false;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExA(screen, &query, NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  if (found) return true;

  HKEY substitutes = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes", 0,
                    KEY_QUERY_VALUE, &substitutes) != ERROR_SUCCESS) {
    return false;
  }
  const bool substituted =
      RegQueryValueExA(substitutes, face, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(substitutes);
  return substituted;
}

// Stand-ins for the raster fonts, small sans-serif faces found on every
// Windows since XP (and in Wine).
constexpr const char* kFallbackFaces[] = {"MS Sans Serif", "Tahoma", "Arial"};

HFONT CreateFontWithFace(int height, const char* face, DWORD pitch_and_family) {
  return CreateFontA(height, 0, 0, 0, 0, FALSE, FALSE, FALSE, 0, 0, 0, 0, pitch_and_family, face);
}

}  // namespace

// ---------------------------------------------------------------- devices

DeviceHandle Win32DeviceIo::Open(const char* name) {
  HANDLE handle =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  return reinterpret_cast<DeviceHandle>(handle);
}

bool Win32DeviceIo::Control(DeviceHandle handle, std::uint32_t code,
                            std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  DWORD returned = 0;
  // DeviceIoControl takes a non-const input pointer; the input may also be
  // the output bytes themselves (one buffer for both).
  void* input_bytes = input.empty() ? nullptr : const_cast<std::uint8_t*>(input.data());
  void* output_bytes = output.empty() ? nullptr : output.data();
  return DeviceIoControl(ToHandle(handle), code, input_bytes, static_cast<DWORD>(input.size()),
                         output_bytes, static_cast<DWORD>(output.size()), &returned,
                         nullptr) != FALSE;
}

void Win32DeviceIo::Close(DeviceHandle handle) { CloseHandle(ToHandle(handle)); }

void Win32DeviceIo::Sleep(unsigned milliseconds) { ::Sleep(milliseconds); }

std::uint8_t X86PortIo::In(std::uint16_t port) {
  std::uint8_t value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port));
  return value;
}

void X86PortIo::Out(std::uint16_t port, std::uint8_t value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port));
}

// ---------------------------------------------------------------- drawing

DrawingObject GdiGraphics::MakePen(int width, Color color) {
  return reinterpret_cast<DrawingObject>(CreatePen(PS_SOLID, width, ToColorRef(color)));
}

DrawingObject GdiGraphics::MakeNullPen() {
  return reinterpret_cast<DrawingObject>(CreatePen(PS_NULL, 0, 0));
}

DrawingObject GdiGraphics::MakeBrush(Color color) {
  return reinterpret_cast<DrawingObject>(CreateSolidBrush(ToColorRef(color)));
}

DrawingObject GdiGraphics::MakeFont(int height, const char* face) {
  if (SystemHasFont(face))
    return reinterpret_cast<DrawingObject>(CreateFontWithFace(height, face, 0));
  for (const char* fallback : kFallbackFaces) {
    if (SystemHasFont(fallback)) {
      return reinterpret_cast<DrawingObject>(
          CreateFontWithFace(height, fallback, VARIABLE_PITCH | FF_SWISS));
    }
  }
  return reinterpret_cast<DrawingObject>(
      CreateFontWithFace(height, nullptr, VARIABLE_PITCH | FF_SWISS));
}

void GdiGraphics::Destroy(DrawingObject object) { DeleteObject(reinterpret_cast<HGDIOBJ>(object)); }

DrawingObject GdiCanvas::Select(DrawingObject object) {
  return reinterpret_cast<DrawingObject>(SelectObject(dc_, reinterpret_cast<HGDIOBJ>(object)));
}

void GdiCanvas::DrawPolygon(std::span<const Point> corners) {
  // The diagram's shapes have at most six corners.
  std::array<POINT, 16> points{};
  const std::size_t count = corners.size() < points.size() ? corners.size() : points.size();
  for (std::size_t i = 0; i < count; ++i) points[i] = POINT{corners[i].x, corners[i].y};
  Polygon(dc_, points.data(), static_cast<int>(count));
}

void GdiCanvas::DrawEllipse(Rect box) { Ellipse(dc_, box.left, box.top, box.right, box.bottom); }

void GdiCanvas::DrawRectangle(Rect box) {
  Rectangle(dc_, box.left, box.top, box.right, box.bottom);
}

void GdiCanvas::DrawLine(Point from, Point to) {
  MoveToEx(dc_, from.x, from.y, nullptr);
  LineTo(dc_, to.x, to.y);
}

void GdiCanvas::WriteText(Point origin, std::string_view text) {
  TextOutA(dc_, origin.x, origin.y, text.data(), static_cast<int>(text.size()));
}

void GdiCanvas::WriteClippedText(Point origin, Rect clip, std::string_view text, int advance) {
  // Bit labels are two characters.
  std::array<INT, 16> advances{};
  const std::size_t count = text.size() < advances.size() ? text.size() : advances.size();
  for (std::size_t i = 0; i < count; ++i) advances[i] = advance;
  const RECT clip_rect = ToRect(clip);
  ExtTextOutA(dc_, origin.x, origin.y, ETO_CLIPPED, &clip_rect, text.data(),
              static_cast<UINT>(count), advances.data());
}

void GdiCanvas::SetTransparentBackground(bool transparent) {
  SetBkMode(dc_, transparent ? TRANSPARENT : OPAQUE);
}

// ---------------------------------------------------------------- dialog

void Win32Dialog::SetText(int id, const char* text) { SetDlgItemTextA(window_, id, text); }

std::size_t Win32Dialog::GetText(int id, std::span<char> buffer) {
  if (buffer.empty()) return 0;
  return GetDlgItemTextA(window_, id, buffer.data(), static_cast<int>(buffer.size()));
}

void Win32Dialog::SetVisible(int id, bool visible) {
  ShowWindow(GetDlgItem(window_, id), visible ? SW_SHOW : SW_HIDE);
}

void Win32Dialog::SetReadOnly(int id, bool read_only) {
  SendDlgItemMessageA(window_, id, EM_SETREADONLY, read_only ? TRUE : FALSE, 0);
}

void Win32Dialog::SetChecked(int id, bool checked) {
  CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32Dialog::IsChecked(int id) { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }

void Win32Dialog::AddListString(int id, const char* text) {
  SendDlgItemMessageA(window_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void Win32Dialog::SelectListIndex(int id, int index) {
  SendDlgItemMessageA(window_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32Dialog::GetListSelection(int id) {
  return static_cast<int>(SendDlgItemMessageA(window_, id, CB_GETCURSEL, 0, 0));
}

bool Win32Dialog::IsListDroppedDown(int id) {
  return SendDlgItemMessageA(window_, id, CB_GETDROPPEDSTATE, 0, 0) != 0;
}

void Win32Dialog::SelectAllText(int id) { SendDlgItemMessageA(window_, id, EM_SETSEL, 0, -1); }

void Win32Dialog::SetFocus(int id) { ::SetFocus(GetDlgItem(window_, id)); }

void Win32Dialog::Beep() { MessageBeep(MB_ICONEXCLAMATION); }

void Win32Dialog::StartTimer(unsigned id, unsigned period_ms) {
  SetTimer(window_, id, period_ms, nullptr);
}

void Win32Dialog::StopTimer(unsigned id) { KillTimer(window_, id); }

Canvas& Win32Dialog::AcquireCanvas() {
  GdiCanvas& canvas = canvases_[0].Handle() ? canvases_[1] : canvases_[0];
  canvas.Attach(GetDC(window_));
  return canvas;
}

void Win32Dialog::ReleaseCanvas(Canvas& canvas) {
  for (GdiCanvas& own : canvases_) {
    if (&own == &canvas && own.Handle()) {
      ReleaseDC(window_, own.Handle());
      own.Attach(nullptr);
    }
  }
}

void Win32Dialog::InitCommonControls() { ::InitCommonControls(); }

namespace {

// The one tool: the dialog itself, tracked and centred on the track point,
// its text asked for on demand (TTN_GETDISPINFOA).
TOOLINFOA DialogTool(HWND dialog) {
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V1_SIZE;
  tool.uFlags = TTF_TRACK | TTF_CENTERTIP;
  tool.hwnd = dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(dialog);
  tool.lpszText = LPSTR_TEXTCALLBACKA;
  return tool;
}

}  // namespace

void Win32Dialog::CreateTooltip() {
  tooltip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
  TOOLINFOA tool = DialogTool(window_);
  SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Dialog::ActivateTooltip(bool active) {
  TOOLINFOA tool = DialogTool(window_);
  SendMessageA(tooltip_, TTM_TRACKACTIVATE, active ? TRUE : FALSE, reinterpret_cast<LPARAM>(&tool));
}

void Win32Dialog::PositionTooltip(Point screen) {
  SendMessageA(tooltip_, TTM_TRACKPOSITION, 0, MAKELPARAM(screen.x, screen.y));
}

int Win32Dialog::TooltipHeight() {
  RECT rect{};
  GetWindowRect(tooltip_, &rect);
  return rect.bottom - rect.top;
}

void Win32Dialog::SetHandCursor() { SetCursor(LoadCursorA(nullptr, IDC_HAND)); }

}  // namespace port_monitor::win32
