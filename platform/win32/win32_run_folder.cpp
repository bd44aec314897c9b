// The run's folder on Win32: under the Windows folder's Temp, where ordinary
// users may create entries but cannot rename or delete an administrator's
// folder; never the per-user temporary folder, which is the user's own.
#include <windows.h>

#include <cstddef>

#include "platform/system.h"
#include "platform/win32/win32_kernel32.h"
#include "platform/win32/win32_security.h"

namespace tavelon::platform::win32 {

namespace {

constexpr DWORD kPathSize = MAX_PATH;
constexpr int kMaxInstallers = 2;
// How deep the installers' own folders are followed when the run's folder
// is deleted; anything deeper stays until the folder is removed by hand.
constexpr int kMaxDepth = 8;

// Appends `text` at path[length] within `size` characters; false when it
// does not fit.
bool AppendTextWithin(wchar_t* path, DWORD size, DWORD* length,
                      const wchar_t* text) {
  DWORD at = *length;
  for (; *text != L'\0'; ++text) {
    if (at + 1 >= size) return false;
    path[at++] = *text;
  }
  path[at] = L'\0';
  *length = at;
  return true;
}

template <DWORD kSize>
bool AppendText(wchar_t (&path)[kSize], DWORD* length, const wchar_t* text) {
  return AppendTextWithin(path, kSize, length, text);
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

// Deletes the entry path[0..length) through a handle opened on the entry
// itself (a link as the link, never what it leads to), a folder after what
// it holds; when `at_restart`, or when it cannot be deleted now (in use),
// schedules it for the next restart instead.
void DeleteEntry(wchar_t (&path)[kPathSize], DWORD length, int depth,
                 bool at_restart);

// Deletes (or schedules) the entries of the folder open as `folder`, at
// path[0..length), listed through that handle. Each is then opened by its
// path: only administrators can change what the run's folder holds.
void DeleteContents(HANDLE folder, wchar_t (&path)[kPathSize], DWORD length,
                    int depth, bool at_restart) {
  using GetInformationFunction =
      BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  const auto get_information =
      Kernel32Function<GetInformationFunction>("GetFileInformationByHandleEx");
  // Room for a few entries of the longest name at a time; aligned as the
  // entries are.
  LONGLONG listing[160];
  const auto* bytes = reinterpret_cast<const BYTE*>(listing);
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
       get_information != nullptr &&
       get_information(folder, kind, listing, sizeof listing);
       kind = FileIdBothDirectoryInfo) {
    for (DWORD at = 0;;) {
      const auto& entry =
          *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + at);
      const wchar_t* name = entry.FileName;
      const DWORD name_length = entry.FileNameLength / sizeof *name;
      DWORD child = length;
      if (!(name[0] == L'.' &&
            (name_length == 1 || (name_length == 2 && name[1] == L'.'))) &&
          AppendText(path, &child, L"\\") && child + name_length < kPathSize) {
        for (DWORD i = 0; i < name_length; ++i) path[child++] = name[i];
        path[child] = L'\0';
        DeleteEntry(path, child, depth, at_restart);
      }
      path[length] = L'\0';
      if (entry.NextEntryOffset == 0) break;
      at += entry.NextEntryOffset;
    }
  }
}

void DeleteEntry(wchar_t (&path)[kPathSize], DWORD length, int depth,
                 bool at_restart) {
  using SetInformationFunction =
      BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  const auto set_information =
      Kernel32Function<SetInformationFunction>("SetFileInformationByHandle");
  const HANDLE entry = CreateFileW(
      path,
      DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES |
          FILE_LIST_DIRECTORY,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
      nullptr);
  bool deleted = false;
  BY_HANDLE_FILE_INFORMATION information;
  if (entry != INVALID_HANDLE_VALUE &&
      GetFileInformationByHandle(entry, &information)) {
    const DWORD attributes = information.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && depth < kMaxDepth) {
      DeleteContents(entry, path, length, depth + 1, at_restart);
    }
    if (!at_restart && set_information != nullptr) {
      // A read-only file is deleted only once it is no longer so.
      FILE_BASIC_INFO basic = {};
      basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        set_information(entry, FileBasicInfo, &basic, sizeof basic);
      }
      FILE_DISPOSITION_INFO disposition = {TRUE};
      deleted = set_information(entry, FileDispositionInfo, &disposition,
                                sizeof disposition) != 0;
    }
  }
  if (entry != INVALID_HANDLE_VALUE) CloseHandle(entry);
  if (!deleted) MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Room for the system's variables, which take far less than this; more
// fails the start, never cuts the block short.
constexpr DWORD kEnvironmentSize = 32768;

// A variable that the run sets in the installers' environment.
struct Variable {
  const wchar_t* name;
  const wchar_t* value;
};

// Whether the block's entry `entry` ("NAME=value") is the variable `name`,
// whose letters are ASCII; names compare without regard to case.
bool IsVariable(const wchar_t* entry, const wchar_t* name) {
  for (; *name != L'\0'; ++entry, ++name) {
    if ((*entry | 0x20) != (*name | 0x20)) return false;
  }
  return *entry == L'=';
}

