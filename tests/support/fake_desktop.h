// Stand-ins for the desktop operations: a simulated clock that only Sleep
// and waits advance, a shell that starts the programs it is told exist, and
// windows that exist for a set span of that clock, with processes that end
// a set time after their window was asked to close. Every call is noted in
// the clock's journal, so that a test can see the order of a whole run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/drives.h"
#include "platform/only_copy_lock.h"
#include "platform/process.h"
#include "platform/run_folder.h"
#include "tests/support/journal.h"

namespace tavelon::fakes {

class FakeClock {
 public:
  std::uint64_t now_ms = 0;
  Journal journal;
};

class FakeSleeper final : public platform::Sleeper {
 public:
  explicit FakeSleeper(FakeClock& clock) : clock_(clock) {}
  void Sleep(std::uint32_t milliseconds) override {
    Note(&clock_.journal, "sleep");
    sleeps.push_back(milliseconds);
    clock_.now_ms += milliseconds;
  }
  std::uint32_t Milliseconds() override {
    return static_cast<std::uint32_t>(clock_.now_ms);
  }
  std::vector<std::uint32_t> sleeps;

 private:
  FakeClock& clock_;
};

struct ShellStart {
  std::string file;
  std::string directory;
  std::uint64_t at_ms;
  bool from_desktop;  // asked of the desktop's shell
};

class FakeShell final : public platform::Shell {
 public:
  explicit FakeShell(FakeClock& clock) : clock_(clock) {}
  std::intptr_t Open(const char* file, const char* directory) override {
    const std::string path = file;
    Note(&clock_.journal, "start " + path.substr(path.rfind('\\') + 1));
    starts.push_back({file, directory, clock_.now_ms, false});
    auto found = results.find(file);
    // 2 is what the shell returns for a file that does not exist, 0 when
    // it is out of memory.
    if (failing.Count(0)) return 0;
    return found == results.end() ? 2 : found->second;
  }
  bool IsElevated() override {
    Note(&clock_.journal, "elevated?");
    return !failing.Count(0) && elevated;
  }
  // Starts what Open would start, when the desktop's shell works.
  bool OpenFromDesktop(const char* file, const char* directory) override {
    const std::string path = file;
    Note(&clock_.journal,
         "start from desktop " + path.substr(path.rfind('\\') + 1));
    starts.push_back({file, directory, clock_.now_ms, true});
    auto found = results.find(file);
    return !failing.Count(0) && desktop_shell_works && found != results.end() &&
           found->second > 32;
  }
  std::map<std::string, std::intptr_t> results;  // by full path
  bool elevated = false;
  bool desktop_shell_works = true;
  std::vector<ShellStart> starts;
  // Each call, a start or the question of elevation, counted as one kind.
  CallCounter<1> failing;

