// The file operations on Windows.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "platform/files.h"
#include "platform/system.h"
#include "platform/win32/win32_kernel32.h"

namespace tavelon::platform {
namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// Errors that say there is no such file to open: beside a missing file or
// folder, a name no file can have (a folder found in the registry with its
// quotation marks, say) and a drive or share that is not there. Any other
// error means a file that exists but cannot be opened.
bool FileCannotExist(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return true;
    default:
      return false;
  }
}

// Final paths longer than this are refused.
constexpr DWORD kFinalPathSize = 1024;

// The final path of an open file or folder (GetFinalPathNameByHandleW,
// taken by name: Windows Vista and later have it), its letters in upper
// case so that paths compare without regard to case. Its length, or 0.
DWORD UpperFinalPath(HANDLE handle, wchar_t (&path)[kFinalPathSize]) {
  using GetFinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  const auto get_final_path = win32::Kernel32Function<GetFinalPathFunction>(
      "GetFinalPathNameByHandleW");
  if (get_final_path == nullptr) return 0;
  const DWORD length = get_final_path(handle, path, kFinalPathSize, 0);
  if (length == 0 || length >= kFinalPathSize) return 0;
  CharUpperBuffW(path, length);
  return length;
}

class Win32Files final : public Files {
 public:
  OpenStatus OpenExisting(const char* path, FileAccess access,
                          FileHandle* file) override {
    const DWORD desired = access == FileAccess::kReadWrite
                              ? GENERIC_READ | GENERIC_WRITE
                              : GENERIC_READ;
    const DWORD sharing = access == FileAccess::kReadLocked
                              ? FILE_SHARE_READ
                              : FILE_SHARE_READ | FILE_SHARE_WRITE;
    // A path from the registry may name a pipe: its server never gets to
    // act with this process's rights.
    const HANDLE handle = CreateFileA(
        path, desired, sharing, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
        nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      return FileCannotExist(GetLastError()) ? OpenStatus::kNotFound
                                             : OpenStatus::kFailed;
    }
    *file = reinterpret_cast<FileHandle>(handle);
    return OpenStatus::kOpened;
  }

  std::int32_t Length(FileHandle file) override {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(ToHandle(file), &high);
    if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 ||
        low >= 0x80000000u) {
      return -1;
    }
    return static_cast<std::int32_t>(low);
  }

  // The 64-bit position goes to the system as its two 32-bit halves; a
  // negative one is refused before.
  bool SetPosition(FileHandle file, std::int64_t position) override {
    if (position < 0) return false;
    const std::uint64_t unsigned_position =
        static_cast<std::uint64_t>(position);
    const LONG low =
        static_cast<LONG>(static_cast<DWORD>(unsigned_position & 0xFFFFFFFFu));
    LONG high = static_cast<LONG>(unsigned_position >> 32);
    SetLastError(NO_ERROR);
    const DWORD result = SetFilePointer(ToHandle(file), low, &high, FILE_BEGIN);
    return result != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
  }

  std::uint32_t Read(FileHandle file, void* buffer,
                     std::uint32_t size) override {
    DWORD transferred = 0;
    if (!ReadFile(ToHandle(file), buffer, size, &transferred, nullptr)) {
      return 0;
    }
    return transferred;
  }

  std::uint32_t Write(FileHandle file, const void* data,
                      std::uint32_t size) override {
    DWORD transferred = 0;
    if (!WriteFile(ToHandle(file), data, size, &transferred, nullptr)) {
      return 0;
    }
    return transferred;
  }

  bool Flush(FileHandle file) override {
    return FlushFileBuffers(ToHandle(file)) != 0;
  }

  OpenStatus OpenFolder(const char* path, FileHandle* folder) override {
    // Without the trailing backslash that the program's folders carry.
    char name[MAX_PATH];
    const std::size_t length = std::strlen(path);
    if (length == 0 || length >= sizeof name) return OpenStatus::kFailed;
    std::memcpy(name, path, length + 1);
    if (name[length - 1] == '\\') name[length - 1] = '\0';
    const HANDLE handle =
        CreateFileA(name, FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT |
                        SECURITY_IDENTIFICATION,
                    nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      return FileCannotExist(GetLastError()) ? OpenStatus::kNotFound
                                             : OpenStatus::kFailed;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      CloseHandle(handle);
      return OpenStatus::kFailed;
    }
    *folder = reinterpret_cast<FileHandle>(handle);
    return OpenStatus::kOpened;
  }

  bool IsOwnFile(FileHandle file, FileHandle folder,
                 const char* name) override {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(ToHandle(file), &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        information.nNumberOfLinks != 1) {
      return false;
    }
    wchar_t file_path[kFinalPathSize];
    wchar_t expected[kFinalPathSize];
    const DWORD file_length = UpperFinalPath(ToHandle(file), file_path);
    DWORD length = UpperFinalPath(ToHandle(folder), expected);
    // Room for the separator, the name and its terminator, or no match.
    if (file_length == 0 || length == 0 || length + 2 >= kFinalPathSize) {
      return false;
    }
    if (expected[length - 1] != L'\\') expected[length++] = L'\\';
    const int name_length = MultiByteToWideChar(
        CP_ACP, MB_ERR_INVALID_CHARS, name, -1, expected + length,
        static_cast<int>(kFinalPathSize - length));
    if (name_length <= 1) return false;
    length += static_cast<DWORD>(name_length - 1);
    CharUpperBuffW(expected + length - (name_length - 1),
                   static_cast<DWORD>(name_length - 1));
    return file_length == length &&
           std::memcmp(file_path, expected, length * sizeof *expected) == 0;
  }

  void Close(FileHandle file) override { CloseHandle(ToHandle(file)); }
};

class Win32Drives final : public Drives {
 public:
  bool IsLocalFixed(char letter) override {
    const char root[] = {letter, ':', '\\', '\0'};
    return GetDriveTypeA(root) == DRIVE_FIXED;
  }
};

}  // namespace

Files& SystemFiles() {
  static Win32Files files;
  return files;
}

Drives& SystemDrives() {
  static Win32Drives drives;
  return drives;
}

}  // namespace tavelon::platform
