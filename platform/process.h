// What the process knows about itself: its command line and its file.
#pragma once

#include <cstdint>

namespace tavelon::platform {

class Process {
 public:
  // The whole command line as the system passed it (GetCommandLineA).
  virtual const char* CommandLine() = 0;
  // The full path of the program's own file into buffer, in the ANSI code
  // page: on Win32 its short form when the code page cannot write the long
  // one exactly. Returns the number of characters copied: 0 when it cannot
  // be had or does not fit; size or more means it was cut short.
  virtual std::uint32_t ModuleFileName(char* buffer, std::uint32_t size) = 0;

 protected:
  ~Process() = default;
};

}  // namespace tavelon::platform
