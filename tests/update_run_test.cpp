#include "update/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/system.h"
#include "tests/support/box_recorder.h"
#include "tests/support/dictionary_builder.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/fake_registry.h"
#include "tests/support/fault_files.h"
#include "tests/support/temp_folder.h"
#include "tests/support/whole_run.h"
#include "update/only_copy.h"

namespace tavelon::update {
namespace {

using namespace expected;  // NOLINT: the texts the user reads

using platform::RegistryRoot;
using test_support::Bytes;
using test_support::DictionaryBuilder;

using test_support::kOptionsKey;
constexpr const char* kRunKey = test_support::kRunEntryKey;

// A whole run against real files in a scratch folder: the installation in
// "inst", the program and its installers in "upd", and the current
// directory wherever the case puts it. Registry, windows, shell and boxes
// are stand-ins.
class UpdateRunTest : public ::testing::Test {
 protected:
  UpdateRunTest() {
    std::filesystem::create_directories(folder_.path() / "inst" / "data");
    std::filesystem::create_directories(folder_.path() / "upd");
    install_ = folder_.PathOf("inst") + "\\";
    update_ = folder_.PathOf("upd") + "\\";
    run_.process.command_line = "\"" + update_ + "TavelonUpdate.exe\" m";
    run_.process.module_path = update_ + "TavelonUpdate.exe";
    run_.registry = fakes::FakeRegistry();
    run_.registry.SetValue(RegistryRoot::kCurrentUser, kRunKey,
                           "Tavelon Translator", fakes::kRegSz,
                           install_ + "tavelon.exe");
    // Natively the scratch folder has no drive letter, so an elevated run
    // leaves the Run entry to App Paths.
    run_.registry.SetValue(RegistryRoot::kLocalMachine,
                           test_support::kAppPathsKey, "Path", fakes::kRegSz,
                           folder_.PathOf("inst"));
    run_.shell.results.clear();
    for (const char* name : {"MSpchapi.exe", "Msttsm22.exe", "Msttsf22.exe"}) {
      run_.shell.results[update_ + name] = 42;
    }
  }

  // One dictionary whose item at 300 the single record (0, 0) sets.
  void WriteDictionaryAndInfo() {
    dictionary_ = folder_.path() / "inst" / "data" / "engtoGer.dic";
    test_support::WriteBytes(dictionary_, DictionaryBuilder(400)
                                              .Section(0, 200)
                                              .Entry(200, 0, 300)
                                              .Item(300, 0x11111111)
                                              .bytes());
    test_support::WriteBytes(folder_.path() / "upd" / "info.tmp",
                             test_support::DescriptionBytes({{0, 0, 0xCAFE}}));
  }

  int Run(const std::filesystem::path& current_directory) {
    test_support::CurrentDirectoryGuard guard(current_directory);
    return run_.Run();
  }
  int RunFromUpdateFolder() { return Run(folder_.path() / "upd"); }

