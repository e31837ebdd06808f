// inspector: looks at the "Emulation" dialog of another process from outside,
// for the end-to-end tests.
//
//   inspector list                 one line per control of the dialog
//   inspector get ID               the line of control ID
//   inspector select ID INDEX      choose a combo box entry: CB_SETCURSEL, then
//                                  CBN_SELCHANGE to the dialog (two messages,
//                                  where a user's choice arrives as one)
//   inspector items ID             the entries of a combo box, one per line
//   inspector settext ID TEXT      set a control's text (an edit raises EN_CHANGE)
//   inspector click ID             press a push button (BN_CLICKED to the dialog)
//   inspector layout               per control: ID X Y W H STYLE, the rectangle in
//                                  client pixels, the window style in hex
//   inspector client               screen rectangle of the client area: X Y W H
//   inspector rect ID              screen rectangle of a control: X Y W H
//   inspector shot FILE.bmp        the client area as a 24-bit BMP
//   inspector tooltip              the visible tooltip window of the dialog's
//                                  process: X Y W H text=..., exit 1 if none
//   inspector repaint              invalidate and erase the whole dialog with
//                                  its controls and have it painted now
//   inspector resources            the dialog's process: gdi=N user=N
//                                  (GetGuiResources) windows=N (its top-level
//                                  and child windows) pid=N (Windows id)
//   inspector texts                the dialog's font and, per visible label
//                                  and button, the room its text needs and
//                                  has, measured in the dialog's process
//                                  (inspector-hook.cpp tells the lines)
//
// A control line reads: ID CLASS visible=0|1 readonly=0|1 checked=0|1 text=TEXT
// (static controls without an id show -1). Exit code 0 on success, 1 when the
// dialog or the control is missing, 2 on bad arguments.
#include <windows.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "tests/e2e/inspector/text_fit.h"

namespace {

constexpr UINT kMessageTimeoutMs = 3000;

void Print(std::string_view text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

void PrintError(std::string_view text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

HWND FindDialog() { return FindWindowA("#32770", "Emulation"); }

LRESULT SendWithTimeout(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                           &result))
    return 0;
  return static_cast<LRESULT>(result);
}

// WM_GETTEXT, because GetWindowText does not ask a control of another process.
void ControlText(HWND control, std::array<char, 256>& text) {
  text[0] = '\0';
  SendWithTimeout(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.back() = '\0';
}

bool IsCheckable(HWND control) {
  const LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
         type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE;
}

void PrintControl(HWND control) {
  std::array<char, 64> class_name{};
  GetClassNameA(control, class_name.data(), static_cast<int>(class_name.size()));
  const bool is_edit = lstrcmpiA(class_name.data(), "Edit") == 0;
  const bool is_button = lstrcmpiA(class_name.data(), "Button") == 0;
  const LONG style = GetWindowLongA(control, GWL_STYLE);
  const bool read_only = is_edit && (style & ES_READONLY) != 0;
  const bool checked = is_button && IsCheckable(control) &&
                       SendWithTimeout(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
  std::array<char, 256> text{};
  ControlText(control, text);
  int id = GetDlgCtrlID(control);
  if (id == 0xFFFF) id = -1;
  std::array<char, 512> line{};
  wsprintfA(line.data(), "%d %s visible=%d readonly=%d checked=%d text=%s\n", id, class_name.data(),
            IsWindowVisible(control) ? 1 : 0, read_only ? 1 : 0, checked ? 1 : 0, text.data());
  Print(line.data());
}

HWND FindControl(HWND dialog, int id) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(child) == id) return child;
  }
  return nullptr;
}

void PrintRect(const RECT& rect) {
  std::array<char, 64> line{};
  wsprintfA(line.data(), "%d %d %d %d\n", static_cast<int>(rect.left), static_cast<int>(rect.top),
            static_cast<int>(rect.right - rect.left), static_cast<int>(rect.bottom - rect.top));
  Print(line.data());
}

RECT ClientScreenRect(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  OffsetRect(&rect, origin.x, origin.y);
  return rect;
}

