// port-monitor on Windows: opens the access path, runs the modal dialog
// "Emulation" and hands every window message to the core.
#include "monitor/diagram.h"
#include "monitor/monitor.h"
#include "monitor/register_access.h"
#include "monitor/resource_ids.h"
#include "monitor/tooltips.h"
#include "monitor/win32/win32_platform.h"

#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>

namespace {

using namespace port_monitor;

// The platform objects the core talks to, for the program's whole run.
win32::Win32DeviceIo device_io;
win32::X86PortIo port_io;
win32::GdiGraphics graphics;
win32::Win32Dialog dialog;

void Paint(HWND window) {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(window, &paint);
  win32::GdiCanvas canvas;
  canvas.Attach(dc);
  PaintDiagram(canvas);
  EndPaint(window, &paint);
}

// The hand cursor stays only when the dialog procedure's message result says
// the cursor was set.
BOOL SetCursorOverDiagram(HWND window) {
  const DWORD position = GetMessagePos();
  const POINT screen{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
  POINT client = screen;
  ScreenToClient(window, &client);
  const bool over_element = TrackHover(Point{screen.x, screen.y}, Point{client.x, client.y});
  SetWindowLongPtrA(window, DWLP_MSGRESULT, over_element ? TRUE : FALSE);
  return over_element ? TRUE : FALSE;
}

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      dialog.Attach(window);
      StartMonitor(dialog, graphics);
      return TRUE;
    case WM_DESTROY:
      DeleteDrawingObjects();
      return FALSE;
    case WM_PAINT:
      Paint(window);
      return FALSE;
    case WM_SETCURSOR:
      return SetCursorOverDiagram(window);
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lparam);
      if (header->code == TTN_GETDISPINFOA)
        GetTooltipText(reinterpret_cast<NMTTDISPINFOA*>(lparam)->szText);
      return FALSE;
    }
    case WM_COMMAND:
      if (HandleCommand(LOWORD(wparam), HIWORD(wparam))) EndDialog(window, IDCANCEL);
      return FALSE;
    case WM_TIMER:
      HandleTimer(static_cast<unsigned>(wparam));
      return FALSE;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      ToggleBit(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  OpenAccessPath(device_io, port_io);
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_EMULATION), nullptr, DialogProcedure, 0);
  CloseAccessPath();
  return 0;
}