  test_support::TempFolder folder_;
  std::string install_, update_;
  std::filesystem::path dictionary_;
  // The stand-ins of the run, over the system's files.
  test_support::WholeRun run_{&platform::SystemFiles()};
};

// Every platform call of a whole run, reduced to the step it belongs to:
// a step done early or late changes the sequence.
TEST_F(UpdateRunTest, TakesItsStepsInOrder) {
  WriteDictionaryAndInfo();
  run_.shell.results[install_ + "tavelon.exe"] = 42;
  run_.shell.elevated = true;
  test_support::WriteBytes(folder_.path() / "inst" / "tavelon.exe", {});
  for (const char* name : {"MSpchapi.exe", "Msttsm22.exe"}) {
    test_support::WriteBytes(folder_.path() / "upd" / name, {'M', 'Z'});
  }
  fakes::Journal& journal = run_.clock.journal;
  run_.process.journal = run_.registry.journal = run_.boxes.journal =
      run_.files.journal = run_.only_copy.journal = &journal;
  // The only-copy mark is held while the run waits for its installers; one
  // still running at the end keeps the run's folder until the next restart.
  run_.run_folder.programs_end = false;
  EXPECT_EQ(kExitCompleted, RunFromUpdateFolder());
  const std::vector<std::string> still_running(journal.end() - 3,
                                               journal.end());
  EXPECT_EQ(still_running,
            (std::vector<std::string>{"wait for installers",
                                      "remove run folder at restart",
                                      "end only copy"}));
  run_.run_folder.programs_end = true;
  journal.clear();
  EXPECT_EQ(kExitCompleted, RunFromUpdateFolder());

  const auto step = [](const std::string& call) -> std::string {
    const auto starts = [&call](const char* prefix) {
      return call.rfind(prefix, 0) == 0;
    };
    const bool product = call.find("tavelon.exe") != std::string::npos;
    const bool installer = call.find(".exe") != std::string::npos;
    if (starts("registry query")) return "lookup";
    if (starts("registry set")) return "option";
    if (product) return "product start";
    if (starts("make run folder") || installer || starts("sleep") ||
        starts("find #32770")) {
      return "installers";
    }
    if (starts("open file") || starts("close file")) return "patching";
    if (starts("box Update completed")) return "completion box";
    return call;
  };
  std::vector<std::string> steps;
  for (const std::string& call : journal) {
    if (steps.empty() || steps.back() != step(call)) {
      steps.push_back(step(call));
    }
  }
  // clang-format off
  const std::vector<std::string> expected = {
      "command line", "elevated?", "begin only copy", "module path",
      "desktop user", "lookup", "wait cursor", "find Tavelon",
      "open window process", "close window", "pause", "wait for process",
      "close process", "option", "patching", "arrow cursor", "installers",
      "completion box", "product start", "wait for installers",
      "remove run folder", "end only copy"};
  // clang-format on
  EXPECT_EQ(steps, expected);
}

// The close request and the wait for the product's process share one
// budget of 30 s from the sending of the request: the wait gets what the
// request and the pause left of it. A product that does not answer (hung,
// or slower than the budget) is left like one whose process never ends.
// Without a process to wait for there is the pause only, and without a
// window neither.
TEST_F(UpdateRunTest, WaitsForTheClosedProductsProcessToEnd) {
  constexpr std::uint64_t kHandling = 700;  // WM_CLOSE takes this long
  constexpr std::uint64_t kPause = 300;
  struct {
    const char* what;
    bool window;
    bool openable;
    std::uint64_t exit_after_close_ms;
    int pauses;
    std::vector<std::uint32_t> waits;
    std::uint64_t done_ms;  // when the run went on, from the request's sending
    std::uint64_t pause = kPause;
    std::uint64_t handling = kHandling;
  } const cases[] = {
      // clang-format off
      {"exits at once", true, true, 0, 1, {29000}, 1000},
      {"exits after 2.5 s", true, true, 2500, 1, {29000}, 3200},
      {"exits after 30 s", true, true, 30000, 1, {29000}, 30000},
      {"never exits", true, true, fakes::kNever, 1, {29000}, 30000},
      {"process not openable", true, false, fakes::kNever, 1, {}, 1000},
      {"no window", false, true, 0, 0, {}, 0},
      // A pause longer than the bound leaves nothing to wait, not 49 days.
      {"pause beyond the bound", true, true, fakes::kNever, 1, {0}, 31700,
       31000},
      // Asking its user to save first: the whole budget is the product's.
      {"answers after 20 s", true, true, 0, 1, {9700}, 20300, kPause, 20000},
      {"no answer within the budget", true, true, 0, 1, {0}, 30300, kPause,
       40000},
      {"hung, given up at once", true, true, 0, 1, {29700}, 30000, kPause,
       fakes::kNever},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteDictionaryAndInfo();
    run_.clock.now_ms = 0;
    run_.pauses = 0;
    run_.pause_ms = c.pause;
    run_.windows.waits.clear();
    run_.windows.looks.clear();
    run_.windows.windows.clear();
    run_.windows.close_bounds.clear();
    run_.windows.closed_at_ms.clear();
    run_.windows.close_handling_ms = c.handling;
    if (c.window) {
      run_.windows.windows.push_back({"Tavelon", "Tavelon", 0, fakes::kNever,
                                      c.exit_after_close_ms, c.openable});
    }
    EXPECT_EQ(kExitCompleted, RunFromUpdateFolder());
    EXPECT_EQ(c.pauses, run_.pauses);
    EXPECT_EQ(c.waits, run_.windows.waits);
    EXPECT_EQ(c.window ? std::vector<std::uint32_t>{30000}
                       : std::vector<std::uint32_t>{},
              run_.windows.close_bounds);
    EXPECT_EQ(0, run_.windows.open_processes);
    // The first look for the voice installer's dialog comes 9 s after the
    // installers were started, which follows the wait at once.
    ASSERT_FALSE(run_.windows.looks.empty());
    EXPECT_EQ(c.done_ms + 9000, run_.windows.looks.back().at_ms);
    EXPECT_EQ("Tavelon", run_.windows.looks.front().class_name);
  }
}

// A bound program uses exactly the files released with it: another or a
// missing info.tmp writes no dictionary (exit 2), another or a missing
// installer is not started (exit 3), and the box names the first file
// refused, also when no dictionary was written or found. A file that the
// release did not ship is never used, and not refused either. The installers
// are checked, and held so that nobody can change them, from before the first
// start until each has been started. Elevated, each installer starts from a
// copy in the run's folder, both copies made before the first start; a released
// installer that cannot be copied or started is named too (exit 3), and the
// folder goes at the end.
TEST_F(UpdateRunTest, ABoundProgramUsesOnlyTheFilesReleasedWithIt) {
  // In the dictionary's place: the file, a folder (refused), or nothing.
  enum Place { kFile, kFolder, kNothing };
  struct {
    const char* what;
    std::vector<std::string> changed;
    const char* removed;
    bool ships_info, ships_installers;
    int exit_code;
    const char* refused;  // named in the box; nullptr: the completion box
    std::size_t started;  // of MSpchapi.exe and Msttsm22.exe, in that order
    bool patched;
    Place dictionary = kFile;
    const char* why = kNotReleased;
    // Elevated runs only: what fails in the run's folder.
    bool folder_fails = false;
    const char* copy_fails = "";
    const char* start_fails = "";
    bool ships_speech_interface = true;
  } const cases[] = {
      // clang-format off
      {"the released files", {}, "", true, true, 0, nullptr, 2, true},
      {"another info.tmp", {"info.tmp"}, "", true, true, 2, "info.tmp", 2,
       false},
      {"no info.tmp", {}, "info.tmp", true, true, 2, "info.tmp", 2, false},
      {"another speech installer", {"MSpchapi.exe"}, "", true, true, 3,
       "MSpchapi.exe", 0, true},
      {"no voice installer", {}, "Msttsm22.exe", true, true, 3, "Msttsm22.exe",
       1, true},
      {"no voice installer, no dictionary written", {}, "Msttsm22.exe", true,
       true, 3, "Msttsm22.exe", 1, false, kFolder},
      {"no voice installer, no dictionary found", {}, "Msttsm22.exe", true,
       true, 3, "Msttsm22.exe", 1, false, kNothing},
      {"another info.tmp and voice installer", {"info.tmp", "Msttsm22.exe"},
       "", true, true, 2, "info.tmp", 1, false},
      {"the other voice changed", {"Msttsf22.exe"}, "", true, true, 0, nullptr,
       2, true},
      {"installers not shipped", {"MSpchapi.exe"}, "", true, false, 0, nullptr,
       0, true},
      {"info.tmp not shipped", {"info.tmp"}, "", false, true, 0, nullptr, 2,
       false},
      {"no speech installer shipped, another voice", {"Msttsm22.exe"}, "",
       true, true, 3, "Msttsm22.exe", 0, true, kFile, kNotReleased, false, "",
       "", false},
      {"no run folder", {}, "", true, true, 3, "MSpchapi.exe", 0, true, kFile,
       kNotStarted, true},
      {"voice copy fails", {}, "", true, true, 3, "Msttsm22.exe", 1, true,
       kFile, kNotStarted, false, "Msttsm22.exe"},
      {"speech start fails", {}, "", true, true, 3, "MSpchapi.exe", 0, true,
       kFile, kNotStarted, false, "", "MSpchapi.exe"},
      {"voice start fails", {}, "", true, true, 3, "Msttsm22.exe", 1, true,
       kFile, kNotStarted, false, "", "Msttsm22.exe"},
      // clang-format on
  };
  for (const bool elevated : {false, true}) {
    for (const auto& c : cases) {
      const bool folder_case =
          c.folder_fails || *c.copy_fails != '\0' || *c.start_fails != '\0';
      if (folder_case && !elevated) continue;
      SCOPED_TRACE(std::string(c.what) + (elevated ? ", elevated" : ""));
      std::filesystem::remove_all(folder_.path() / "inst" / "data" /
                                  "engtoGer.dic");
      WriteDictionaryAndInfo();
      const Bytes before = test_support::ReadBytes(dictionary_);
      platform::Sha256Digest digests[4];
      const char* names[4] = {"info.tmp", "MSpchapi.exe", "Msttsm22.exe",
                              "Msttsf22.exe"};
      for (int i = 0; i < 4; ++i) {
        const std::filesystem::path file = folder_.path() / "upd" / names[i];
        if (i > 0) test_support::WriteBytes(file, Bytes(20000, 'M'));
        const Bytes bytes = test_support::ReadBytes(file);
        ASSERT_TRUE(platform::DigestOf(platform::SystemSha256(), bytes.data(),
                                       static_cast<std::uint32_t>(bytes.size()),
                                       &digests[i]));
      }
      for (const std::string& name : c.changed) {
        test_support::WriteBytes(
            folder_.path() / "upd" / name,
            name == "info.tmp" ? test_support::DescriptionBytes({{0, 0, 0xBAD}})
                               : Bytes(20000, 'X'));
      }
      if (c.dictionary != kFile) std::filesystem::remove(dictionary_);
      if (c.dictionary == kFolder)
        std::filesystem::create_directory(dictionary_);
      if (*c.removed != '\0') {
        std::filesystem::remove(folder_.path() / "upd" / c.removed);
      }
      run_.binding = {true, c.ships_info ? &digests[0] : nullptr,
                      c.ships_installers && c.ships_speech_interface
                          ? &digests[1]
                          : nullptr,
                      c.ships_installers ? &digests[2] : nullptr,
                      c.ships_installers ? &digests[3] : nullptr};
      run_.boxes.boxes.clear();
      run_.shell.starts.clear();
      run_.clock.journal.clear();
      run_.files.journal = &run_.clock.journal;
      run_.shell.results[install_ + "tavelon.exe"] = 42;
      run_.shell.elevated = elevated;
      test_support::WriteBytes(folder_.path() / "inst" / "tavelon.exe", {});
      run_.run_folder = fakes::FakeRunFolder(run_.clock);
      run_.run_folder.fail_make = c.folder_fails;
      run_.run_folder.fail_copy = c.copy_fails;
      run_.run_folder.fail_start = c.start_fails;

      EXPECT_EQ(c.exit_code, RunFromUpdateFolder());
      // The dictionary's own warning first, when it is refused.
      ASSERT_EQ(c.dictionary == kFolder ? 2u : 1u, run_.boxes.boxes.size());
      const fakes::RecordedBox& last = run_.boxes.boxes.back();
      if (c.refused == nullptr) {
        EXPECT_EQ(kCompletedFlags, last.flags);
      } else {
        EXPECT_EQ(std::string("Update failed - ") + c.refused + c.why,
                  last.text);
        EXPECT_EQ("Tavelon Setup", last.caption);
        EXPECT_EQ(kFailureFlags, last.flags);
      }
      std::vector<std::string> started;
      for (const auto& start :
           elevated ? run_.run_folder.starts : run_.shell.starts) {
        if (*c.start_fails != '\0' && start.file == c.start_fails) continue;
        started.push_back(start.file.substr(start.file.rfind('\\') + 1));
      }
      std::vector<std::string> expected = {"MSpchapi.exe", "Msttsm22.exe"};
      expected.resize(c.started);
      // Started after OK in every case: from the desktop when elevated.
      if (!elevated) expected.push_back("tavelon.exe");
      EXPECT_EQ(expected, started);
      if (c.dictionary == kFile) {
        EXPECT_EQ(c.patched, test_support::ReadBytes(dictionary_) != before);
      }
      EXPECT_EQ(0u, run_.files.OpenHandles());
      EXPECT_EQ(0, run_.files.BadHandleCalls());
      for (const auto& open : run_.files.opens()) {
        if (open.path.find("upd") != std::string::npos &&
            open.path.find(".exe") != std::string::npos) {
          EXPECT_EQ(platform::FileAccess::kReadLocked, open.access)
              << open.path;
        }
      }
      const auto at = [this](const std::string& line) {
        const auto& journal = run_.clock.journal;
        return std::find(journal.begin(), journal.end(), line) -
               journal.begin();
      };
      const std::string voice = update_ + "Msttsm22.exe";
      const std::string speech = update_ + "MSpchapi.exe";
      const std::string start = elevated ? "start copy " : "start ";
      if (c.started == 2) {
        EXPECT_LT(at("open file " + voice), at(start + "MSpchapi.exe"));
        EXPECT_LT(at(start + "MSpchapi.exe"), at("close file " + speech));
        EXPECT_LT(at(start + "Msttsm22.exe"), at("close file " + voice));
      }
      if (!elevated) continue;
      if (c.started > 0) {
        EXPECT_EQ(Bytes(20000, 'M'), run_.run_folder.copies["MSpchapi.exe"]);
      }
      if (c.started == 2) {
        EXPECT_LT(at("copy Msttsm22.exe"), at("start copy MSpchapi.exe"));
        EXPECT_EQ(Bytes(20000, 'M'), run_.run_folder.copies["Msttsm22.exe"]);
      }
      EXPECT_EQ(0u, run_.run_folder.copies.count("Msttsf22.exe"));
      EXPECT_EQ("remove run folder", run_.clock.journal.back());
      EXPECT_EQ(kInstallersEndWaitMs, run_.run_folder.waited_ms);
    }
  }
}

// An update elevated with another account's password (the desktop's user
// differs from the process's) reads the Run entry and writes the option in
// the desktop user's settings under HKEY_USERS; when that user is the same
// or cannot be told, and when not elevated, in HKEY_CURRENT_USER.
TEST_F(UpdateRunTest, UsesTheDesktopUsersSettings) {
  const std::string other = "S-1-5-21-7-7-7-1001";
  struct {
    const char* what;
    bool elevated;
    platform::DesktopUser desktop;
    bool asked;
    RegistryRoot root;
    std::string prefix;
  } const cases[] = {
      {"not elevated", false, platform::DesktopUser::kOther, false,
       RegistryRoot::kCurrentUser, ""},
      {"same user", true, platform::DesktopUser::kSame, true,
       RegistryRoot::kCurrentUser, ""},
      {"unknown user", true, platform::DesktopUser::kUnknown, true,
       RegistryRoot::kCurrentUser, ""},
      {"another user", true, platform::DesktopUser::kOther, true,
       RegistryRoot::kUsers, other + "\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteDictionaryAndInfo();
    fakes::FakeRegistry registry;
    registry.SetValue(c.root, c.prefix + kRunKey, "Tavelon Translator",
                      fakes::kRegSz, install_ + "tavelon.exe");
    registry.SetValue(RegistryRoot::kLocalMachine, test_support::kAppPathsKey,
                      "Path", fakes::kRegSz, folder_.PathOf("inst"));
    run_.registry = registry;
    run_.shell.elevated = c.elevated;
    run_.process.desktop_user = c.desktop;
    run_.clock.journal.clear();
    run_.process.journal = &run_.clock.journal;
    EXPECT_EQ(kExitCompleted, RunFromUpdateFolder());
    const auto& journal = run_.clock.journal;
    EXPECT_EQ(c.asked, std::find(journal.begin(), journal.end(),
                                 "desktop user") != journal.end());
    EXPECT_TRUE(run_.registry.WasAttempted(c.root, c.prefix + kRunKey));
    EXPECT_EQ(c.root == RegistryRoot::kCurrentUser,
              run_.registry.WasAttempted(RegistryRoot::kCurrentUser, kRunKey));
    const fakes::StoredValue* option = run_.registry.FindValue(
        c.root, c.prefix + kOptionsKey, "EnableExpressions");
    ASSERT_NE(nullptr, option);
    EXPECT_EQ(fakes::kRegDword, option->type);
    if (c.root == RegistryRoot::kUsers) {
      EXPECT_FALSE(
          run_.registry.HasKey(RegistryRoot::kCurrentUser, kOptionsKey));
    }
  }
}

// Elevated, the mark is taken in a private namespace that only
// administrators can create or open; when any step of that fails, and
// when not elevated, in the session's namespace. A mark held by another
// copy stops the run either way.
TEST(OnlyCopyTest, TakesTheMarkInTheNamespaceThatTheRightsAllow) {
  using Taken = platform::OnlyCopyLock::Taken;
  struct {
    const char* what;
    bool elevated, boundary, create_namespace, open_namespace;
    Taken private_mutex, local_mutex;
    bool begins;
    std::vector<std::string> steps;
    bool label = true;
  } const cases[] = {
      // clang-format off
      {"not elevated", false, true, true, true, Taken::kTaken, Taken::kTaken,
       true, {"local mutex taken"}},
      {"not elevated, held", false, true, true, true, Taken::kTaken,
       Taken::kHeldElsewhere, false, {"local mutex"}},
      {"elevated", true, true, true, true, Taken::kTaken, Taken::kHeldElsewhere,
       true,
       {"boundary", "label", "create namespace", "private mutex taken"}},
      {"elevated, namespace exists", true, true, false, true, Taken::kTaken,
       Taken::kHeldElsewhere, true,
       {"boundary", "label", "create namespace", "open namespace",
        "private mutex taken"}},
      {"elevated, held", true, true, true, true, Taken::kHeldElsewhere,
       Taken::kTaken, false,
       {"boundary", "label", "create namespace", "private mutex"}},
      {"no boundary", true, false, true, true, Taken::kHeldElsewhere,
       Taken::kTaken, true, {"boundary", "local mutex taken"}},
      {"no namespace", true, true, false, false, Taken::kHeldElsewhere,
       Taken::kTaken, true,
       {"boundary", "label", "create namespace", "open namespace",
        "local mutex taken"}},
      {"no private mutex", true, true, true, true, Taken::kFailed,
       Taken::kTaken, true,
       {"boundary", "label", "create namespace", "private mutex",
        "local mutex taken"}},
      {"nothing at all", true, false, false, false, Taken::kFailed,
       Taken::kFailed, false, {"boundary", "local mutex"}},
      {"no integrity label", true, true, true, true, Taken::kHeldElsewhere,
       Taken::kTaken, true, {"boundary", "label", "local mutex taken"}, false},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fakes::FakeOnlyCopyLock lock;
    lock.boundary = c.boundary;
    lock.label = c.label;
    lock.create_namespace = c.create_namespace;
    lock.open_namespace = c.open_namespace;
    lock.private_mutex = c.private_mutex;
    lock.local_mutex = c.local_mutex;
    EXPECT_EQ(c.begins, BeginOnlyCopy(lock, c.elevated));
    EXPECT_EQ(c.steps, lock.steps);
  }
}

}  // namespace
}  // namespace tavelon::update
