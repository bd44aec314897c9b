// Windows, cursor, shell and sleep on Win32.
#include <windows.h>
// shellapi.h needs the definitions of windows.h.
#include <shellapi.h>

#include "platform/system.h"
#include "platform/win32/win32_desktop_shell.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_text.h"

namespace tavelon::platform {
namespace {

class Win32Windows final : public Windows {
 public:
  bool FindTopLevel(const char* class_name, const char* title,
                    WindowHandle* window) override {
    HWND found = FindWindowA(class_name, title);
    *window = reinterpret_cast<WindowHandle>(found);
    return found != nullptr;
  }

  void SendClose(WindowHandle window, std::uint32_t milliseconds) override {
    // A window that does not answer would hold the update for ever: the
    // request is given up after the bound, or at once when the window's
    // thread is hung. The window's answer is not needed.
    SendMessageTimeoutA(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0,
                        SMTO_ABORTIFHUNG, milliseconds, nullptr);
  }

  bool OpenWindowProcess(WindowHandle window, ProcessHandle* process) override {
    DWORD id = 0;
    if (GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &id) == 0 ||
        id == 0) {
      return false;
    }
    const HANDLE opened = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (opened == nullptr) return false;
    *process = reinterpret_cast<ProcessHandle>(opened);
    return true;
  }

  bool WaitForProcessEnd(ProcessHandle process,
                         std::uint32_t milliseconds) override {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(process),
                               milliseconds) == WAIT_OBJECT_0;
  }

  void CloseProcess(ProcessHandle process) override {
    CloseHandle(reinterpret_cast<HANDLE>(process));
  }

  void ShowWaitCursor() override {
    // IDC_WAIT and IDC_ARROW by number: under UNICODE those names are wide
    // strings, which LoadCursorA does not take.
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
  }

  void ShowArrowCursor() override {
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));  // IDC_ARROW
  }
};

class Win32Shell final : public Shell {
 public:
  std::intptr_t Open(const char* file, const char* directory) override {
    HINSTANCE result =
        ShellExecuteA(GetDesktopWindow(), "open", file, "", directory, SW_SHOW);
    return reinterpret_cast<std::intptr_t>(result);
  }

  bool IsElevated() override { return ProcessIsElevated(); }

  bool OpenFromDesktop(const char* file, const char* directory) override {
    return OpenFromDesktopShell(file, directory);
  }
};

class Win32Sleeper final : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
  std::uint32_t Milliseconds() override { return GetTickCount(); }
};

Win32Windows windows;
Win32Shell shell;
Win32Sleeper sleeper;

}  // namespace

Windows& SystemWindows() { return windows; }
Shell& SystemShell() { return shell; }
Sleeper& SystemSleeper() { return sleeper; }

}  // namespace tavelon::platform
