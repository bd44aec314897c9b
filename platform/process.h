// What the process knows about itself: its command line and its file.
#pragma once

#include <cstdint>

namespace tavelon::platform {

// Whether the desktop belongs to the user this process runs as.
enum class DesktopUser {
  kSame,
  kOther,    // another user: an administrator's password given to elevate
  kUnknown,  // no desktop shell, or its user cannot be told
};

// Room for a SID as text (S-1-...), the longest there can be included.
inline constexpr std::uint32_t kSidTextSize = 192;

class Process {
 public:
  // The whole command line as the system passed it (GetCommandLineA).
  virtual const char* CommandLine() = 0;
  // The full path of the program's own file into buffer, in the ANSI code
  // page: on Win32 its short form when the code page cannot write the long
  // one exactly. Returns the number of characters copied: 0 when it cannot
  // be had or does not fit; size or more means it was cut short.
  virtual std::uint32_t ModuleFileName(char* buffer, std::uint32_t size) = 0;
  // The user of the desktop's shell (Explorer), through its window's
  // process and that process's token, compared with this process's user;
  // for kOther that user's SID as text into `sid` (kSidTextSize bytes).
  virtual DesktopUser DesktopShellUser(char* sid) = 0;

 protected:
  ~Process() = default;
};

}  // namespace tavelon::platform
