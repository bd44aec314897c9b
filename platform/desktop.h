// Windows, the cursor, the shell and sleeping: what the update run and the
// speech installers need of the desktop.
#pragma once

#include <cstdint>

namespace tavelon::platform {

using WindowHandle = std::uintptr_t;
// A process opened only to wait for its end.
using ProcessHandle = std::uintptr_t;

class Windows {
 public:
  // A top-level window whose class name and title both match (FindWindowA).
  virtual bool FindTopLevel(const char* class_name, const char* title,
                            WindowHandle* window) = 0;
  // Sends WM_CLOSE (wParam and lParam 0) and waits until it was handled, at
  // most `milliseconds`; not at all when the window's thread has stopped
  // taking messages (SendMessageTimeoutA with SMTO_ABORTIFHUNG).
  virtual void SendClose(WindowHandle window, std::uint32_t milliseconds) = 0;
  // Opens the process that owns the window, with the right to wait for its
  // end only (GetWindowThreadProcessId, OpenProcess(SYNCHRONIZE)). False
  // when the window has no process or the process cannot be opened.
  virtual bool OpenWindowProcess(WindowHandle window,
                                 ProcessHandle* process) = 0;
  // Waits at most `milliseconds` for the process to end; true when it has.
  virtual bool WaitForProcessEnd(ProcessHandle process,
                                 std::uint32_t milliseconds) = 0;
  virtual void CloseProcess(ProcessHandle process) = 0;
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
  // True when this process runs elevated (its token's TokenElevation).
  virtual bool IsElevated() = 0;
  // Asks the desktop's own shell (Explorer) to start an existing program the
  // same way as Open, so that it runs with the rights of the desktop's user
  // rather than this process's. The caller makes sure the file is there (the
  // shell would show a box of its own). False when no such shell answers or
  // any step fails.
  virtual bool OpenFromDesktop(const char* file, const char* directory) = 0;

 protected:
  ~Shell() = default;
};

// Sleeping, and the time that passes meanwhile.
class Sleeper {
 public:
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // Milliseconds since some fixed moment (GetTickCount): only differences
  // mean anything, taken modulo 2^32.
  virtual std::uint32_t Milliseconds() = 0;

 protected:
  ~Sleeper() = default;
};

}  // namespace tavelon::platform
