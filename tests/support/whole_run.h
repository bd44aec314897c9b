// A whole update run against stand-ins: files (in memory unless the test
// gives others), the registry, windows, shell, sleeping and message boxes. The
// product is installed in C:\Tavelon\ (its Run entry names
// C:\Tavelon\tavelon.exe) and is running; the update program and its three
// installers lie in D:\Update\; it is started with the argument m. Each test
// adds the files it needs.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tests/support/box_recorder.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/fake_registry.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"
#include "update/update_run.h"

namespace tavelon::test_support {

inline constexpr char kInstallationFolder[] = "C:\\Tavelon\\";
inline constexpr char kUpdateFolder[] = "D:\\Update\\";
inline constexpr char kRunEntryKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kAppPathsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\tavelon.exe";
inline constexpr char kOptionsKey[] =
    "Software\\Tavelon\\Tavelon Translator\\Options";

class WholeRun {
 public:
  // Over the files in memory, or over `inner` (the system's, say); either
  // way through the fault-injecting wrapper.
  explicit WholeRun(platform::Files* inner = nullptr)
      : files(inner != nullptr ? *inner : memory) {
    registry.SetValue(platform::RegistryRoot::kCurrentUser, kRunEntryKey,
                      "Tavelon Translator", fakes::kRegSz,
                      std::string(kInstallationFolder) + "tavelon.exe" + '\0');
    process.command_line = "TavelonUpdate.exe m";
    process.module_path = std::string(kUpdateFolder) + "TavelonUpdate.exe";
    windows.windows.push_back({"Tavelon", "Tavelon", 0, ~0ull});
    for (const char* name : {"MSpchapi.exe", "Msttsm22.exe", "Msttsf22.exe"}) {
      shell.results[std::string(kUpdateFolder) + name] = 42;
    }
    shell.results[Product()] = 42;
  }

  static std::string Dictionary(const char* code) {
    return std::string(kInstallationFolder) + "data\\engto" + code + ".dic";
  }
  static std::string Installer(const char* name) {
    return std::string(kUpdateFolder) + name;
  }
  static std::string Product() {
    return std::string(kInstallationFolder) + "tavelon.exe";
  }

  int Run() {
    const update::RunPlatform system{
        process,    registry,  drives,
        files,      boxes,     windows,
        shell,      sleeper,   platform::SystemSha256(),
        run_folder, only_copy, Pause,
        binding};
    Current() = this;
    pauses = 0;
    return update::RunUpdate(system);
  }

  // The programs the run started from the run's folder ("copy NAME"),
  // then those it asked the shell to start, each in order ("desktop PATH"
  // for the desktop's shell, which starts them with the user's rights).
  std::vector<std::string> Starts() const {
    std::vector<std::string> started;
    for (const auto& start : run_folder.starts) {
      started.push_back("copy " + start.file);
    }
    for (const auto& start : shell.starts) {
      started.push_back((start.from_desktop ? "desktop " : "") + start.file);
    }
    return started;
  }
  // The option's value as stored, or nullptr.
  const fakes::StoredValue* Option() const {
    return registry.FindValue(platform::RegistryRoot::kCurrentUser, kOptionsKey,
                              "EnableExpressions");
  }

  // The processor-bound pause after closing the product: counted, noted in
  // the journal, and taking pause_ms of the stand-in clock.
  int pauses = 0;
  std::uint64_t pause_ms = 0;

  fakes::FakeClock clock;
  fakes::FakeProcess process;
  fakes::FakeRegistry registry;
  fakes::FakeDrives drives;
  fakes::MemoryFiles memory;
  fakes::FaultFiles files;
  fakes::BoxRecorder boxes;
  fakes::FakeWindows windows{clock};
  fakes::FakeShell shell{clock};
  fakes::FakeSleeper sleeper{clock};
  fakes::FakeRunFolder run_folder{clock};
  fakes::FakeOnlyCopyLock only_copy;
  update::ReleaseBinding binding = update::kUnbound;

 private:
  static WholeRun*& Current() {
    static WholeRun* current = nullptr;
    return current;
  }
  static void Pause() {
    WholeRun& run = *Current();
    ++run.pauses;
    fakes::Note(&run.clock.journal, "pause");
    run.clock.now_ms += run.pause_ms;
  }
};

// What a run should leave behind.
struct RunLeft {
  int exit_code;
  std::vector<fakes::RecordedBox> boxes;
  std::vector<std::string> starts;  // as WholeRun::Starts gives them
  bool option_written;
  std::map<std::string, std::vector<unsigned char>> files;  // by path
};

// Checks a run against what it should leave, and against what every run
// must: every file and key closed, no call on a handle that is not open,
// the only-copy mark given back, the update description never written,
// and nothing but the options key opened for writing.
inline void ExpectLeft(const WholeRun& run, int exit_code,
                       const RunLeft& expected) {
  EXPECT_EQ(exit_code, expected.exit_code);
  EXPECT_EQ(run.boxes.boxes, expected.boxes);
  EXPECT_EQ(run.Starts(), expected.starts);
  for (const auto& start : run.shell.starts) {  // each in its own folder
    EXPECT_EQ(start.directory,
              start.file.substr(0, start.file.rfind('\\') + 1));
  }
  EXPECT_EQ(run.files.OpenHandles(), 0u);
  EXPECT_EQ(run.files.BadHandleCalls(), 0);
  EXPECT_EQ(run.registry.open_handles(), 0u);
  EXPECT_EQ(run.registry.bad_closes(), 0);
  EXPECT_EQ(run.only_copy.held, 0);
  for (const auto& [path, bytes] : expected.files) {
    const auto* found = run.memory.Find(path);
    ASSERT_NE(found, nullptr) << path;
    EXPECT_TRUE(*found == bytes) << path;
  }
  for (const auto& access : run.files.accesses()) {
    if (access.operation == fakes::FaultFiles::Operation::kWrite) {
      EXPECT_NE(access.path, "info.tmp");
    }
  }
  const fakes::StoredValue* option = run.Option();
  if (expected.option_written) {
    ASSERT_NE(option, nullptr);
    EXPECT_EQ(option->type, fakes::kRegDword);
    EXPECT_EQ(option->data, std::string("\x01\x00\x00\x00", 4));
  } else {
    EXPECT_EQ(option, nullptr);
  }
  for (const fakes::KeyAttempt& attempt : run.registry.attempts()) {
    if (attempt.access == fakes::KeyAccess::kSet) {
      EXPECT_EQ(attempt.path, kOptionsKey);
    }
  }
}

}  // namespace tavelon::test_support