 private:
  FakeClock& clock_;
};

inline constexpr std::uint64_t kNever = ~0ull;

struct FakeWindow {
  std::string class_name;
  std::string title;
  std::uint64_t from_ms;   // exists from this time ...
  std::uint64_t until_ms;  // ... until just before this one
  // Its process ends this long after the window was asked to close (kNever:
  // it stays); it cannot be opened at all when not openable.
  std::uint64_t exit_after_close_ms = 0;
  bool process_openable = true;
};

class FakeWindows final : public platform::Windows {
 public:
  explicit FakeWindows(FakeClock& clock) : clock_(clock) {}
  bool FindTopLevel(const char* class_name, const char* title,
                    platform::WindowHandle* window) override {
    Note(&clock_.journal, std::string("find ") + class_name);
    looks.push_back({class_name, title, clock_.now_ms});
    if (failing_look.Count(0)) return false;
    for (std::size_t i = 0; i < windows.size(); ++i) {
      const FakeWindow& w = windows[i];
      if (w.class_name == class_name && w.title == title &&
          clock_.now_ms >= w.from_ms && clock_.now_ms < w.until_ms) {
        *window = i + 1;
        return true;
      }
    }
    return false;
  }
  // The window handles its WM_CLOSE in close_handling_ms. One slower than
  // the bound is given up at the bound, a hung one (kNever) at once: neither
  // closes.
  void SendClose(platform::WindowHandle window,
                 std::uint32_t milliseconds) override {
    Note(&clock_.journal, "close window");
    closed.push_back(window);
    close_bounds.push_back(milliseconds);
    if (close_handling_ms == kNever) return;
    clock_.now_ms += std::min<std::uint64_t>(close_handling_ms, milliseconds);
    if (close_handling_ms <= milliseconds) closed_at_ms[window] = clock_.now_ms;
  }
  bool OpenWindowProcess(platform::WindowHandle window,
                         platform::ProcessHandle* process) override {
    Note(&clock_.journal, "open window process");
    if (!windows.at(window - 1).process_openable) return false;
    *process = window;
    ++open_processes;
    return true;
  }
  bool WaitForProcessEnd(platform::ProcessHandle process,
                         std::uint32_t milliseconds) override {
    Note(&clock_.journal, "wait for process");
    waits.push_back(milliseconds);
    const std::uint64_t after = windows.at(process - 1).exit_after_close_ms;
    const auto closing = closed_at_ms.find(process);
    if (after != kNever && closing != closed_at_ms.end() &&
        closing->second + after <= clock_.now_ms + milliseconds) {
      if (closing->second + after > clock_.now_ms) {
        clock_.now_ms = closing->second + after;
      }
      return true;
    }
    clock_.now_ms += milliseconds;
    return false;
  }
  void CloseProcess(platform::ProcessHandle) override {
    Note(&clock_.journal, "close process");
    --open_processes;
  }
  void ShowWaitCursor() override {
    Note(&clock_.journal, "wait cursor");
    cursor_changes.push_back("wait");
  }
  void ShowArrowCursor() override {
    Note(&clock_.journal, "arrow cursor");
    cursor_changes.push_back("arrow");
  }

  struct Look {
    std::string class_name;
    std::string title;
    std::uint64_t at_ms;
  };
  std::vector<FakeWindow> windows;
  std::vector<Look> looks;
  std::vector<platform::WindowHandle> closed;
  std::vector<std::uint32_t> close_bounds;  // the bounds of the requests
  std::map<platform::WindowHandle, std::uint64_t> closed_at_ms;
  std::vector<std::uint32_t> waits;  // the bounds of the process waits
  int open_processes = 0;
  std::uint64_t close_handling_ms = 0;
  std::vector<std::string> cursor_changes;
  // The looks for a window, counted; the one made to fail finds nothing.
  CallCounter<1> failing_look;

