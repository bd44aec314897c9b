// What the user sees: whole update runs, one row for each distinct way a
// run can end, checked for the message boxes, the exit code, what was
// started, and that nothing that was there before is lost or spoiled.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/dictionary_builder.h"
#include "tests/support/expected_texts.h"
#include "tests/support/whole_run.h"

namespace tavelon::update {
namespace {

using namespace expected;  // NOLINT: the texts the user reads
using platform::RegistryRoot;
using test_support::Bytes;
using test_support::DescriptionBytes;
using test_support::kAppPathsKey;
using test_support::kRunEntryKey;
using test_support::Record;
using test_support::WholeRun;
using Taken = platform::OnlyCopyLock::Taken;

// Dictionaries of 600 bytes: sections 0 to 2, entry tables at 200 + 40 s,
// the item of entry e of section s at 400 + 40 s + 5 e.
constexpr test_support::DictionaryLayout kLayout{600, 3, 5, 200, 40, 400, 40};
const std::vector<Record> kRecords = {
    {0, 0, 0x11111111u}, {2, 4, 0x22222222u}, {1, 1, 0xC0FFEE00u}};
Bytes Clean(std::size_t length = 600) {
  test_support::DictionaryLayout layout = kLayout;
  layout.length = length;
  return layout.Clean();
}
Bytes Patched() { return test_support::Model(Clean(), kRecords).bytes; }
// A description whose header is in another letter case.
Bytes Renamed() {
  Bytes bytes = DescriptionBytes(kRecords);
  bytes[0] = 't';
  return bytes;
}

using Box = fakes::RecordedBox;
const Box kArgumentBox = {"Error in argument!", kCaption, kWarningFlags};
const Box kRunningBox = {"The update is already running.", kCaption,
                         kWarningFlags};
const Box kNotFoundBox = {kNotFound, kCaption, kWarningFlags};
const Box kUnreadableBox = {kUnreadable, kCaption, kFailureFlags};
const Box kRefusedBox = {kDictionariesRefused, kCaption, kFailureFlags};
// At the end of a run whose installation holds no dictionary.
const Box kNoDictionaryBox = {kNotFound, kCaption, kFailureFlags};
const Box kCompletedBox = {kCompleted, kCaption, kCompletedFlags};
Box Warning(const char* text, const char* code) {
  return {text, WholeRun::Dictionary(code), kWarningFlags};
}

const std::string kSpeech = WholeRun::Installer("MSpchapi.exe");
const std::string kVoice = WholeRun::Installer("Msttsm22.exe");
const std::string kProduct = WholeRun::Product();
const std::vector<std::string> kAllStarts = {kSpeech, kVoice, kProduct};

// A run that stops before changing anything: no file opened, no key
// written, no window closed, no program started.
constexpr int kStopped = kExitStoppedBeforeChanges;

// Sets the installation's entries afresh: a Run entry and an App Paths
// entry, either empty for none.
void Entries(WholeRun& run, const std::string& command,
             const std::string& app_path) {
  run.registry = fakes::FakeRegistry();
  if (!command.empty()) {
    run.registry.SetValue(RegistryRoot::kCurrentUser, kRunEntryKey,
                          "Tavelon Translator", fakes::kRegSz, command + '\0');
  }
  if (!app_path.empty()) {
    run.registry.SetValue(RegistryRoot::kLocalMachine, kAppPathsKey, "Path",
                          fakes::kRegSz, app_path + '\0');
  }
}

TEST(RunOutcomeTest, WhatTheUserSeesForEachWayARunEnds) {
  const std::string long_folder = "C:\\" + std::string(124, 'p');
  const auto module_folder = [](std::size_t length) {
    return "D:\\" + std::string(length - 21, 'u');  // + "\TavelonUpdate.exe"
  };
  struct Row {
    const char* what;
    std::function<void(WholeRun&)> arrange;
    int exit_code;
    std::vector<Box> boxes;
    std::vector<std::string> starts = kAllStarts;
    // The dictionaries after the run, by path; the English one patched
    // unless the row says otherwise.
    std::map<std::string, Bytes> dictionaries = {
        {WholeRun::Dictionary("Eng"), Patched()}};
  };
  const std::map<std::string, Bytes> unchanged = {
      {WholeRun::Dictionary("Eng"), Clean()}};
  const auto argument = [](const char* command_line) {
    return [command_line](WholeRun& run) {
      run.process.command_line = command_line;
    };
  };
  using Run = WholeRun;
  const auto none = [](Run&) {};
  const std::string female = Run::Installer("Msttsf22.exe");
  const std::string spa = long_folder + "\\data\\engtoSpa.dic";
  const auto path_of = [&](std::size_t length) {
    return [folder = module_folder(length)](Run& run) {
      run.process.module_path = folder + "\\TavelonUpdate.exe";
      run.shell.results[folder + "\\MSpchapi.exe"] = 42;
      run.shell.results[folder + "\\Msttsm22.exe"] = 42;
    };
  };
  // clang-format off
  const Row rows[] = {
      {"completed", none, kExitCompleted, {kCompletedBox}},
      {"any other argument: the female voice", argument("TavelonUpdate.exe f"),
       kExitCompleted, {kCompletedBox}, {kSpeech, female, kProduct}},
      {"no argument", argument("TavelonUpdate.exe"), kStopped, {kArgumentBox}},
      {"blank argument", argument("TavelonUpdate.exe  \t "), kStopped,
       {kArgumentBox}},
      {"quoted program only", argument("\"D:\\Update\\TavelonUpdate.exe\""),
       kStopped, {kArgumentBox}},
      {"another copy running",
       [](Run& run) { run.only_copy.local_mutex = Taken::kHeldElsewhere; },
       kStopped, {kRunningBox}},
      {"no installation entries", [](Run& run) { Entries(run, "", ""); },
       kStopped, {kNotFoundBox}},
      {"App Paths when the Run entry gives no folder, backslash appended",
       [](Run& run) { Entries(run, "tavelon.exe", "C:\\Tavelon"); },
       kExitCompleted, {kCompletedBox}},
      {"App Paths with its own backslash",
       [](Run& run) { Entries(run, "", "C:\\Tavelon\\"); }, kExitCompleted,
       {kCompletedBox}},
      {"the longest folder the registry gives still holds every path",
       [&](Run& run) {
         Entries(run, "", long_folder);
         run.memory.Add(spa, Clean());
       },
       kExitCompleted, {kCompletedBox},
       {kSpeech, kVoice, long_folder + "\\tavelon.exe"},
       {{spa, Patched()}, {Run::Dictionary("Eng"), Clean()}}},
      {"info.tmp missing (started from another folder)",
       [](Run& run) { run.memory = fakes::MemoryFiles(); }, 2,
       {kUnreadableBox}, kAllStarts, {}},
      {"info.tmp held by another program",
       [](Run& run) { run.memory.AddLocked("info.tmp"); }, 2, {kUnreadableBox},
       kAllStarts, unchanged},
      {"info.tmp's header in another letter case",
       [](Run& run) { run.memory.Add("info.tmp", Renamed()); }, 2,
       {kUnreadableBox}, kAllStarts, unchanged},
      {"every dictionary found refused",
       [](Run& run) { run.memory.AddLocked(Run::Dictionary("Eng")); }, 2,
       {Warning(kCannotOpen, "Eng"), kRefusedBox}, kAllStarts, unchanged},
      {"no dictionary in the installation",
       [](Run& run) {
         run.memory = fakes::MemoryFiles();
         run.memory.Add("info.tmp", DescriptionBytes(kRecords));
       },
       2, {kNoDictionaryBox}, kAllStarts, {}},
      {"already patched",
       [](Run& run) { run.memory.Add(Run::Dictionary("Eng"), Patched()); },
       kExitCompleted, {kCompletedBox}},
      {"a description without records",
       [](Run& run) { run.memory.Add("info.tmp", DescriptionBytes({})); },
       kExitCompleted, {kCompletedBox}, kAllStarts, unchanged},
      {"no installers, not reported",
       [](Run& run) {
         run.shell.results.erase(kSpeech);
         run.shell.results.erase(kVoice);
       },
       kExitCompleted, {kCompletedBox}, {kSpeech, kProduct}},
      {"no voice installer", [](Run& run) { run.shell.results.erase(kVoice); },
       kExitCompleted, {kCompletedBox}},
      {"no product program",
       [](Run& run) { run.shell.results.erase(kProduct); },
       kExitCompleted, {kCompletedBox}},
      {"program path of 255 characters", path_of(255), kExitCompleted,
       {kCompletedBox},
       {module_folder(255) + "\\MSpchapi.exe",
        module_folder(255) + "\\Msttsm22.exe", kProduct}},
      // Cut short by the system, or failed: never a bare name the system
      // would look for in the current folder and the path.
      {"program path beyond 255 characters", path_of(300), kExitCompleted,
       {kCompletedBox}, {kProduct}},
      {"program path unknown",
       [](Run& run) { run.process.fail_module_path = true; }, kExitCompleted,
       {kCompletedBox}, {kProduct}},
      // Elevated, what is not there is never started: no installer copy,
      // and no product handed to the desktop's shell.
      {"elevated, no installers and no product",
       [](Run& run) { run.shell.elevated = true; }, kExitCompleted,
       {kCompletedBox}, {}},
      // Elevated, the user's Run entry naming a share is not taken.
      {"elevated, a Run entry on a share: App Paths",
       [](Run& run) {
         Entries(run, "\\\\host\\share\\tavelon.exe", "C:\\Tavelon");
         run.shell.elevated = true;
       },
       kExitCompleted, {kCompletedBox}, {}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WholeRun run;
    run.memory.Add("info.tmp", DescriptionBytes(kRecords));
    run.memory.Add(WholeRun::Dictionary("Eng"), Clean());
    row.arrange(run);
    const fakes::MemoryFiles before = run.memory;

    const bool stopped = row.exit_code == kStopped;
    // Whatever info.tmp held, it still holds.
    std::map<std::string, Bytes> files = stopped ? unchanged : row.dictionaries;
    if (const Bytes* info = before.Find("info.tmp")) files["info.tmp"] = *info;
    test_support::ExpectLeft(
        run, run.Run(),
        {row.exit_code, row.boxes,
         stopped ? std::vector<std::string>{} : row.starts, !stopped, files});
    if (stopped) {
      EXPECT_EQ(run.files.Calls(fakes::FaultFiles::Operation::kOpen), 0);
      EXPECT_EQ(
          run.registry.Calls(fakes::FakeRegistry::Operation::kCreateForSet), 0);
      EXPECT_TRUE(run.windows.closed.empty());
      EXPECT_TRUE(run.windows.cursor_changes.empty());
    }
  }
}

// Dictionary files that are missing, held by another program, damaged or
// already up to date, in one run: one warning for each file that could not
// be brought up to date, captioned with its path; the others are patched;
// the run completes with exit code 0. No file grows; what a stopped file
// had written stays, and the next run takes it up again.
TEST(RunOutcomeTest, DictionaryProblemsAreReportedFileByFile) {
  WholeRun run;
  run.memory.Add("info.tmp", DescriptionBytes(kRecords));
  run.memory.AddLocked(WholeRun::Dictionary("Eng"));       // held by a program
  run.memory.Add(WholeRun::Dictionary("Fre"), Patched());  // done
  // Cut short: the second record's item lies past the end.
  const Bytes truncated = Clean(kLayout.ValueAt(2, 4) + 3);
  run.memory.Add(WholeRun::Dictionary("Ger"), truncated);
  run.memory.Add(WholeRun::Dictionary("Spa"), Clean());
  // Dut, Heb, Ita, Jpn and Ptg are missing: passed over in silence.
  Bytes first_only = truncated;
  test_support::PutUint32(first_only, kLayout.ValueAt(0, 0), kRecords[0].value);

  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    run.boxes.boxes.clear();
    EXPECT_EQ(run.Run(), kExitCompleted);
    EXPECT_EQ(run.boxes.boxes,
              (std::vector<Box>{Warning(kCannotOpen, "Eng"),
                                Warning(kSeekError, "Ger"), kCompletedBox}));
    EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Ger")), first_only);
    EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Fre")), Patched());
    EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Spa")), Patched());
    for (const auto& access : run.files.accesses()) {
      if (access.operation == fakes::FaultFiles::Operation::kWrite) {
        EXPECT_NE(access.path, WholeRun::Dictionary("Fre"));
      }
    }
    EXPECT_EQ(run.files.OpenHandles(), 0u);
  }
}

}  // namespace
}  // namespace tavelon::update
