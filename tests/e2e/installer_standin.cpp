// Stands in for the three speech component installers (copied as
// MSpchapi.exe, Msttsm22.exe and Msttsf22.exe). Each logs its start with
// its module path, working directory and full command line. The voice
// installers (file names starting with "Mstts") then show a standard dialog
// window ("#32770") titled "Microsoft Text-to-Speech Engine" for a set
// time: TAVELON_E2E_DIALOG_MS milliseconds, else 2000. The speech
// interface installer only works for a moment. Its paths are taken with the
// wide API, so that a folder whose name the ANSI code page cannot write is
// logged as it is, in its long form too. Like the self-extracting
// installers it stands in for, it loads libraries by their bare names, one
// that every system has (version.dll) and one that none has
// (spchhelp.dll), and logs where each came from, its TEMP, and which of its
// environment variables hold a value that a test set as the user's.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <initializer_list>

#include "tests/e2e/event_log.h"

namespace {

const char kSource[] = "installer";
HWND g_dialog = nullptr;

const wchar_t* FileName(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  return name;
}

// The dialog time in milliseconds, as the comment at the top says.
UINT DialogMilliseconds() {
  char text[64] = {};
  const DWORD length =
      GetEnvironmentVariableA("TAVELON_E2E_DIALOG_MS", text, sizeof text);
  if (length == 0 || length >= sizeof text) return 2000;
  return static_cast<UINT>(std::strtoul(text, nullptr, 10));
}

// The names of the variables of its environment whose value holds
// "tavelon-user", the mark of what a test set as the user: in the update's
// own environment or in the user's settings.
void LogUserValues(const wchar_t* name) {
  static wchar_t names[4096];
  std::size_t used = 0;
  const LPWCH block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0';
       entry += lstrlenW(entry) + 1) {
    const wchar_t* equals = std::wcschr(entry + 1, L'=');
    if (equals == nullptr) continue;
    static wchar_t value[32768];
    lstrcpynW(value, equals + 1, 32768);
    CharLowerW(value);
    const std::size_t length = static_cast<std::size_t>(equals - entry);
    if (std::wcsstr(value, L"tavelon-user") == nullptr ||
        used + length + 2 >= sizeof names / sizeof *names) {
      continue;
    }
    if (used > 0) names[used++] = L',';
    for (std::size_t i = 0; i < length; ++i) names[used++] = entry[i];
  }
  names[used] = L'\0';
  if (block != nullptr) FreeEnvironmentStringsW(block);
  e2e::EventLine(kSource, "environment")
      .Wide("name", name)
      .Wide("user_values", names)
      .Write();
}

void CALLBACK CloseDialog(HWND, UINT, UINT_PTR, DWORD) {
  DestroyWindow(g_dialog);
  e2e::EventLine(kSource, "dialog-closed").Write();
  PostQuitMessage(0);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  static wchar_t directory[MAX_PATH];
  static wchar_t module[MAX_PATH];
  static wchar_t module_long[MAX_PATH];
  static wchar_t directory_long[MAX_PATH];
  const DWORD cwd_length = GetCurrentDirectoryW(MAX_PATH, directory);
  if (cwd_length == 0 || cwd_length >= MAX_PATH) directory[0] = L'\0';
  const DWORD module_length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  if (module_length == 0 || module_length >= MAX_PATH) module[0] = L'\0';
  // As started, perhaps in a short (8.3) form; and in the long form.
  if (GetLongPathNameW(module, module_long, MAX_PATH) == 0) {
    module_long[0] = L'\0';
  }
  if (GetLongPathNameW(directory, directory_long, MAX_PATH) == 0) {
    directory_long[0] = L'\0';
  }
  const wchar_t* name =
      FileName(module_long[0] != L'\0' ? module_long : module);
  e2e::EventLine(kSource, "started")
      .Wide("name", name)
      .Wide("module", module)
      .Wide("cwd", directory)
      .Wide("module_long", module_long)
      .Wide("cwd_long", directory_long)
      .Text("cmdline", GetCommandLineA())
      .Write();

  e2e::EventLine libraries(kSource, "libraries");
  libraries.Wide("name", name);
  for (const wchar_t* library : {L"version.dll", L"spchhelp.dll"}) {
    static wchar_t path[MAX_PATH];
    const HMODULE loaded = LoadLibraryW(library);
    if (loaded == nullptr || GetModuleFileNameW(loaded, path, MAX_PATH) == 0) {
      lstrcpyW(path, L"-");
    }
    libraries.Wide(library[0] == L'v' ? "version" : "helper", path);
  }
  static wchar_t temp[MAX_PATH];
  if (GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH) == 0) temp[0] = L'\0';
  libraries.Wide("temp", temp).Write();
  LogUserValues(name);

  if (_wcsnicmp(name, L"Mstts", 5) != 0) {
    Sleep(300);
    e2e::EventLine(kSource, "exit").Wide("name", name).Write();
    return 0;
  }

  const UINT milliseconds = DialogMilliseconds();
  g_dialog = CreateWindowExA(0, "#32770", "Microsoft Text-to-Speech Engine",
                             WS_POPUP | WS_CAPTION | WS_VISIBLE, 200, 160, 420,
                             120, nullptr, nullptr, instance, nullptr);
  if (g_dialog == nullptr) {
    e2e::EventLine(kSource, "dialog-failed")
        .Number("error", static_cast<long long>(GetLastError()))
        .Write();
    return 3;
  }
  CreateWindowExA(0, "STATIC", "Installing the text-to-speech voice...",
                  WS_CHILD | WS_VISIBLE, 16, 24, 380, 24, g_dialog, nullptr,
                  instance, nullptr);
  e2e::EventLine(kSource, "dialog-shown")
      .Wide("name", name)
      .Number("ms", static_cast<long long>(milliseconds))
      .Write();
  SetTimer(nullptr, 0, milliseconds, CloseDialog);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  e2e::EventLine(kSource, "exit").Wide("name", name).Write();
  return 0;
}