 private:
  FakeClock& clock_;
};

class FakeProcess final : public platform::Process {
 public:
  const char* CommandLine() override {
    Note(journal, "command line");
    return command_line.c_str();
  }
  std::uint32_t ModuleFileName(char* buffer, std::uint32_t size) override {
    Note(journal, "module path");
    if (fail_module_path) return 0;
    std::uint32_t n = 0;
    for (; n < size && n < module_path.size(); ++n) buffer[n] = module_path[n];
    if (n < size) {
      buffer[n] = '\0';
    } else {
      buffer[size - 1] = '\0';  // truncated, as the system does it
    }
    return n;
  }
  std::string command_line;
  std::string module_path;
  platform::DesktopUser DesktopShellUser(char* sid) override {
    Note(journal, "desktop user");
    std::snprintf(sid, platform::kSidTextSize, "%s", desktop_sid.c_str());
    return desktop_user;
  }
  bool fail_module_path = false;
  platform::DesktopUser desktop_user = platform::DesktopUser::kSame;
  std::string desktop_sid = "S-1-5-21-7-7-7-1001";  // with kOther
  Journal* journal = nullptr;
};

// Drive letters: the fixed ones of this machine (upper case), the others
// network, removable or missing.
struct FakeDrives final : public platform::Drives {
  bool IsLocalFixed(char letter) override {
    asked += letter;
    return fixed.find(static_cast<char>(letter & ~0x20)) != std::string::npos;
  }
  std::string fixed = "C";
  std::string asked;
};

// The only-copy mark: each step can be made to fail, and another copy can
// hold the mark in either namespace. Notes which namespace it was taken in.
class FakeOnlyCopyLock final : public platform::OnlyCopyLock {
 public:
  bool CreateBoundary() override {
    Note(journal, "begin only copy");
    steps.push_back("boundary");
    return boundary;
  }
  bool AddHighIntegrityLabel() override {
    steps.push_back("label");
    return label;
  }
  bool CreateNamespace() override {
    steps.push_back("create namespace");
    return create_namespace;
  }
  bool OpenNamespace() override {
    steps.push_back("open namespace");
    return open_namespace;
  }
  Taken TakeMutex(bool in_private_namespace) override {
    if (!in_private_namespace) Note(journal, "begin only copy");
    const Taken result = in_private_namespace ? private_mutex : local_mutex;
    steps.push_back(std::string(in_private_namespace ? "private" : "local") +
                    (result == Taken::kTaken ? " mutex taken" : " mutex"));
    if (result == Taken::kTaken) ++held;
    return result;
  }
  void Release() override {
    Note(journal, "end only copy");
    held = 0;
    ++releases;
  }
  bool boundary = true;
  bool label = true;
  bool create_namespace = true;
  bool open_namespace = true;
  Taken private_mutex = Taken::kTaken;
  Taken local_mutex = Taken::kTaken;
  std::vector<std::string> steps;
  int held = 0;  // taken and not given back
  int releases = 0;
  Journal* journal = nullptr;
};

// The run's folder in memory: the copies made in it, the programs started
// from it (on the shared clock) and whether it was removed; each step can be
// made to fail.
class FakeRunFolder final : public platform::RunFolder {
 public:
  explicit FakeRunFolder(FakeClock& clock) : clock_(&clock) {}
  bool Make() override {
    Note(&clock_->journal, "make run folder");
    made = !fail_make;
    return made;
  }
  bool CreateNewFile(const char* name) override {
    Note(&clock_->journal, std::string("copy ") + name);
    if (!made || copies.count(name) != 0 || fail_copy == name) return false;
    writing = name;
    copies[name];
    return true;
  }
  bool Append(const void* data, std::uint32_t size) override {
    if (writing.empty()) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    copies[writing].insert(copies[writing].end(), bytes, bytes + size);
    return true;
  }
  bool CloseFile() override {
    const bool open = !writing.empty();
    writing.clear();
    return open;
  }
  bool Start(const char* name) override {
    Note(&clock_->journal, std::string("start copy ") + name);
    starts.push_back({name, "", clock_->now_ms, false});
    return made && copies.count(name) != 0 && fail_start != name;
  }
  bool WaitForPrograms(std::uint32_t wait_ms) override {
    Note(&clock_->journal, "wait for installers");
    waited_ms = wait_ms;
    return programs_end;
  }
  void Remove(bool at_restart) override {
    Note(&clock_->journal,
         at_restart ? "remove run folder at restart" : "remove run folder");
    removed = made;
    made = false;
  }

  bool fail_make = false;
  std::string fail_copy;   // the installer whose copy cannot be created
  std::string fail_start;  // the installer whose start fails
  bool made = false;
  bool removed = false;
  bool programs_end = true;  // within the wait
  std::uint32_t waited_ms = 0;
  std::map<std::string, std::vector<unsigned char>> copies;
  std::string writing;
  std::vector<ShellStart> starts;

 private:
  FakeClock* clock_;  // a pointer, so that a test can start anew by assigning
};

}  // namespace tavelon::fakes
