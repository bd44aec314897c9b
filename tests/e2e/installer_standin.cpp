// Stands in for the three speech component installers (copied as
// MSpchapi.exe, Msttsm22.exe and Msttsf22.exe). Each logs its start with
// its module path, working directory and full command line. The voice
// installers (file names starting with "Mstts") then show a standard dialog
// window ("#32770") titled "Microsoft Text-to-Speech Engine" for a set
// time: the setting DIALOG_MS, else 2000 ms (see Setting). The speech
// interface installer only works for a moment. Its paths are taken with the
// wide API, so that a folder whose name the ANSI code page cannot write is
// logged as it is, in its long form too. Like the self-extracting
// installers it stands in for, it loads libraries by their bare names, one
// that every system has (version.dll) and one that none has
// (spchhelp.dll), and logs where each came from, its TEMP, and which of its
// environment variables hold a value that a test set as the user's; it
// unpacks a file into its TEMP, and before it ends, after lingering for the
// setting LINGER_MS, logs whether that file is still there.
#include <windows.h>

#include <cstdlib>
#include <cstring>
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

// A number the test chose: the environment variable TAVELON_E2E_<name>,
// else the line "<name>=<number>" of C:\tavelon-e2e-installer.txt, which
// the test writes for the installers that an elevated update starts with
// the system's environment rather than the test's; else `otherwise`.
UINT Setting(const char* name, UINT otherwise) {
  char variable[64] = "TAVELON_E2E_";
  lstrcatA(variable, name);
  char text[512] = {};
  DWORD length = GetEnvironmentVariableA(variable, text, sizeof text);
  if (length > 0 && length < sizeof text) {
    return static_cast<UINT>(std::strtoul(text, nullptr, 10));
  }
  const HANDLE file =
      CreateFileA("C:\\tavelon-e2e-installer.txt", GENERIC_READ,
                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return otherwise;
  length = 0;
  const BOOL read = ReadFile(file, text, sizeof text - 1, &length, nullptr);
  CloseHandle(file);
  text[read ? length : 0] = '\0';
  const std::size_t name_length = std::strlen(name);
  for (const char* line = text; *line != '\0';) {
    if (std::strncmp(line, name, name_length) == 0 &&
        line[name_length] == '=') {
      return static_cast<UINT>(
          std::strtoul(line + name_length + 1, nullptr, 10));
    }
    const char* end = std::strchr(line, '\n');
    line = end != nullptr ? end + 1 : "";
  }
  return otherwise;
}

// What a self-extracting installer unpacks into its TEMP at its start:
// IXP000.TMP\<its name>.inf. At its end, after lingering for the time the
// test chose, it logs whether that file is still there, and removes it.
wchar_t g_unpacked_folder[MAX_PATH];
wchar_t g_unpacked[MAX_PATH];

void Unpack(const wchar_t* temp, const wchar_t* name) {
  if (temp[0] == L'\0' || lstrlenW(temp) + lstrlenW(name) + 20 >= MAX_PATH) {
    return;
  }
  lstrcpyW(g_unpacked_folder, temp);
  lstrcatW(g_unpacked_folder, L"\\IXP000.TMP");
  CreateDirectoryW(g_unpacked_folder, nullptr);
  lstrcpyW(g_unpacked, g_unpacked_folder);
  lstrcatW(g_unpacked, L"\\");
  lstrcatW(g_unpacked, name);
  lstrcatW(g_unpacked, L".inf");
  const HANDLE file =
      CreateFileW(g_unpacked, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

int Exit(const wchar_t* name) {
  Sleep(Setting("LINGER_MS", 0));
  e2e::EventLine(kSource, "exit")
      .Wide("name", name)
      .Number("unpacked_there",
              GetFileAttributesW(g_unpacked) != INVALID_FILE_ATTRIBUTES)
      .Write();
  DeleteFileW(g_unpacked);
  RemoveDirectoryW(g_unpacked_folder);
  return 0;
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
  Unpack(temp, name);

  if (_wcsnicmp(name, L"Mstts", 5) != 0) {
    Sleep(300);
    return Exit(name);
  }

  const UINT milliseconds = Setting("DIALOG_MS", 2000);
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
  return Exit(name);
}
