// inspector-hook.dll: runs inside the dialog's process for "inspector texts"
// (see text_fit.h) and measures every visible label and button text with the
// control's own font, as the control draws it.
//
// First line, the dialog's font:
//   font face=FAMILY|raster height=TMHEIGHT average=TMAVECHARWIDTH
//        letters=AxH dialog=AxH
// "letters" are the base units the average width of A..Z a..z gives (the
// dialog manager's rule), "dialog" the ones the dialog uses (MapDialogRect).
// Then one line per visible static, push button, radio button or group box
// with a text:
//   ID KIND need=WxH room=WxH text=TEXT
// "need" is the single line DrawText makes of the text ('&' marks the
// mnemonic and takes no room), "room" what the control leaves for it.
#include <windows.h>

#include <array>

#include "tests/e2e/inspector/text_fit.h"

namespace {

constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Where a control's text may go, in pixels inside its client rectangle, as
// Wine draws these controls at 96 dpi (the check box of Windows is the same
// 13 pixels):
//   static       the whole client area; it wraps at a word when the line is
//                too long, and the second line is cut off below.
//   push button  inside the 2-pixel 3-D edge (a flat button's edge is 1).
//   radio        right of the 13-pixel mark and a 4-pixel gap: the text
//                begins 17 pixels in (the mnemonic's underline starts there).
//   group box    the caption begins 8 pixels in, after the frame's corner
//                and a gap; as much again on the right keeps it off the
//                other corner. Its height is the frame's, not checked.
struct Kind {
  const char* name;
  int left, right, top, bottom;
};
constexpr Kind kStatic{"static", 0, 0, 0, 0};
constexpr Kind kPushButton{"button", 2, 2, 2, 2};
constexpr Kind kCheckMark{"radio", 17, 0, 0, 0};
constexpr Kind kGroupBox{"group", 8, 8, 0, 0};

const Kind* KindOf(HWND control) {
  std::array<char, 32> class_name{};
  GetClassNameA(control, class_name.data(), static_cast<int>(class_name.size()));
  const LONG style = GetWindowLongA(control, GWL_STYLE);
  if (lstrcmpiA(class_name.data(), "Static") == 0) {
    const LONG type = style & SS_TYPEMASK;
    return type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT ? &kStatic : nullptr;
  }
  if (lstrcmpiA(class_name.data(), "Button") != 0) return nullptr;
  switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
      return &kPushButton;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
      return &kCheckMark;
    case BS_GROUPBOX:
      return &kGroupBox;
    default:
      return nullptr;
  }
}

// Appends to the shared memory, always leaving it NUL-terminated.
struct Output {
  char* text;
  unsigned used = 0;
  void Line(const char* line) {
    const unsigned length = static_cast<unsigned>(lstrlenA(line));
    if (used + length + 1 > inspector::kTextFitMemorySize) return;
    CopyMemory(text + used, line, length + 1);
    used += length;
  }
};

void MeasureFont(HWND dialog, Output& out) {
  const auto font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  HDC dc = GetDC(dialog);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SIZE letters{};
  GetTextExtentPoint32A(dc, kLetters, lstrlenA(kLetters), &letters);
  alignas(OUTLINETEXTMETRICA) std::array<char, 1024> outline{};
  auto* outline_metrics = reinterpret_cast<OUTLINETEXTMETRICA*>(outline.data());
  const char* face = "raster";
  if (GetOutlineTextMetricsA(dc, static_cast<UINT>(outline.size()), outline_metrics))
    face = outline.data() + reinterpret_cast<UINT_PTR>(outline_metrics->otmpFamilyName);
  SelectObject(dc, old);
  ReleaseDC(dialog, dc);
  RECT units{0, 0, 4, 8};
  MapDialogRect(dialog, &units);
  std::array<char, 256> line{};
  wsprintfA(line.data(), "font face=%s height=%d average=%d letters=%dx%d dialog=%dx%d\n", face,
            static_cast<int>(metrics.tmHeight), static_cast<int>(metrics.tmAveCharWidth),
            static_cast<int>((letters.cx / 26 + 1) / 2), static_cast<int>(metrics.tmHeight),
            static_cast<int>(units.right), static_cast<int>(units.bottom));
  out.Line(line.data());
}

void MeasureControl(HWND control, const Kind& kind, Output& out) {
  std::array<char, 256> text{};
  if (GetWindowTextA(control, text.data(), static_cast<int>(text.size())) <= 0) return;
  const auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  UINT format = DT_CALCRECT | DT_SINGLELINE;
  if (&kind == &kStatic && (GetWindowLongA(control, GWL_STYLE) & SS_NOPREFIX))
    format |= DT_NOPREFIX;
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, font);
  RECT need{0, 0, 0, 0};
  DrawTextA(dc, text.data(), -1, &need, format);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  RECT client{};
  GetClientRect(control, &client);
  int id = GetDlgCtrlID(control);
  if (id == 0xFFFF) id = -1;
  std::array<char, 400> line{};
  wsprintfA(line.data(), "%d %s need=%dx%d room=%dx%d text=%s\n", id, kind.name,
            static_cast<int>(need.right - need.left), static_cast<int>(need.bottom - need.top),
            static_cast<int>(client.right - kind.left - kind.right),
            static_cast<int>(client.bottom - kind.top - kind.bottom), text.data());
  out.Line(line.data());
}

void MeasureDialog(HWND dialog) {
  HANDLE memory = OpenFileMappingA(FILE_MAP_WRITE, FALSE, inspector::kTextFitMemory);
  if (!memory) return;
  if (void* view = MapViewOfFile(memory, FILE_MAP_WRITE, 0, 0, inspector::kTextFitMemorySize)) {
    Output out{static_cast<char*>(view)};
    out.text[0] = '\0';
    MeasureFont(dialog, out);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      const Kind* kind = KindOf(child);
      if (kind && IsWindowVisible(child)) MeasureControl(child, *kind, out);
    }
    UnmapViewOfFile(view);
  }
  CloseHandle(memory);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    TextFitHook(int code, WPARAM wparam, LPARAM lparam) {
  // Only the dialog's thread calls the hook: no guard needed.
  static UINT message = 0;
  if (!message) message = RegisterWindowMessageA(inspector::kTextFitMessage);
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && sent->message == message) MeasureDialog(sent->hwnd);
  return CallNextHookEx(nullptr, code, wparam, lparam);
}
