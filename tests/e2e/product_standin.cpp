// Stands in for the installed translator (tavelon.exe): a top-level window
// of class and title "Tavelon" that logs when it starts (with its working
// directory and command line), when its window exists, when it gets
// WM_CLOSE, and when it ends.
#include <windows.h>

#include "tests/e2e/event_log.h"

namespace {

const char kSource[] = "product";

LRESULT CALLBACK ProductWindow(HWND window, UINT message, WPARAM wparam,
                               LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      e2e::EventLine(kSource, "WM_CLOSE")
          .Hex("wparam", static_cast<unsigned long>(wparam))
          .Hex("lparam", static_cast<unsigned long>(lparam))
          .Write();
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  char directory[MAX_PATH];
  char module[MAX_PATH];
  e2e::CurrentDirectory(directory, sizeof directory);
  e2e::ModulePath(module, sizeof module);
  e2e::EventLine(kSource, "started")
      .Text("cwd", directory)
      .Text("module", module)
      .Text("cmdline", GetCommandLineA())
      .Write();

  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = ProductWindow;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = "Tavelon";
  if (RegisterClassA(&window_class) == 0) return 3;
  const HWND window =
      CreateWindowExA(0, "Tavelon", "Tavelon", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                      40, 40, 360, 200, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 3;
  e2e::EventLine(kSource, "ready")
      .Hex("hwnd",
           static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)))
      .Write();

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  e2e::EventLine(kSource, "exit").Write();
  return 0;
}
