// The event log of the end-to-end stand-ins: every stand-in appends one
// line per event to the file that the environment variable TAVELON_E2E_LOG
// names (programs started by the shell inherit it) or, for programs that
// the desktop's shell started (they have the shell's environment, not the
// test's), the file that C:\tavelon-e2e-log.txt names. A line is
//   <wall clock in ms>\t<source>\t<process id>\t<event>[\t<key>=<value>]...
// with the values in UTF-8 (text of the ANSI code page converted), every
// byte below 0x21, '%' and every byte of 0x7F and above written as %XX, so
// that lines of all the processes can be told apart and compared in time by
// the test driver.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdio>

namespace e2e {

inline long long NowMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks;
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  // 100 ns ticks since 1601 to milliseconds since 1970.
  return static_cast<long long>(ticks.QuadPart / 10000ULL) - 11644473600000LL;
}

class EventLine {
 public:
  EventLine(const char* source, const char* event) {
    char head[64];
    std::snprintf(head, sizeof head, "%lld\t", NowMs());
    Append(head);
    Append(source);
    std::snprintf(head, sizeof head, "\t%lu\t",
                  static_cast<unsigned long>(GetCurrentProcessId()));
    Append(head);
    Append(event);
  }

  // A text in the ANSI code page.
  EventLine& Text(const char* key, const char* value) {
    wchar_t wide[8192];
    if (value == nullptr ||
        MultiByteToWideChar(CP_ACP, 0, value, -1, wide, 8192) == 0) {
      wide[0] = L'\0';
    }
    return Wide(key, wide);
  }

  EventLine& Wide(const char* key, const wchar_t* value) {
    char utf8[16384];
    if (value == nullptr ||
        WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8, nullptr,
                            nullptr) == 0) {
      utf8[0] = '\0';
    }
    return Utf8(key, utf8);
  }

  EventLine& Utf8(const char* key, const char* value) {
    Append("\t");
    Append(key);
    Append("=");
    AppendEncoded(value);
    return *this;
  }

  EventLine& Number(const char* key, long long value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%lld", value);
    return Utf8(key, digits);
  }

  // Pointers and handles too, of either width.
  EventLine& Hex(const char* key, unsigned long long value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "0x%llx", value);
    return Utf8(key, digits);
  }

  // Appends the line to the log; without a log named nothing is written.
  void Write() {
    char path[MAX_PATH];
    if (!LogPath(path, sizeof path)) return;
    Append("\n");
    // Several processes append to the same file; a sharing violation of a
    // writer that holds it at that moment is retried.
    for (int attempt = 0; attempt < 200; ++attempt) {
      const HANDLE file =
          CreateFileA(path, FILE_APPEND_DATA,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line_, static_cast<DWORD>(length_), &written, nullptr);
        CloseHandle(file);
        return;
      }
      Sleep(5);
    }
  }

 private:
  static bool LogPath(char* path, DWORD size) {
    const DWORD length = GetEnvironmentVariableA("TAVELON_E2E_LOG", path, size);
    if (length > 0 && length < size) return true;
    const HANDLE file =
        CreateFileA("C:\\tavelon-e2e-log.txt", GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD read = 0;
    const BOOL ok = ReadFile(file, path, size - 1, &read, nullptr);
    CloseHandle(file);
    if (!ok || read == 0) return false;
    path[read] = '\0';
    return true;
  }

  void Append(const char* text) {
    for (; *text != '\0'; ++text) Put(*text);
  }

  void AppendEncoded(const char* text) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (; text != nullptr && *text != '\0'; ++text) {
      const unsigned char byte = static_cast<unsigned char>(*text);
      if (byte < 0x21 || byte == '%' || byte >= 0x7F) {
        Put('%');
        Put(kDigits[byte >> 4]);
        Put(kDigits[byte & 0xF]);
      } else {
        Put(*text);
      }
    }
  }

  void Put(char c) {
    // The last byte stays free for the line break.
    if (length_ + 2 < sizeof line_) line_[length_++] = c;
  }

  char line_[16384] = {};
  std::size_t length_ = 0;
};

// The process's working directory and module path, for the "started" lines.
inline void CurrentDirectory(char* buffer, DWORD size) {
  const DWORD length = GetCurrentDirectoryA(size, buffer);
  if (length == 0 || length >= size) buffer[0] = '\0';
}

inline void ModulePath(char* buffer, DWORD size) {
  const DWORD length = GetModuleFileNameA(nullptr, buffer, size);
  if (length == 0 || length >= size) buffer[0] = '\0';
}

}  // namespace e2e
