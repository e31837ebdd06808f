// port-monitor in the browser: the page's message loop (page/shell.js) hands
// each event to one of these entry points, one at a time, as the Windows
// dialog manager calls the dialog procedure (see monitor/win32/main.cpp).
// A new module instance is a new run of the program.
#include "monitor/diagram.h"
#include "monitor/monitor.h"
#include "monitor/register_access.h"
#include "monitor/tooltips.h"
#include "monitor/web/web_platform.h"

#include <emscripten/emscripten.h>

#include <cstdint>

namespace {

using namespace port_monitor;

void Command(int id, int code);

web::WebDeviceIo device_io;
web::NoPortIo port_io;
web::WebGraphics graphics;
web::WebDialog dialog(graphics, web::DialogMessages{Command, GetTooltipText});
bool ended = false;

// WM_COMMAND; the end of the dialog is told to the page, which then ends the run.
void Command(int id, int code) {
  if (HandleCommand(id, code)) ended = true;
}

}  // namespace

extern "C" {

// Program start and WM_INITDIALOG.
EMSCRIPTEN_KEEPALIVE void WebStart() {
  OpenAccessPath(device_io, port_io);
  StartMonitor(dialog, graphics);
}

// WM_PAINT of the whole client area.
EMSCRIPTEN_KEEPALIVE void WebPaint() {
  Canvas& canvas = dialog.AcquireCanvas();
  PaintDiagram(canvas);
  dialog.ReleaseCanvas(canvas);
}

EMSCRIPTEN_KEEPALIVE void WebTimer(unsigned id) { HandleTimer(id); }

// WM_COMMAND from the user's input; returns 1 when the dialog has ended.
EMSCRIPTEN_KEEPALIVE int WebCommand(int id, int code) {
  Command(id, code);
  return ended ? 1 : 0;
}

// WM_LBUTTONDOWN and WM_LBUTTONDBLCLK: client coordinates as the message's
// signed 16-bit halves carry them.
EMSCRIPTEN_KEEPALIVE void WebButtonDown(int x, int y) {
  ToggleBit(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
}

// WM_SETCURSOR: 1 when the cursor was set (the hand), else the default applies.
EMSCRIPTEN_KEEPALIVE int WebSetCursor(int screen_x, int screen_y, int client_x, int client_y) {
  return TrackHover(Point{screen_x, screen_y}, Point{client_x, client_y}) ? 1 : 0;
}

// WM_DESTROY, then the program's end.
EMSCRIPTEN_KEEPALIVE void WebEnd() {
  DeleteDrawingObjects();
  CloseAccessPath();
}

}  // extern "C"
