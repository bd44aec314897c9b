// The run's folder on Win32: under the Windows folder's Temp, where ordinary
// users may create entries but cannot rename or delete an administrator's
// folder; never the per-user temporary folder, which is the user's own.
#include <windows.h>

#include "platform/system.h"
#include "platform/win32/win32_security.h"

namespace tavelon::platform::win32 {

namespace {

constexpr DWORD kPathSize = MAX_PATH;
constexpr int kMaxInstallers = 2;
// How deep the installers' own folders are followed when the run's folder
// is deleted; anything deeper stays until the folder is removed by hand.
constexpr int kMaxDepth = 8;

// Appends `text` at path[length]; false when it does not fit.
bool AppendText(wchar_t (&path)[kPathSize], DWORD* length,
                const wchar_t* text) {
  DWORD at = *length;
  for (; *text != L'\0'; ++text) {
    if (at + 1 >= kPathSize) return false;
    path[at++] = *text;
  }
  path[at] = L'\0';
  *length = at;
  return true;
}

// An installer's name, which is ASCII, appended after a backslash.
bool AppendName(wchar_t (&path)[kPathSize], DWORD* length, const char* name) {
  wchar_t wide[64];
  int i = 0;
  for (; name[i] != '\0' && i + 1 < 64; ++i) {
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
  }
  wide[i] = L'\0';
  return name[i] == '\0' && AppendText(path, length, L"\\") &&
         AppendText(path, length, wide);
}

// 128 random bits as 32 hexadecimal digits.
bool RandomName(wchar_t (&digits)[33]) {
  BYTE random[16];
  if (!RandomBytes(random, sizeof random)) return false;
  for (int i = 0; i < 16; ++i) {
    digits[2 * i] = L"0123456789abcdef"[random[i] >> 4];
    digits[2 * i + 1] = L"0123456789abcdef"[random[i] & 15];
  }
  digits[32] = L'\0';
  return true;
}

// Deletes path now, or when Windows next starts if it is in use.
void DeleteOrSchedule(const wchar_t* path, bool folder) {
  if (folder ? RemoveDirectoryW(path) : DeleteFileW(path)) return;
  MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Deletes all that the folder path[0..length) holds, files before their
// folder. A link (a reparse point) is deleted itself, never followed.
void DeleteContents(wchar_t (&path)[kPathSize], DWORD length, int depth) {
  DWORD pattern_length = length;
  if (!AppendText(path, &pattern_length, L"\\*")) return;
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW(path, &entry);
  path[length] = L'\0';
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const wchar_t* name = entry.cFileName;
    if (name[0] == L'.' &&
        (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) {
      continue;
    }
    DWORD child = length;
    if (!AppendText(path, &child, L"\\") || !AppendText(path, &child, name)) {
      path[length] = L'\0';
      continue;
    }
    const DWORD attributes = entry.dwFileAttributes;
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      if (folder && depth < kMaxDepth) DeleteContents(path, child, depth + 1);
      if (!folder && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
      }
    }
    DeleteOrSchedule(path, folder);
    path[length] = L'\0';
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

class Win32RunFolder final : public RunFolder {
 public:
  bool Make() override {
    AdministratorsOnlySecurity security;
    if (!BuildRunFolderSecurity(&security)) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor,
                                      FALSE};
    // The name is new each time: a folder of that name that exists already
    // belongs to someone else.
    for (int attempt = 0; attempt < 8; ++attempt) {
      wchar_t digits[33];
      length_ = GetSystemWindowsDirectoryW(folder_, kPathSize);
      if (length_ == 0 || length_ >= kPathSize || !RandomName(digits) ||
          !AppendText(folder_, &length_, L"\\Temp\\TavelonUpdate-") ||
          !AppendText(folder_, &length_, digits)) {
        return false;
      }
      if (CreateDirectoryW(folder_, &attributes)) {
        made_ = true;
        return true;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
  }

  bool CreateNewFile(const char* name) override {
    wchar_t path[kPathSize];
    DWORD length = 0;
    if (!made_ || file_ != nullptr || !AppendText(path, &length, folder_) ||
        !AppendName(path, &length, name)) {
      return false;
    }
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    file_ = file;
    return true;
  }

  bool Append(const void* data, std::uint32_t size) override {
    DWORD written = 0;
    return file_ != nullptr &&
           WriteFile(file_, data, size, &written, nullptr) && written == size;
  }

  bool CloseFile() override {
    const bool closed = file_ != nullptr && CloseHandle(file_);
    file_ = nullptr;
    return closed;
  }

  bool Start(const char* name) override {
    wchar_t program[kPathSize];
    wchar_t command_line[kPathSize + 2];
    DWORD length = 0;
    if (!made_ || count_ == kMaxInstallers || !SetEnvironment() ||
        !AppendText(program, &length, folder_) ||
        !AppendName(program, &length, name)) {
      return false;
    }
    command_line[0] = L'"';
    for (DWORD i = 0; i < length; ++i) command_line[i + 1] = program[i];
    command_line[length + 1] = L'"';
    command_line[length + 2] = L'\0';
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(program, command_line, nullptr, nullptr, FALSE, 0,
                        nullptr, folder_, &startup, &started)) {
      return false;
    }
    CloseHandle(started.hThread);
    processes_[count_++] = started.hProcess;
    return true;
  }

  void Remove(std::uint32_t wait_ms) override {
    if (count_ > 0) {
      WaitForMultipleObjects(static_cast<DWORD>(count_), processes_, TRUE,
                             wait_ms);
    }
    for (int i = 0; i < count_; ++i) CloseHandle(processes_[i]);
    count_ = 0;
    CloseFile();
    if (!made_) return;
    made_ = false;
    DeleteContents(folder_, length_, 0);
    folder_[length_] = L'\0';
    DeleteOrSchedule(folder_, true);
  }

 private:
  // The environment that the installers inherit: the update's own, with
  // the run's folder for their temporary files, and a library search path
  // of the system's folders only (the user's PATH comes from the user's
  // own settings).
  bool SetEnvironment() {
    wchar_t windows[kPathSize];
    wchar_t path[2 * kPathSize];
    const UINT windows_length = GetSystemWindowsDirectoryW(windows, kPathSize);
    const UINT system_length = GetSystemDirectoryW(path, kPathSize);
    if (windows_length == 0 || windows_length >= kPathSize ||
        system_length == 0 || system_length >= kPathSize) {
      return false;
    }
    path[system_length] = L';';
    for (UINT i = 0; i <= windows_length; ++i) {
      path[system_length + 1 + i] = windows[i];
    }
    return SetEnvironmentVariableW(L"TEMP", folder_) &&
           SetEnvironmentVariableW(L"TMP", folder_) &&
           SetEnvironmentVariableW(L"PATH", path) &&
           SetEnvironmentVariableW(L"windir", windows) &&
           SetEnvironmentVariableW(L"SystemRoot", windows);
  }

  // The folder's path lies outside the object, in zero-initialised memory
  // that the program file does not have to hold.
  static wchar_t folder_[kPathSize];
  DWORD length_ = 0;
  bool made_ = false;
  HANDLE file_ = nullptr;  // the file being written
  HANDLE processes_[kMaxInstallers] = {};
  int count_ = 0;
};

wchar_t Win32RunFolder::folder_[kPathSize];
Win32RunFolder run_folder;

}  // namespace
}  // namespace tavelon::platform::win32

namespace tavelon::platform {

RunFolder& SystemRunFolder() { return win32::run_folder; }

}  // namespace tavelon::platform