// Copies the client area from the screen into a bottom-up 24-bit BMP file.
bool SaveClientArea(HWND window, const char* path) {
  const RECT rect = ClientScreenRect(window);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD image_size = stride * static_cast<DWORD>(height);
  void* pixels = HeapAlloc(GetProcessHeap(), 0, image_size);
  bool ok = pixels && GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels,
                                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == height;
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  if (ok) {
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + image_size;
    info.biSizeImage = image_size;
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ok = file != INVALID_HANDLE_VALUE &&
         WriteFile(file, &header, sizeof header, &written, nullptr) &&
         WriteFile(file, &info, sizeof info, &written, nullptr) &&
         WriteFile(file, pixels, image_size, &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  if (pixels) HeapFree(GetProcessHeap(), 0, pixels);
  return ok;
}

struct TooltipSearch {
  DWORD process = 0;
  HWND found = nullptr;
};

BOOL CALLBACK FindVisibleTooltip(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<TooltipSearch*>(context);
  std::array<char, 64> class_name{};
  GetClassNameA(window, class_name.data(), static_cast<int>(class_name.size()));
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == search->process && lstrcmpiA(class_name.data(), "tooltips_class32") == 0 &&
      IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

struct WindowCount {
  DWORD process = 0;
  int count = 0;
};

BOOL CALLBACK CountChildWindow(HWND, LPARAM context) {
  ++reinterpret_cast<WindowCount*>(context)->count;
  return TRUE;
}

BOOL CALLBACK CountProcessWindows(HWND window, LPARAM context) {
  auto* windows = reinterpret_cast<WindowCount*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == windows->process) {
    ++windows->count;
    EnumChildWindows(window, CountChildWindow, context);
  }
  return TRUE;
}

int PrintResources(HWND dialog) {
  WindowCount windows;
  GetWindowThreadProcessId(dialog, &windows.process);
  EnumWindows(CountProcessWindows, reinterpret_cast<LPARAM>(&windows));
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, windows.process);
  if (!process) {
    PrintError("cannot open the dialog's process\n");
    return 1;
  }
  const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
  const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
  CloseHandle(process);
  std::array<char, 128> line{};
  wsprintfA(line.data(), "gdi=%lu user=%lu windows=%d pid=%lu\n", static_cast<unsigned long>(gdi),
            static_cast<unsigned long>(user), windows.count,
            static_cast<unsigned long>(windows.process));
  Print(line.data());
  return 0;
}

// Has inspector-hook.dll measure the texts inside the dialog's process and
// prints its lines.
int PrintTextFit(HWND dialog) {
  HMODULE hook_library = LoadLibraryA(inspector::kHookLibrary);
  // Through void (*)(), the type that casts to any function type unwarned.
  const auto hook_procedure = reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(
      hook_library ? GetProcAddress(hook_library, inspector::kHookProcedure) : nullptr));
  if (!hook_procedure) {
    PrintError("cannot load inspector-hook.dll\n");
    return 1;
  }
  HANDLE memory = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     inspector::kTextFitMemorySize, inspector::kTextFitMemory);
  const char* lines = memory ? static_cast<const char*>(MapViewOfFile(
                                   memory, FILE_MAP_READ, 0, 0, inspector::kTextFitMemorySize))
                             : nullptr;
  HHOOK hook = lines ? SetWindowsHookExA(WH_CALLWNDPROC, hook_procedure, hook_library,
                                         GetWindowThreadProcessId(dialog, nullptr))
                     : nullptr;
  if (hook) {
    SendWithTimeout(dialog, RegisterWindowMessageA(inspector::kTextFitMessage), 0, 0);
    UnhookWindowsHookEx(hook);
  }
  // The hook ends what it writes with a NUL; an empty text means it never ran.
  const bool measured = hook && lines[0] != '\0';
  if (measured) {
    const std::string_view text(lines, inspector::kTextFitMemorySize);
    Print(text.substr(0, text.find('\0')));
  }
  if (lines) UnmapViewOfFile(lines);
  if (memory) CloseHandle(memory);
  if (!measured) PrintError("the dialog's process did not measure its texts\n");
  return measured ? 0 : 1;
}

bool ParseInt(const char* text, int& value) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 0);
  if (end == text || *end != '\0') return false;
  value = static_cast<int>(number);
  return true;
}

