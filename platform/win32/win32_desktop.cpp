// Windows, cursor, shell, sleep and process information on Win32.
#include <windows.h>
// shellapi.h needs the definitions of windows.h.
#include <shellapi.h>

#include "platform/system.h"
#include "platform/win32/win32_desktop_shell.h"
#include "platform/win32/win32_kernel32.h"
#include "platform/win32/win32_text.h"

namespace tavelon::platform {
namespace {

bool ProcessIsElevated();

class Win32Windows final : public Windows {
 public:
  bool FindTopLevel(const char* class_name, const char* title,
                    WindowHandle* window) override {
    HWND found = FindWindowA(class_name, title);
    *window = reinterpret_cast<WindowHandle>(found);
    return found != nullptr;
  }

  void SendClose(WindowHandle window) override {
    SendMessageA(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0);
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

// A token's user (TOKEN_USER with its SID); DWORDs keep it aligned.
using TokenUserBuffer = DWORD[32];

// What a process's token says of itself.
bool TokenInformationOf(HANDLE process, TOKEN_INFORMATION_CLASS what,
                        void* information, DWORD size) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
  const BOOL got = GetTokenInformation(token, what, information, size, &size);
  CloseHandle(token);
  return got != 0;
}

bool TokenUserOf(HANDLE process, TokenUserBuffer& user) {
  return TokenInformationOf(process, TokenUser, user, sizeof user);
}

// True when the process's token is elevated; false where Windows cannot
// tell (before Vista).
bool ProcessIsElevated() {
  TOKEN_ELEVATION elevation = {};
  return TokenInformationOf(GetCurrentProcess(), TokenElevation, &elevation,
                            sizeof elevation) &&
         elevation.TokenIsElevated != 0;
}

PSID SidOf(TokenUserBuffer& user) {
  return reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
}

// Enables or disables SeDebugPrivilege in this process's token; true when
// it was enabled by this call.
bool SetDebugPrivilege(bool enable) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return false;
  }
  // SeDebugPrivilege's LUID is the same on every system
  // (SE_DEBUG_PRIVILEGE): no lookup by name.
  constexpr DWORD kDebugPrivilege = 20;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid.LowPart = kDebugPrivilege;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  TOKEN_PRIVILEGES before = {};
  DWORD size = 0;
  const bool adjusted = AdjustTokenPrivileges(token, FALSE, &privileges,
                                              sizeof before, &before, &size) &&
                        GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  // Already enabled before: nothing to drop afterwards.
  return adjusted && before.PrivilegeCount == 1;
}

// A SID as text, S-1-5-21-..., as HKEY_USERS names the users' settings;
// false for an identifier authority beyond 32 bits, which no user has.
// The SID is read from its documented layout (SID in winnt.h), as the
// system gave it in a token.
bool SidText(PSID sid, char* text) {
  const SID* parts = static_cast<const SID*>(sid);
  const BYTE* authority = parts->IdentifierAuthority.Value;
  if (parts->Revision != SID_REVISION ||
      parts->SubAuthorityCount > SID_MAX_SUB_AUTHORITIES || authority[0] != 0 ||
      authority[1] != 0) {
    return false;
  }
  const unsigned long value = static_cast<unsigned long>(authority[2]) << 24 |
                              static_cast<unsigned long>(authority[3]) << 16 |
                              static_cast<unsigned long>(authority[4]) << 8 |
                              static_cast<unsigned long>(authority[5]);
  int length = wsprintfA(text, "S-1-%lu", value);
  for (BYTE i = 0; i < parts->SubAuthorityCount; ++i) {
    length += wsprintfA(text + length, "-%lu",
                        static_cast<unsigned long>(parts->SubAuthority[i]));
  }
  return true;
}

class Win32Process final : public Process {
 public:
  const char* CommandLine() override { return GetCommandLineA(); }

  // Not GetModuleFileNameA: for a path that the ANSI code page cannot write
  // it gives best-fit replacements, a folder that does not exist.
  std::uint32_t ModuleFileName(char* buffer, std::uint32_t size) override {
    return win32::ModulePathInAnsiCodePage(buffer, size);
  }

  // Another account's process normally refuses an administrator these
  // opens: SeDebugPrivilege, which administrators hold, is enabled for them
  // only. A program of the user cannot lend the shell another user's token.
  DesktopUser DesktopShellUser(char* sid) override {
    HWND shell = GetShellWindow();
    if (shell == nullptr) shell = FindWindowA("Shell_TrayWnd", nullptr);
    DWORD id = 0;
    TokenUserBuffer own;
    TokenUserBuffer theirs;
    if (shell == nullptr || GetWindowThreadProcessId(shell, &id) == 0 ||
        id == 0 || !TokenUserOf(GetCurrentProcess(), own)) {
      return DesktopUser::kUnknown;
    }
    const bool debugging = SetDebugPrivilege(true);
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    const bool known = process != nullptr && TokenUserOf(process, theirs);
    if (process != nullptr) CloseHandle(process);
    if (debugging) SetDebugPrivilege(false);
    if (!known) return DesktopUser::kUnknown;
    if (EqualSid(SidOf(own), SidOf(theirs))) return DesktopUser::kSame;
    return SidText(SidOf(theirs), sid) ? DesktopUser::kOther
                                       : DesktopUser::kUnknown;
  }
};

Win32Windows windows;
Win32Shell shell;
Win32Sleeper sleeper;
Win32Process process;

}  // namespace

void RestrictLibrarySearch() {
  // SetDefaultDllDirectories came with an update of Windows 7: taken by
  // name from kernel32, which is loaded already, so nothing is searched.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  const auto set_default_directories =
      win32::Kernel32Function<SetDefaultDllDirectoriesFunction>(
          "SetDefaultDllDirectories");
  if (set_default_directories != nullptr) {
    set_default_directories(kSearchSystem32);
  }
  // Takes the current directory out of the search, also where the call
  // above is missing (the program's own folder then stays in it).
  SetDllDirectoryA("");
}

Windows& SystemWindows() { return windows; }
Shell& SystemShell() { return shell; }
Sleeper& SystemSleeper() { return sleeper; }
Process& SystemProcess() { return process; }

}  // namespace tavelon::platform
