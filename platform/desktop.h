// Windows, the cursor, the shell and sleeping: what the update run and the
// speech installers need of the desktop.
#pragma once

#include <cstdint>

namespace tavelon::platform {

using WindowHandle = std::uintptr_t;

class Windows {
 public:
  // A top-level window whose class name and title both match (FindWindowA).
  virtual bool FindTopLevel(const char* class_name, const char* title,
                            WindowHandle* window) = 0;
  // Sends WM_CLOSE (wParam and lParam 0) and waits until it was handled.
  virtual void SendClose(WindowHandle window) = 0;
  virtual void ShowWaitCursor() = 0;
  virtual void ShowArrowCursor() = 0;

 protected:
  ~Windows() = default;
};

class Shell {
 public:
  // Starts a program with the verb "open", empty parameters, the given
  // working directory and SW_SHOW, owned by the desktop window. Returns the
  // shell's result as a signed integer: greater than 32 means started.
  virtual std::intptr_t Open(const char* file, const char* directory) = 0;

 protected:
  ~Shell() = default;
};

class Sleeper {
 public:
  virtual void Sleep(std::uint32_t milliseconds) = 0;

 protected:
  ~Sleeper() = default;
};

}  // namespace tavelon::platform
