// Stands in for the installed translator (tavelon.exe): a top-level window
// of class and title "Tavelon" that logs when it starts (with its working
// directory and command line), when its window exists, when it gets
// WM_CLOSE, and when it ends. Its start names the program that started it.
//
// TAVELON_E2E_PRODUCT_HOLD="<file> <ms>" makes it hold that file (relative to
// its working directory) open without write sharing from its start until
// <ms> after its window has closed, then end, as a translator that saves
// its dictionaries on the way out; "<file> never" keeps it, and the
// process, after the window has gone.
//
// TAVELON_E2E_PRODUCT_HANG="<ms>" makes its window's thread stop taking
// messages for <ms> once its window exists (after taking up the file to
// hold), as a translator that hangs: a WM_CLOSE sent meanwhile is not
// answered.
#include <windows.h>
// tlhelp32.h needs the definitions of windows.h.
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>

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

// The program that started this one: its file name and process id, from a
// snapshot of the processes.
void FindParent(char* name, std::size_t size, DWORD* parent) {
  name[0] = '\0';
  *parent = 0;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more;
       more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) {
      *parent = entry.th32ParentProcessID;
    }
  }
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more && *parent != 0;
       more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == *parent) {
      std::strncpy(name, entry.szExeFile, size - 1);
      name[size - 1] = '\0';
    }
  }
  CloseHandle(snapshot);
}

// The file to hold and for how long after the window closed (-1: for ever).
HANDLE HoldFile(long* hold_ms) {
  char setting[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("TAVELON_E2E_PRODUCT_HOLD",
                                               setting, sizeof setting);
  if (length == 0 || length >= sizeof setting) return INVALID_HANDLE_VALUE;
  char* blank = std::strrchr(setting, ' ');
  if (blank == nullptr) return INVALID_HANDLE_VALUE;
  *blank = '\0';
  *hold_ms = std::strcmp(blank + 1, "never") == 0
                 ? -1
                 : std::strtol(blank + 1, nullptr, 10);
  const HANDLE file =
      CreateFileA(setting, GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  e2e::EventLine(kSource, "holding")
      .Text("file", setting)
      .Number("opened", file != INVALID_HANDLE_VALUE ? 1 : 0)
      .Number("ms", *hold_ms)
      .Write();
  return file;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  char directory[MAX_PATH];
  char module[MAX_PATH];
  e2e::CurrentDirectory(directory, sizeof directory);
  e2e::ModulePath(module, sizeof module);
  char parent[MAX_PATH];
  DWORD parent_id = 0;
  FindParent(parent, sizeof parent, &parent_id);
  e2e::EventLine(kSource, "started")
      .Text("cwd", directory)
      .Text("module", module)
      .Text("cmdline", GetCommandLineA())
      .Text("parent", parent)
      .Number("parent_pid", parent_id)
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

  long hold_ms = 0;
  const HANDLE held = HoldFile(&hold_ms);
  char hang[32];
  const DWORD hang_length =
      GetEnvironmentVariableA("TAVELON_E2E_PRODUCT_HANG", hang, sizeof hang);
  if (hang_length > 0 && hang_length < sizeof hang) {
    const long hang_ms = std::strtol(hang, nullptr, 10);
    e2e::EventLine(kSource, "hung").Number("ms", hang_ms).Write();
    Sleep(static_cast<DWORD>(hang_ms));
    e2e::EventLine(kSource, "answering").Write();
  }

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (held != INVALID_HANDLE_VALUE) {
    if (hold_ms < 0) {
      e2e::EventLine(kSource, "staying").Write();
      for (;;) Sleep(1000);
    }
    Sleep(static_cast<DWORD>(hold_ms));
    CloseHandle(held);
    e2e::EventLine(kSource, "released").Write();
  }
  e2e::EventLine(kSource, "exit").Write();
  return 0;
}