// Appends the entry "name=value" (`name` alone, a whole entry, without a
// value) and its terminator to block at *used; false when it does not fit
// with room left for the block's final terminator.
bool PutEntry(wchar_t* block, DWORD* used, const wchar_t* name,
              const wchar_t* value) {
  const wchar_t* const parts[] = {name, value != nullptr ? L"=" : L"",
                                  value != nullptr ? value : L""};
  for (const wchar_t* text : parts) {
    for (; *text != L'\0'; ++text) {
      if (*used + 2 >= kEnvironmentSize) return false;
      block[(*used)++] = *text;
    }
  }
  block[(*used)++] = L'\0';
  return true;
}

// Writes into `joined` the environment block of `ours`, then the entries
// of `system` but those of the same names. False when it does not fit.
template <std::size_t kCount>
bool JoinEnvironment(const wchar_t* system, const Variable (&ours)[kCount],
                     wchar_t* joined) {
  DWORD used = 0;
  for (const Variable& variable : ours) {
    if (!PutEntry(joined, &used, variable.name, variable.value)) return false;
  }
  for (const wchar_t* entry = system; *entry != L'\0';) {
    bool replaced = false;
    for (const Variable& variable : ours) {
      replaced = replaced || IsVariable(entry, variable.name);
    }
    if (!replaced && !PutEntry(joined, &used, entry, nullptr)) return false;
    while (*entry++ != L'\0') {
    }
  }
  joined[used] = L'\0';
  return true;
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
    if (!made_ || count_ == kMaxInstallers ||
        (environment_[0] == L'\0' && !MakeEnvironment()) ||
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
    if (!CreateProcessW(program, command_line, nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, environment_, folder_,
                        &startup, &started)) {
      return false;
    }
    CloseHandle(started.hThread);
    processes_[count_++] = started.hProcess;
    return true;
  }

  bool WaitForPrograms(std::uint32_t wait_ms) override {
    return count_ == 0 ||
           WaitForMultipleObjects(static_cast<DWORD>(count_), processes_, TRUE,
                                  wait_ms) == WAIT_OBJECT_0;
  }

  void Remove(bool at_restart) override {
    for (int i = 0; i < count_; ++i) CloseHandle(processes_[i]);
    count_ = 0;
    CloseFile();
    if (!made_) return;
    made_ = false;
    DeleteEntry(folder_, length_, 0, at_restart);
  }

 private:
  // The installers' environment, made once: the system's own variables
  // (CreateEnvironmentBlock without a token and without this process's
  // own, from userenv.dll of the system folder, loaded now so that it is no
  // import that loads at start), with the run's folder as TEMP and TMP, a
  // PATH of the system's folders only, and the Windows folder as windir
  // and SystemRoot in place of the system's values.
  bool MakeEnvironment() {
    wchar_t windows[kPathSize];
    wchar_t path[2 * kPathSize];
    wchar_t library[kPathSize];
    const UINT windows_length = GetSystemWindowsDirectoryW(windows, kPathSize);
    DWORD system_length = GetSystemDirectoryW(path, kPathSize);
    if (windows_length == 0 || windows_length >= kPathSize ||
        system_length == 0 || system_length >= kPathSize) {
      return false;
    }
    DWORD library_length = 0;
    AppendText(library, &library_length, path);
    if (!AppendText(library, &library_length, L"\\userenv.dll") ||
        !AppendText(path, &system_length, L";") ||
        !AppendText(path, &system_length, windows)) {
      return false;
    }
    using CreateFunction = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
    using DestroyFunction = BOOL(WINAPI*)(LPVOID);
    const HMODULE userenv = LoadLibraryW(library);
    if (userenv == nullptr) return false;
    const auto create =
        reinterpret_cast<CreateFunction>(reinterpret_cast<void (*)()>(
            GetProcAddress(userenv, "CreateEnvironmentBlock")));
    const auto destroy =
        reinterpret_cast<DestroyFunction>(reinterpret_cast<void (*)()>(
            GetProcAddress(userenv, "DestroyEnvironmentBlock")));
    void* system = nullptr;
    const Variable ours[] = {{L"TEMP", folder_},
                             {L"TMP", folder_},
                             {L"PATH", path},
                             {L"windir", windows},
                             {L"SystemRoot", windows}};
    const bool made = create != nullptr && destroy != nullptr &&
                      create(&system, nullptr, FALSE) &&
                      JoinEnvironment(static_cast<const wchar_t*>(system), ours,
                                      environment_);
    if (system != nullptr) destroy(system);
    FreeLibrary(userenv);
    if (!made) environment_[0] = L'\0';
    return made;
  }

  // The folder's path lies outside the object, in zero-initialised memory
  // that the program file does not have to hold.
  static wchar_t folder_[kPathSize];
  // The installers' environment block; empty until made.
  static wchar_t environment_[kEnvironmentSize];
  DWORD length_ = 0;
  bool made_ = false;
  HANDLE file_ = nullptr;  // the file being written
  HANDLE processes_[kMaxInstallers] = {};
  int count_ = 0;
};

wchar_t Win32RunFolder::folder_[kPathSize];
wchar_t Win32RunFolder::environment_[kEnvironmentSize];
Win32RunFolder run_folder;

}  // namespace
}  // namespace tavelon::platform::win32

namespace tavelon::platform {

RunFolder& SystemRunFolder() { return win32::run_folder; }

}  // namespace tavelon::platform
