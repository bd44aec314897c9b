#include "update/installation_lookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/box_recorder.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/fake_registry.h"
#include "tests/support/scratch_registry.h"

#if defined(_WIN32)
#include "platform/system.h"
#endif

namespace tavelon::update {
namespace {

using fakes::BoxRecorder;
using fakes::FakeRegistry;
using fakes::KeyAccess;
using platform::RegistryRoot;

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunValue[] = "Tavelon Translator";
constexpr char kAppPathsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\tavelon.exe";
constexpr char kAppPathsValue[] = "Path";

// What the destination holds before the lookup.
constexpr char kUntouched = '\x5A';

enum class Presence { kNoKey, kNoValue, kValue };

// A registry entry as the product's setup would have left it.
struct Entry {
  Presence presence;
  std::uint32_t type;
  std::string data;  // the stored bytes, exactly
};

Entry NoKey() { return {Presence::kNoKey, 0, {}}; }
Entry NoValue() { return {Presence::kNoValue, 0, {}}; }
// Text stored with its terminating zero, as setups normally store it.
Entry Text(const std::string& text, std::uint32_t type = fakes::kRegSz) {
  return {Presence::kValue, type, text + std::string(1, '\0')};
}
// Bytes stored as they are, without a terminator unless they hold one.
Entry Raw(const std::string& bytes, std::uint32_t type = fakes::kRegSz) {
  return {Presence::kValue, type, bytes};
}

struct LookupCase {
  const char* name;
  Entry run;
  Entry app_paths;
  bool found;
  std::string folder;
  bool reads_app_paths;
};

LookupCase FromRun(const char* name, Entry run, Entry app_paths,
                   std::string folder) {
  return {name, std::move(run),    std::move(app_paths),
          true, std::move(folder), false};
}
LookupCase FromAppPaths(const char* name, Entry run, Entry app_paths,
                        std::string folder) {
  return {name, std::move(run),    std::move(app_paths),
          true, std::move(folder), true};
}
LookupCase Fails(const char* name, Entry run, Entry app_paths) {
  return {name, std::move(run), std::move(app_paths), false, {}, true};
}

// A program path of the given length: "C:\", a folder name, "\t.exe".
std::string ProgramPath(std::size_t length) {
  return "C:\\" + std::string(length - 9, 'd') + "\\t.exe";
}
std::string FolderOf(const std::string& program_path) {
  return program_path.substr(0, program_path.size() - 6);
}

const std::vector<LookupCase>& Cases() {
  static const std::vector<LookupCase> cases = {
      // The Run entry names the program; its folder wins over App Paths.
      FromRun("RunFullPath", Text("C:\\Program Files\\Tavelon\\tavelon.exe"),
              Text("D:\\Elsewhere"), "C:\\Program Files\\Tavelon"),
      FromRun("RunWithArguments", Text("C:\\Tavelon\\tavelon.exe /tray"),
              NoKey(), "C:\\Tavelon"),
      FromRun("RunCutAtLastBackslashEvenInArguments",
              Text("C:\\Tavelon\\tavelon.exe /log C:\\Logs\\t.log"), NoKey(),
              "C:\\Tavelon\\tavelon.exe /log C:\\Logs"),
      FromRun("RunShareRoot", Text("\\\\server\\share\\tavelon.exe"), NoKey(),
              "\\\\server\\share"),
      FromRun("RunExpandableTextUsedLiterally",
              Text("%ProgramFiles%\\Tavelon\\tavelon.exe", fakes::kRegExpandSz),
              NoKey(), "%ProgramFiles%\\Tavelon"),
      FromRun("RunBinaryTypeReadAsText",
              Text("C:\\Bin\\t.exe", fakes::kRegBinary), NoKey(), "C:\\Bin"),
      FromRun("RunUnterminatedShortText", Raw("C:\\Raw\\tavelon.exe"), NoKey(),
              "C:\\Raw"),
      FromRun("RunUnterminatedBinary",
              Raw("C:\\Raw\\tavelon.exe", fakes::kRegBinary), NoKey(),
              "C:\\Raw"),
      FromRun("RunTextEndsAtFirstZero",
              Raw(std::string("C:\\A\\t.exe\0C:\\B\\C\\t.exe\0", 24)), NoKey(),
              "C:\\A"),
      FromRun("Run127CharactersFit", Text(ProgramPath(127)), NoKey(),
              FolderOf(ProgramPath(127))),
      FromRun("Run127BytesUnterminated", Raw(ProgramPath(127)), NoKey(),
              FolderOf(ProgramPath(127))),
      // Quoted program paths: the folder of the program inside the quotes.
      FromRun("RunQuoted",
              Text("\"C:\\Program Files\\Tavelon\\tavelon.exe\" /tray"),
              Text("D:\\Elsewhere"), "C:\\Program Files\\Tavelon"),
      FromRun("RunQuotedArgumentsWithBackslash",
              Text("\"C:\\Tavelon\\tavelon.exe\" /log C:\\Logs\\t.log"),
              NoKey(), "C:\\Tavelon"),
      FromAppPaths("RunQuotedWithoutClosingQuote",
                   Text("\"C:\\Tavelon\\tavelon.exe"), Text("D:\\Tavelon"),
                   "D:\\Tavelon"),
      FromAppPaths("RunQuotedWithoutBackslashInside",
                   Text("\"tavelon.exe\" C:\\Logs\\t.log"), Text("D:\\Tavelon"),
                   "D:\\Tavelon"),
      Fails("RunQuotedWithoutClosingQuoteAlone",
            Text("\"C:\\Tavelon\\tavelon.exe"), NoKey()),
      // Run entries that give nothing leave the folder to App Paths.
      FromAppPaths("RunBareName", Text("tavelon.exe"), Text("D:\\Tavelon"),
                   "D:\\Tavelon"),
      FromAppPaths("RunKeyMissing", NoKey(), Text("D:\\Tavelon"),
                   "D:\\Tavelon"),
      FromAppPaths("RunValueMissing", NoValue(), Text("D:\\Tavelon"),
                   "D:\\Tavelon"),
      FromAppPaths("RunLongerThanBuffer", Text(ProgramPath(128)),
                   Text("D:\\Tavelon"), "D:\\Tavelon"),
      FromAppPaths("RunFillsBufferWithoutZero", Raw(ProgramPath(128)),
                   Text("D:\\Tavelon"), "D:\\Tavelon"),
      FromAppPaths("RunEmptyData", Raw(""), Text("D:\\Tavelon"), "D:\\Tavelon"),
      FromAppPaths("RunEmptyText", Text(""), Text("D:\\Tavelon"),
                   "D:\\Tavelon"),
      FromAppPaths("RunZeroBeforeBackslash",
                   Raw(std::string("t.exe\0C:\\T\\t.exe\0", 18)),
                   Text("D:\\Tavelon"), "D:\\Tavelon"),
      FromAppPaths("RunDword",
                   Raw(std::string("\x01\0\0\0", 4), fakes::kRegDword),
                   Text("D:\\Tavelon"), "D:\\Tavelon"),
      FromAppPaths("RunFolderWouldBeEmpty", Text("\\tavelon.exe"),
                   Text("D:\\Tavelon"), "D:\\Tavelon"),
      FromAppPaths("RunQuotedFolderWouldBeEmpty", Text("\"\\tavelon.exe\""),
                   Text("D:\\Tavelon"), "D:\\Tavelon"),
      Fails("RunFolderWouldBeEmptyAlone", Text("\\tavelon.exe"), NoKey()),
      // App Paths: the whole text, taken literally.
      FromAppPaths("AppPathsTrailingBackslashKept", NoKey(),
                   Text("D:\\Tavelon\\"), "D:\\Tavelon\\"),
      FromAppPaths("AppPathsQuotesKept", NoKey(), Text("\"D:\\Tavelon\""),
                   "\"D:\\Tavelon\""),
      FromAppPaths("AppPathsExpandableTextUsedLiterally", NoKey(),
                   Text("%ProgramFiles%\\Tavelon", fakes::kRegExpandSz),
                   "%ProgramFiles%\\Tavelon"),
      FromAppPaths("AppPathsWithoutBackslash", NoKey(), Text("Tavelon"),
                   "Tavelon"),
      FromAppPaths("AppPathsUnterminated", NoKey(), Raw("D:\\Raw"), "D:\\Raw"),
      FromAppPaths("AppPaths127Characters", NoKey(),
                   Text(std::string(127, 'p')), std::string(127, 'p')),
      Fails("AppPathsEmptyData", NoKey(), Raw("")),
      Fails("AppPathsEmptyText", NoKey(), Text("")),
      Fails("AppPathsStartsWithZero", NoKey(),
            Raw(std::string("\0D:\\Tavelon\0", 12))),
      Fails("AppPathsLongerThanBuffer", NoKey(), Text(std::string(128, 'p'))),
      Fails("AppPathsFillsBufferWithoutZero", NoKey(),
            Raw(std::string(128, 'p'))),
      Fails("AppPathsValueMissing", NoValue(), NoValue()),
      Fails("BothMissing", NoKey(), NoKey()),
      Fails("NeitherGivesAFolder", Text("tavelon.exe"), Text("")),
  };
  return cases;
}

template <typename Backend>
void StoreEntry(Backend& store, RegistryRoot root, const char* key,
                const char* name, const Entry& entry) {
  if (entry.presence == Presence::kNoKey) return;
  store.AddKey(root, key);
  if (entry.presence == Presence::kValue) {
    store.SetValue(root, key, name, entry.type, entry.data);
  }
}

template <typename Backend>
void StoreCase(Backend& store, const LookupCase& c) {
  StoreEntry(store, RegistryRoot::kCurrentUser, kRunKey, kRunValue, c.run);
  StoreEntry(store, RegistryRoot::kLocalMachine, kAppPathsKey, kAppPathsValue,
             c.app_paths);
}

// Runs the lookup and checks its result, the destination and the boxes.
void CheckLookup(platform::Registry& registry, const LookupCase& c) {
  BoxRecorder boxes;
  char folder[platform::kPathBufferSize];
  std::memset(folder, kUntouched, sizeof folder);

  const bool found = FindInstallationFolder(registry, boxes, folder);

  ASSERT_EQ(found, c.found);
  if (c.found) {
    EXPECT_EQ(std::string(folder), c.folder);
    EXPECT_TRUE(boxes.boxes.empty());
    // Nothing past the copied text and its terminator is written.
    for (std::size_t i = c.folder.size() + 1; i < sizeof folder; ++i) {
      ASSERT_EQ(folder[i], kUntouched) << "at " << i;
    }
  } else {
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, expected::kNotFound);
    EXPECT_EQ(boxes.boxes[0].caption, "Tavelon Setup");
    EXPECT_EQ(boxes.boxes[0].flags, 0x30u);
    for (std::size_t i = 0; i < sizeof folder; ++i) {
      ASSERT_EQ(folder[i], kUntouched) << "at " << i;
    }
  }
}

TEST(InstallationLookup, CasesOnStandInRegistry) {
  for (const LookupCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    FakeRegistry registry;
    StoreCase(registry, c);

    CheckLookup(registry, c);

    EXPECT_EQ(registry.open_handles(), 0u);
    EXPECT_EQ(registry.bad_closes(), 0);
    EXPECT_EQ(registry.WasAttempted(RegistryRoot::kLocalMachine, kAppPathsKey),
              c.reads_app_paths);
    for (const fakes::KeyAttempt& attempt : registry.attempts()) {
      EXPECT_EQ(attempt.access, KeyAccess::kQuery) << attempt.path;
    }
  }
}

// Elevated, the desktop user's Run entry counts only on a local fixed
// drive; any other leaves the folder to App Paths, which only
// administrators can write.
TEST(InstallationLookup, ElevatedTakesTheRunEntryOnlyOnALocalFixedDrive) {
  constexpr char kAppPaths[] = "E:\\App";
  const struct {
    const char* run;
    const char* folder;
    const char* drive_asked;
  } rows[] = {
      {"C:\\Tavelon\\tavelon.exe", "C:\\Tavelon", "C"},
      {"C:\\tavelon.exe", "C:", "C"},  // the drive's root
      {"\"d:\\Program Files\\T\\tavelon.exe\" /tray", "d:\\Program Files\\T",
       "d"},
      {"\\\\host\\share\\tavelon.exe", kAppPaths, ""},
      {"\\\\host@SSL\\DavWWWRoot\\t\\tavelon.exe", kAppPaths, ""},
      {"\\\\?\\UNC\\host\\share\\tavelon.exe", kAppPaths, ""},
      {"\\\\?\\C:\\Tavelon\\tavelon.exe", kAppPaths, ""},
      {"\\\\.\\C:\\Tavelon\\tavelon.exe", kAppPaths, ""},
      {"N:\\Tavelon\\tavelon.exe", kAppPaths, "N"},  // a network drive
      {"R:\\Tavelon\\tavelon.exe", kAppPaths, "R"},  // a removable one
      {"C:Tavelon\\tavelon.exe", kAppPaths, ""},     // relative to C:'s folder
      {"\\Tavelon\\x\\tavelon.exe", kAppPaths, ""},  // no drive
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.run);
    FakeRegistry registry;
    StoreEntry(registry, RegistryRoot::kCurrentUser, kRunKey, kRunValue,
               Text(row.run));
    StoreEntry(registry, RegistryRoot::kLocalMachine, kAppPathsKey,
               kAppPathsValue, Text(kAppPaths));
    fakes::FakeDrives drives;
    drives.fixed = "CD";
    BoxRecorder boxes;
    char folder[platform::kPathBufferSize] = {};

    ASSERT_TRUE(FindInstallationFolder(registry, boxes, folder, {}, &drives));
    EXPECT_STREQ(folder, row.folder);
    EXPECT_EQ(drives.asked, row.drive_asked);
    EXPECT_EQ(registry.open_handles(), 0u);
  }
}

#if defined(_WIN32)
// The same cases against the system registry, redirected to scratch keys.
TEST(InstallationLookup, CasesOnSystemRegistry) {
  for (const LookupCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    fakes::ScratchRegistry scratch;
    ASSERT_TRUE(scratch.ready());
    StoreCase(scratch, c);

    CheckLookup(platform::SystemRegistry(), c);
  }
}
#endif

}  // namespace
}  // namespace tavelon::update