int Usage() {
  PrintError(
      "usage: inspector list | get ID | items ID | select ID INDEX | settext ID TEXT | click ID | "
      "layout | client |"
      " rect ID | shot FILE.bmp | tooltip | repaint | resources | texts\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string_view command = argv[1];
  HWND dialog = FindDialog();
  if (!dialog) {
    PrintError("no dialog \"Emulation\"\n");
    return 1;
  }

  if (command == "list" && argc == 2) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      PrintControl(child);
    }
    return 0;
  }
  if (command == "layout" && argc == 2) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      RECT rect{};
      GetWindowRect(child, &rect);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
      int id = GetDlgCtrlID(child);
      if (id == 0xFFFF) id = -1;
      std::array<char, 128> line{};
      wsprintfA(line.data(), "%d %d %d %d %d %08lX\n", id, static_cast<int>(rect.left),
                static_cast<int>(rect.top), static_cast<int>(rect.right - rect.left),
                static_cast<int>(rect.bottom - rect.top),
                static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)));
      Print(line.data());
    }
    return 0;
  }
  if (command == "client" && argc == 2) {
    PrintRect(ClientScreenRect(dialog));
    return 0;
  }
  if (command == "shot" && argc == 3) {
    if (SaveClientArea(dialog, argv[2])) return 0;
    PrintError("screenshot failed\n");
    return 1;
  }
  if (command == "resources" && argc == 2) return PrintResources(dialog);
  if (command == "texts" && argc == 2) return PrintTextFit(dialog);
  if (command == "repaint" && argc == 2) {
    // RDW_UPDATENOW sends WM_PAINT and returns when it was handled.
    return RedrawWindow(dialog, nullptr, nullptr,
                        RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW)
               ? 0
               : 1;
  }
  if (command == "tooltip" && argc == 2) {
    TooltipSearch search;
    GetWindowThreadProcessId(dialog, &search.process);
    EnumWindows(FindVisibleTooltip, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
      PrintError("no visible tooltip\n");
      return 1;
    }
    RECT rect{};
    GetWindowRect(search.found, &rect);
    std::array<char, 256> text{};
    ControlText(search.found, text);
    std::array<char, 400> line{};
    wsprintfA(line.data(), "%d %d %d %d text=%s\n", static_cast<int>(rect.left),
              static_cast<int>(rect.top), static_cast<int>(rect.right - rect.left),
              static_cast<int>(rect.bottom - rect.top), text.data());
    Print(line.data());
    return 0;
  }

  // The remaining commands name a control.
  int id = 0;
  if (argc < 3 || !ParseInt(argv[2], id)) return Usage();
  HWND control = FindControl(dialog, id);
  if (!control) {
    PrintError("no such control\n");
    return 1;
  }
  const auto notify = [&](WORD code) {
    SendWithTimeout(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
  };

  if (command == "get" && argc == 3) {
    PrintControl(control);
    return 0;
  }
  if (command == "rect" && argc == 3) {
    RECT rect{};
    GetWindowRect(control, &rect);
    PrintRect(rect);
    return 0;
  }
  if (command == "items" && argc == 3) {
    const LRESULT count = SendWithTimeout(control, CB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
      // The wide message: Wine hands the ANSI one's text back unconverted
      // across processes.
      std::array<wchar_t, 256> wide{};
      if (SendWithTimeout(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0) >=
          static_cast<LRESULT>(wide.size())) {
        return 1;
      }
      DWORD_PTR result = 0;
      SendMessageTimeoutW(control, CB_GETLBTEXT, static_cast<WPARAM>(index),
                          reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG,
                          kMessageTimeoutMs, &result);
      std::array<char, 512> text{};
      WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, text.data(), static_cast<int>(text.size()),
                          nullptr, nullptr);
      Print(text.data());
      Print("\n");
    }
    return 0;
  }
  if (command == "click" && argc == 3) {
    notify(BN_CLICKED);
    return 0;
  }
  if (command == "settext" && argc == 4) {
    SendWithTimeout(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    return 0;
  }
  if (command == "select" && argc == 4) {
    int index = 0;
    if (!ParseInt(argv[3], index)) return Usage();
    SendWithTimeout(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    notify(CBN_SELCHANGE);
    return 0;
  }
  return Usage();
}
