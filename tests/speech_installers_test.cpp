#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"
#include "update/speech_installers.h"

namespace tavelon::update {
namespace {

using fakes::FakeClock;
using fakes::FakeShell;
using fakes::FakeSleeper;
using fakes::FakeWindows;

constexpr char kFolder[] = "C:\\Update\\";
const std::string kSpeech = std::string(kFolder) + "MSpchapi.exe";
const std::string kMale = std::string(kFolder) + "Msttsm22.exe";
const std::string kFemale = std::string(kFolder) + "Msttsf22.exe";

// Unless elevated, the installers start through the shell, which knows
// the files present; elevated, each starts from its copy in the run's
// folder, made from the file as present.
struct InstallerRun {
  FakeClock clock;
  FakeShell shell{clock};
  FakeWindows windows{clock};
  FakeSleeper sleeper{clock};
  fakes::MemoryFiles memory;
  fakes::FaultFiles files{memory};
  fakes::FakeRunFolder copies{clock};
  bool elevated = false;

  void Present(const std::string& path) {
    shell.results[path] = 42;
    memory.Add(path, {'M', 'Z'});
  }
  void DialogOpen(std::uint64_t from_ms, std::uint64_t until_ms) {
    windows.windows.push_back(
        {"#32770", "Microsoft Text-to-Speech Engine", from_ms, until_ms});
  }
  InstallerOutcome Run(const char* folder, bool male,
                       const patch::ReleaseBinding& binding = patch::kUnbound) {
    return RunSpeechInstallers(
        {shell, windows, sleeper, files, platform::SystemSha256(),
         elevated ? &copies : nullptr},
        folder, male, binding);
  }
  // The programs started, in order, by either way.
  const std::vector<fakes::ShellStart>& starts() const {
    return elevated ? copies.starts : shell.starts;
  }
};

std::vector<std::string> Names(const std::vector<fakes::ShellStart>& starts) {
  std::vector<std::string> names;
  for (const auto& start : starts) {
    names.push_back(start.file.substr(start.file.rfind('\\') + 1));
  }
  return names;
}

// Which installers start, and when the step returns, both ways. The shell
// is asked for a missing file and fails; elevated, a missing file, a copy
// or a start that fails is a failed start at that installer's turn, and
// the copies are made, from the files' bytes, before the first start.
TEST(SpeechInstallersTest, StartsTheInstallersPresentInTurn) {
  struct {
    const char* what;
    std::vector<std::string> present;
    bool elevated;
    bool male;
    std::vector<std::string> started;
    std::uint64_t returns_ms;
    bool folder_fails = false;
    const char* copy_fails = "";
    const char* start_fails = "";
  } const cases[] = {
      // clang-format off
      {"none present", {}, false, true, {"MSpchapi.exe"}, 0},
      {"only the speech interface", {kSpeech}, false, false,
       {"MSpchapi.exe", "Msttsf22.exe"}, 4000},
      {"male", {kSpeech, kMale, kFemale}, false, true,
       {"MSpchapi.exe", "Msttsm22.exe"}, 9000},
      {"female", {kSpeech, kMale, kFemale}, false, false,
       {"MSpchapi.exe", "Msttsf22.exe"}, 9000},
      {"elevated, none present", {}, true, true, {}, 0},
      {"elevated, only the speech interface", {kSpeech}, true, false,
       {"MSpchapi.exe"}, 4000},
      {"elevated, male", {kSpeech, kMale, kFemale}, true, true,
       {"MSpchapi.exe", "Msttsm22.exe"}, 9000},
      {"elevated, female", {kSpeech, kMale, kFemale}, true, false,
       {"MSpchapi.exe", "Msttsf22.exe"}, 9000},
      {"no run folder", {kSpeech, kMale}, true, true, {}, 0, true},
      {"voice copy fails", {kSpeech, kMale}, true, true, {"MSpchapi.exe"},
       4000, false, "Msttsm22.exe"},
      {"speech start fails", {kSpeech, kMale}, true, true, {}, 0, false, "",
       "MSpchapi.exe"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    InstallerRun run;
    run.elevated = c.elevated;
    run.copies.fail_make = c.folder_fails;
    run.copies.fail_copy = c.copy_fails;
    run.copies.fail_start = c.start_fails;
    for (const std::string& path : c.present) run.Present(path);
    run.Run(kFolder, c.male);
    std::vector<std::string> started = Names(run.starts());
    if (*c.start_fails != '\0') {
      ASSERT_FALSE(started.empty());
      EXPECT_EQ(c.start_fails, started.back());
      started.pop_back();
    }
    EXPECT_EQ(c.started, started);
    EXPECT_EQ(c.returns_ms, run.clock.now_ms);
    for (const auto& start : run.shell.starts) {
      EXPECT_EQ(kFolder, start.directory);
    }
    EXPECT_EQ(0u, run.files.OpenHandles());
    if (!c.elevated) continue;
    EXPECT_TRUE(run.shell.starts.empty());
    for (const std::string& name : started) {
      EXPECT_EQ((std::vector<unsigned char>{'M', 'Z'}),
                run.copies.copies[name]);
    }
    // Both copies before the first start.
    if (started.size() == 2) {
      const auto& journal = run.clock.journal;
      EXPECT_EQ(
          std::find(journal.begin(), journal.end(), "start copy MSpchapi.exe") -
              journal.begin(),
          3);
    }
  }
}

// When the dialog goes away decides how long the step waits: the first look
// is 5 s after the voice installer started, then one a second.
TEST(SpeechInstallersTest, WaitsForTheVoiceDialog) {
  struct {
    std::uint64_t dialog_from_ms, dialog_until_ms;  // after the voice start
    std::uint64_t returns_after_ms;                 // after the voice start
  } const cases[] = {
      {0, 0, 5000},       // no dialog at all
      {500, 4900, 5000},  // closed before the first look
      {500, 5000, 5000},  // closed just at the first look
      {500, 5001, 6000},  // still there at the first look
      {500, 9500, 10000},
      {6000, 20000, 5000},  // shown only after the first look: not seen
  };
  for (const auto& c : cases) {
    InstallerRun run;
    run.Present(kSpeech);
    run.Present(kMale);
    run.DialogOpen(4000 + c.dialog_from_ms, 4000 + c.dialog_until_ms);
    run.Run(kFolder, true);
    EXPECT_EQ(4000u + c.returns_after_ms, run.clock.now_ms)
        << c.dialog_from_ms << ".." << c.dialog_until_ms;
    ASSERT_FALSE(run.windows.looks.empty());
    EXPECT_EQ(4000u + 5000u, run.windows.looks.front().at_ms);
    EXPECT_EQ("#32770", run.windows.looks.front().class_name);
    EXPECT_EQ("Microsoft Text-to-Speech Engine",
              run.windows.looks.front().title);
  }
}

// A bound program's copy is the released file only if the bytes copied,
// not only those checked before, have the released digest.
TEST(SpeechInstallersTest, ABoundCopyWhoseBytesChangedIsNotStarted) {
  InstallerRun run;
  run.elevated = true;
  run.Present(kSpeech);
  run.Present(kMale);
  const unsigned char bytes[2] = {'M', 'Z'};
  platform::Sha256Digest digest;
  ASSERT_TRUE(platform::DigestOf(platform::SystemSha256(), bytes, 2, &digest));
  // Each file's check reads its 2 bytes and the end; the fifth read is the
  // speech interface's copy.
  run.files.ChangeRead(5);
  const InstallerOutcome outcome =
      run.Run(kFolder, true, {true, &digest, &digest, &digest, &digest});
  EXPECT_EQ(InstallerProblem::kNotReleased, outcome.problem);
  EXPECT_STREQ("MSpchapi.exe", outcome.name);
  EXPECT_TRUE(run.copies.starts.empty());
  EXPECT_EQ(0u, run.files.OpenHandles());
}

// Without an update folder, or with one so long that an installer's path
// would pass 255 characters (243 + 12 fit, 244 + 12 do not), nothing
// starts.
TEST(SpeechInstallersTest, StartsOnlyFromAFolderWithRoomForThePaths) {
  for (const std::string& folder : {std::string(), std::string(242, 'a') + '\\',
                                    std::string(243, 'a') + '\\'}) {
    InstallerRun run;
    run.Present(folder + "MSpchapi.exe");
    run.Run(folder.c_str(), true);
    EXPECT_EQ(folder.size() == 243 ? 2u : 0u, run.shell.starts.size());
  }
}

}  // namespace
}  // namespace tavelon::update
