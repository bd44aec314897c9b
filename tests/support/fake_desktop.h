// Stand-ins for the desktop operations: a simulated clock that only Sleep
// advances, a shell that starts the programs it is told exist, and windows
// that exist for a set span of that clock.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/process.h"

namespace tavelon::fakes {

class FakeClock {
 public:
  std::uint64_t now_ms = 0;
};

class FakeSleeper final : public platform::Sleeper {
 public:
  explicit FakeSleeper(FakeClock& clock) : clock_(clock) {}
  void Sleep(std::uint32_t milliseconds) override {
    sleeps.push_back(milliseconds);
    clock_.now_ms += milliseconds;
  }
  std::vector<std::uint32_t> sleeps;

 private:
  FakeClock& clock_;
};

struct ShellStart {
  std::string file;
  std::string directory;
  std::uint64_t at_ms;
};

class FakeShell final : public platform::Shell {
 public:
  explicit FakeShell(FakeClock& clock) : clock_(clock) {}
  std::intptr_t Open(const char* file, const char* directory) override {
    starts.push_back({file, directory, clock_.now_ms});
    auto found = results.find(file);
    // 2 is what the shell returns for a file that does not exist.
    return found == results.end() ? 2 : found->second;
  }
  std::map<std::string, std::intptr_t> results;  // by full path
  std::vector<ShellStart> starts;

 private:
  FakeClock& clock_;
};

struct FakeWindow {
  std::string class_name;
  std::string title;
  std::uint64_t from_ms;   // exists from this time ...
  std::uint64_t until_ms;  // ... until just before this one
};

class FakeWindows final : public platform::Windows {
 public:
  explicit FakeWindows(FakeClock& clock) : clock_(clock) {}
  bool FindTopLevel(const char* class_name, const char* title,
                    platform::WindowHandle* window) override {
    looks.push_back({class_name, title, clock_.now_ms});
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
  void SendClose(platform::WindowHandle window) override {
    closed.push_back(window);
  }
  void ShowWaitCursor() override { cursor_changes.push_back("wait"); }
  void ShowArrowCursor() override { cursor_changes.push_back("arrow"); }

  struct Look {
    std::string class_name;
    std::string title;
    std::uint64_t at_ms;
  };
  std::vector<FakeWindow> windows;
  std::vector<Look> looks;
  std::vector<platform::WindowHandle> closed;
  std::vector<std::string> cursor_changes;

 private:
  FakeClock& clock_;
};

class FakeProcess final : public platform::Process {
 public:
  const char* CommandLine() override { return command_line.c_str(); }
  std::uint32_t ModuleFileName(char* buffer, std::uint32_t size) override {
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
  bool fail_module_path = false;
};

}  // namespace tavelon::fakes
