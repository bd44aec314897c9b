// What the process knows about itself on Win32: its command line, its
// file, its elevation and the user of the desktop it runs on.
#include "platform/win32/win32_process.h"

#include "platform/system.h"
#include "platform/win32/win32_text.h"

namespace tavelon::platform {
namespace {

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

}  // namespace

bool ProcessIsElevated() {
  TOKEN_ELEVATION elevation = {};
  return TokenInformationOf(GetCurrentProcess(), TokenElevation, &elevation,
                            sizeof elevation) &&
         elevation.TokenIsElevated != 0;
}

namespace {

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
    // A process ID is reused once its process has ended: the process opened
    // is the shell's only if the shell window, still there, still belongs
    // to that ID now that the handle keeps the ID from being reused.
    DWORD still = 0;
    const bool known = process != nullptr &&
                       GetWindowThreadProcessId(shell, &still) != 0 &&
                       still == id && TokenUserOf(process, theirs);
    if (process != nullptr) CloseHandle(process);
    if (debugging) SetDebugPrivilege(false);
    if (!known) return DesktopUser::kUnknown;
    if (EqualSid(SidOf(own), SidOf(theirs))) return DesktopUser::kSame;
    return SidText(SidOf(theirs), sid) ? DesktopUser::kOther
                                       : DesktopUser::kUnknown;
  }
};

Win32Process process;

}  // namespace

Process& SystemProcess() { return process; }

}  // namespace tavelon::platform
