// Whole update runs in which one call into the system fails: each file,
// registry and shell operation in turn, call 1, 2, ... until the run makes
// no more calls of it. Every run must end without a crash, with every file
// and registry key closed, with exactly the message boxes that the failure
// calls for, and with nothing written that should not be.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/dictionary_builder.h"
#include "tests/support/expected_texts.h"
#include "tests/support/memory_files.h"
#include "tests/support/whole_run.h"

namespace tavelon::update {
namespace {

using namespace expected;  // NOLINT: the texts the user reads

using fakes::FaultFiles;
using platform::RegistryRoot;
using test_support::Bytes;
using test_support::DictionaryBuilder;
using test_support::Record;
using FileOperation = fakes::FaultFiles::Operation;
using RegistryOperation = fakes::FakeRegistry::Operation;

using test_support::kAppPathsKey;
using test_support::kOptionsKey;
using test_support::kUpdateFolder;
using test_support::WholeRun;

constexpr const char* kInstallation = test_support::kInstallationFolder;
constexpr char kInfo[] = "info.tmp";

std::string Dictionary(const char* code) { return WholeRun::Dictionary(code); }

// Every open of a run, in order: the update description, then the nine
// languages' dictionaries, the Japanese one under both of its names (only
// "engtojap.dic" exists), the two installers to copy, and the product
// before it is handed to the desktop's shell.
const std::vector<std::string>& OpenSequence() {
  static const std::vector<std::string> paths = [] {
    std::vector<std::string> sequence = {kInfo};
    for (const char* code : {"Eng", "Dut", "Fre", "Ger", "Heb", "Ita", "Jpn",
                             "jap", "Ptg", "Spa"}) {
      sequence.push_back(Dictionary(code));
    }
    sequence.push_back(WholeRun::Installer("MSpchapi.exe"));
    sequence.push_back(WholeRun::Installer("Msttsm22.exe"));
    sequence.push_back(std::string(kInstallation) + "tavelon.exe");
    return sequence;
  }();
  return paths;
}
std::size_t Order(const std::string& path) {
  const auto& paths = OpenSequence();
  return static_cast<std::size_t>(std::find(paths.begin(), paths.end(), path) -
                                  paths.begin());
}

// Dictionaries of 400 bytes: sections 0 to 2 with their entry tables at
// 200 + 20 s, the item of entry e of section s at 300 + 20 s + 5 e.
constexpr test_support::DictionaryLayout kLayout{400, 3, 5, 200, 20, 300, 20};
std::int64_t ItemValue(std::int16_t section, std::int16_t entry) {
  return static_cast<std::int64_t>(kLayout.ValueAt(section, entry));
}
Bytes CleanDictionary() { return kLayout.Clean(); }
const std::vector<Record> kRecords = {
    {0, 1, 0x11111111u}, {1, 2, 0x22222222u}, {2, 0, 0xC0FFEE00u}};

// The dictionary with records 0 to count - 1 written, and `part` bytes of
// the next one.
Bytes Patched(std::size_t count, std::uint32_t part = 0) {
  Bytes bytes = CleanDictionary();
  for (std::size_t i = 0; i < count; ++i) {
    test_support::PutUint32(bytes,
                            static_cast<std::size_t>(ItemValue(
                                kRecords[i].section, kRecords[i].entry)),
                            kRecords[i].value);
  }
  if (part > 0) {
    const Record& next = kRecords[count];
    const std::size_t at =
        static_cast<std::size_t>(ItemValue(next.section, next.entry));
    for (std::uint32_t b = 0; b < part; ++b) {
      bytes[at + b] = static_cast<unsigned char>(next.value >> (8 * b));
    }
  }
  return bytes;
}

using Box = fakes::RecordedBox;

// What a run should leave behind.
struct Outcome {
  int exit_code = kExitCompleted;
  std::map<std::size_t, Box> warnings;  // by place in the open sequence
  Box last = {kCompleted, kCaption, kCompletedFlags};
  std::map<std::string, Bytes> files;
  bool option_written = true;
  // Elevated: the installers from their copies, the product from the
  // desktop's shell.
  std::vector<std::string> starts = {
      "copy MSpchapi.exe", "copy Msttsm22.exe",
      std::string("desktop ") + kInstallation + "tavelon.exe"};
  bool opens_files = true;

  std::vector<Box> Boxes() const {
    std::vector<Box> boxes;
    for (const auto& warning : warnings) boxes.push_back(warning.second);
    boxes.push_back(last);
    return boxes;
  }
};

// The files before the run: Eng, jap and Spa need the update, Ger has it
// already, Ita is held by another program.
std::map<std::string, Bytes> FilesBefore() {
  return {{kInfo, test_support::DescriptionBytes(kRecords)},
          {Dictionary("Eng"), CleanDictionary()},
          {Dictionary("Ger"), Patched(3)},
          {Dictionary("jap"), CleanDictionary()},
          {Dictionary("Spa"), CleanDictionary()}};
}

Outcome CleanRun() {
  Outcome outcome;
  outcome.files = FilesBefore();
  for (const char* code : {"Eng", "jap", "Spa"}) {
    outcome.files[Dictionary(code)] = Patched(3);
  }
  outcome.warnings[Order(Dictionary("Ita"))] = {kCannotOpen, Dictionary("Ita"),
                                                kWarningFlags};
  return outcome;
}

Outcome StoppedRun() {
  Outcome outcome;
  outcome.exit_code = kExitStoppedBeforeChanges;
  outcome.last = {kNotFound, kCaption, kWarningFlags};
  outcome.files = FilesBefore();
  outcome.option_written = false;
  outcome.starts.clear();
  outcome.opens_files = false;
  return outcome;
}

// The installer at `path` and any after it are not started.
void DropInstallersFrom(Outcome* outcome, const std::string& path) {
  auto& starts = outcome->starts;
  const auto first = std::find(starts.begin(), starts.end(),
                               "copy " + path.substr(path.rfind('\\') + 1));
  starts.erase(first, starts.end() - 1);
}

void SeekWarning(Outcome* outcome, const std::string& path) {
  outcome->warnings[Order(path)] = {kSeekError, path, kWarningFlags};
}

enum class Scenario { kRunEntry, kBothEntries };

// A whole run with the files before the update in memory, with the App
// Paths entry too when the scenario asks for it, and a voice installer
// whose dialog stays open for 3 s after its first look. Each failure is
// arranged on the stand-ins before Run.
class Rig : public WholeRun {
 public:
  explicit Rig(Scenario scenario) {
    for (const auto& file : FilesBefore()) memory.Add(file.first, file.second);
    memory.AddLocked(Dictionary("Ita"));
    memory.Add(Product(), {});
    for (const char* name : {"MSpchapi.exe", "Msttsm22.exe", "Msttsf22.exe"}) {
      memory.Add(Installer(name), {'M', 'Z'});
    }
    if (scenario == Scenario::kBothEntries) {
      registry.SetValue(RegistryRoot::kLocalMachine, kAppPathsKey, "Path",
                        fakes::kRegSz, std::string("C:\\Tavelon") + '\0');
    }
    windows.windows.push_back(
        {"#32770", "Microsoft Text-to-Speech Engine", 0, 11000});
    shell.elevated = true;
  }

  // Fails the shell's call number fail_shell (a start does not start its
  // program, the elevation is not known) and look number fail_window for a
  // window (it finds nothing); 0 for none.
  int Run(int fail_shell = 0, int fail_window = 0) {
    shell.failing.Fail(0, fail_shell);
    windows.failing_look.Fail(0, fail_window);
    const int exit_code = WholeRun::Run();
    shell_calls = shell.failing.Calls(0);
    window_calls = windows.failing_look.Calls(0);
    return exit_code;
  }

  int shell_calls = 0;
  int window_calls = 0;
};

// Checks what every run must leave, whatever failed, against the outcome.
void Check(const Rig& rig, int exit_code, const Outcome& expected) {
  test_support::ExpectLeft(
      rig, exit_code,
      {expected.exit_code, expected.Boxes(), expected.starts,
       expected.option_written, expected.files});
  // Reads and writes stay within the files as they were.
  for (const FaultFiles::Access& access : rig.files.accesses()) {
    if (access.operation == FileOperation::kWrite) {
      EXPECT_GE(access.position, 0);
      EXPECT_LE(access.position + access.size, 400) << access.path;
    }
    if (access.operation == FileOperation::kRead && access.path != kInfo) {
      EXPECT_LE(access.position + access.transferred, 400) << access.path;
    }
  }
  if (!expected.opens_files) {
    EXPECT_EQ(rig.files.Calls(FileOperation::kOpen), 0);
  }
}

TEST(FaultInjectionTest, ACleanRunMatchesTheModel) {
  Rig rig(Scenario::kRunEntry);
  const int exit_code = rig.Run();
  Check(rig, exit_code, CleanRun());
  EXPECT_EQ(rig.files.Calls(FileOperation::kOpen),
            static_cast<int>(OpenSequence().size()));
  EXPECT_EQ(1, rig.pauses);
}

// Where the n-th call of a file operation falls in a run without failures:
// the file, and how many calls of that operation on that file came before.
struct Place {
  std::string path;
  std::size_t index;
};
Place PlaceOf(const std::vector<FaultFiles::Access>& accesses,
              FileOperation operation, int number) {
  std::map<std::string, std::size_t> per_file;
  int seen = 0;
  for (const FaultFiles::Access& access : accesses) {
    if (access.operation != operation) continue;
    const std::size_t index = per_file[access.path]++;
    if (++seen == number) return {access.path, index};
  }
  return {"", 0};
}

// The outcome of a run whose n-th call of a file operation fails, worked
// out from where that call falls in a run without failures. A dictionary
// file's calls are: its check against the data folder; its length; the
// already-patched test (three positionings and three reads); then per
// record two positionings each followed by a read, and a positioning
// followed by the write; the flush before the check record's write, which
// stops nothing when it fails.
Outcome FileFailure(FileOperation operation, int number,
                    std::uint32_t transferred,
                    const std::vector<FaultFiles::Access>& clean) {
  Outcome outcome = CleanRun();
  if (operation == FileOperation::kOpen) {
    const std::string& path =
        OpenSequence().at(static_cast<std::size_t>(number - 1));
    if (path == kInfo) {
      outcome.warnings.clear();
      outcome.files = FilesBefore();
      outcome.exit_code = kExitDictionariesNotUpdated;
      outcome.last = {kUnreadable, kCaption, kFailureFlags};
    } else if (path == WholeRun::Product()) {
      outcome.starts.pop_back();  // not there: not handed to the shell
    } else if (path.find(kUpdateFolder) == 0) {
      // An installer that cannot be copied fails to start at its turn.
      DropInstallersFrom(&outcome, path);
    } else if (path != Dictionary("Jpn")) {
      // "engtoJpn.dic" failing still leaves "engtojap.dic" to be opened.
      outcome.warnings[Order(path)] = {kCannotOpen, path, kWarningFlags};
      if (FilesBefore().count(path) != 0) {
        outcome.files[path] = FilesBefore()[path];
      }
    }
    return outcome;
  }

  if (operation == FileOperation::kOpenFolder) {
    // Without the data folder no dictionary is kept: each one found is
    // refused, and nothing is written.
    outcome.files = FilesBefore();
    for (const char* code : {"Eng", "Ger", "jap", "Spa"}) {
      outcome.warnings[Order(Dictionary(code))] = {
          kCannotOpen, Dictionary(code), kWarningFlags};
    }
    outcome.exit_code = kExitDictionariesNotUpdated;
    outcome.last = {kDictionariesRefused, kCaption, kFailureFlags};
    return outcome;
  }
  if (operation == FileOperation::kIsOwnFile) {
    // The n-th dictionary opened is taken for a link: refused, unread.
    const std::string path =
        Dictionary(std::vector<const char*>{"Eng", "Ger", "jap", "Spa"}.at(
            static_cast<std::size_t>(number - 1)));
    outcome.files[path] = FilesBefore()[path];
    outcome.warnings[Order(path)] = {kCannotOpen, path, kWarningFlags};
    return outcome;
  }
  const Place place = PlaceOf(clean, operation, number);
  EXPECT_FALSE(place.path.empty());
  if (place.path == kInfo) {
    outcome.warnings.clear();
    outcome.files = FilesBefore();
    outcome.exit_code = kExitDictionariesNotUpdated;
    outcome.last = {kUnreadable, kCaption, kFailureFlags};
    return outcome;
  }
  if (place.path.find(kUpdateFolder) == 0) {
    // An installer's copy reads its length, its start, then pieces until
    // one is empty: the copy fails unless the read that fails still gives
    // what it was asked for, or is the last, empty one.
    if (operation != FileOperation::kRead ||
        (place.index == 0 && transferred == 0)) {
      DropInstallersFrom(&outcome, place.path);
    }
    return outcome;
  }
  const bool patched_before = FilesBefore()[place.path] == Patched(3);
  std::size_t record = kRecords.size();  // none stopped
  switch (operation) {
    case FileOperation::kLength:
      // An unknown length refuses every position of the first record; the
      // already-patched test does not need it.
      if (!patched_before) record = 0;
      break;
    case FileOperation::kSetPosition:
      if (place.index >= 3) record = (place.index - 3) / 3;
      break;
    case FileOperation::kRead:
      if (place.index >= 3) record = (place.index - 3) / 2;
      break;
    case FileOperation::kWrite:
      record = place.index;
      break;
    default:
      break;
  }
  // A failure within the already-patched test only makes the file count as
  // not patched: every record is written, without a warning.
  if (record < kRecords.size()) {
    SeekWarning(&outcome, place.path);
    outcome.files[place.path] =
        Patched(record, operation == FileOperation::kWrite ? transferred : 0);
  }
  return outcome;
}

TEST(FaultInjectionTest, EachFileOperationFailingInTurn) {
  Rig clean_rig(Scenario::kRunEntry);
  clean_rig.Run();
  const std::vector<FaultFiles::Access> clean = clean_rig.files.accesses();

  struct Case {
    FileOperation operation;
    std::uint32_t transferred;
  } const cases[] = {
      {FileOperation::kOpen, 0},        {FileOperation::kLength, 0},
      {FileOperation::kSetPosition, 0}, {FileOperation::kRead, 0},
      {FileOperation::kRead, 2},        {FileOperation::kWrite, 0},
      {FileOperation::kWrite, 3},       {FileOperation::kClose, 0},
      {FileOperation::kFlush, 0},       {FileOperation::kOpenFolder, 0},
      {FileOperation::kIsOwnFile, 0},
  };
  for (const Case& c : cases) {
    int number = 1;
    for (;; ++number) {
      SCOPED_TRACE("operation " +
                   std::to_string(static_cast<int>(c.operation)) + ", call " +
                   std::to_string(number) + ", transferring " +
                   std::to_string(c.transferred));
      Rig rig(Scenario::kRunEntry);
      rig.files.FailCall(c.operation, number, c.transferred);
      const int exit_code = rig.Run();
      if (rig.files.Calls(c.operation) < number) break;  // never reached
      const Outcome expected =
          c.operation == FileOperation::kClose
              ? CleanRun()  // a failing close still releases the file
              : FileFailure(c.operation, number, c.transferred, clean);
      Check(rig, exit_code, expected);
    }
    // Every call of a run without failures was made to fail once.
    EXPECT_GT(number, clean_rig.files.Calls(c.operation));
  }
}

TEST(FaultInjectionTest, EachRegistryOperationFailingInTurn) {
  enum class Expect { kStops, kCompletes, kNoOption };
  struct Case {
    Scenario scenario;
    RegistryOperation operation;
    platform::QueryStatus query_status;
    Expect expect;  // each operation is called once in a run
  };
  using Op = RegistryOperation;
  using platform::QueryStatus;
  constexpr Scenario kRun = Scenario::kRunEntry;
  constexpr Scenario kBoth = Scenario::kBothEntries;
  // clang-format off
  const Case cases[] = {
      // With the Run entry alone, the lookup has nothing to fall back on.
      {kRun, Op::kOpenForQuery, QueryStatus::kFailed, Expect::kStops},
      {kRun, Op::kQuery, QueryStatus::kFailed, Expect::kStops},
      {kRun, Op::kQuery, QueryStatus::kMoreData, Expect::kStops},
      // With the App Paths entry too, it takes over.
      {kBoth, Op::kOpenForQuery, QueryStatus::kFailed, Expect::kCompletes},
      {kBoth, Op::kQuery, QueryStatus::kFailed, Expect::kCompletes},
      {kBoth, Op::kQuery, QueryStatus::kMoreData, Expect::kCompletes},
      // The option's failures are silent and stop nothing.
      {kRun, Op::kCreateForSet, QueryStatus::kFailed, Expect::kNoOption},
      {kRun, Op::kSetDword, QueryStatus::kFailed, Expect::kNoOption},
  };
  // clang-format on

  for (const Case& c : cases) {
    int number = 1;
    for (;; ++number) {
      SCOPED_TRACE("operation " +
                   std::to_string(static_cast<int>(c.operation)) + ", call " +
                   std::to_string(number));
      Rig rig(c.scenario);
      rig.registry.FailCall(c.operation, number, c.query_status);
      const int exit_code = rig.Run();
      if (rig.registry.Calls(c.operation) < number) break;
      ASSERT_EQ(number, 1);
      Outcome expected = CleanRun();
      switch (c.expect) {
        case Expect::kStops:
          expected = StoppedRun();
          break;
        case Expect::kNoOption:
          expected.option_written = false;
          break;
        case Expect::kCompletes:
          break;
      }
      Check(rig, exit_code, expected);
    }
    EXPECT_EQ(number, 2);
  }
}

// A program that does not start ends the installers' step; the product is
// started all the same, and no failure is shown.
TEST(FaultInjectionTest, EachShellStartFailingInTurn) {
  const std::string speech = std::string(kUpdateFolder) + "MSpchapi.exe";
  const std::string voice = std::string(kUpdateFolder) + "Msttsm22.exe";
  const std::string product = std::string(kInstallation) + "tavelon.exe";
  // The elevation is asked first. When it is not known, the installers and
  // the product are started by the update itself, from their folders;
  // elevated, the product is started from the desktop's shell, and when
  // that fails not at all.
  const std::vector<std::vector<std::string>> starts = {
      {speech, voice, product},
      {"copy MSpchapi.exe", "copy Msttsm22.exe", "desktop " + product}};
  int number = 1;
  for (;; ++number) {
    SCOPED_TRACE("start " + std::to_string(number));
    Rig rig(Scenario::kRunEntry);
    const int exit_code = rig.Run(number);
    if (rig.shell_calls < number) break;
    ASSERT_LE(static_cast<std::size_t>(number), starts.size());
    Outcome expected = CleanRun();
    expected.starts = starts[static_cast<std::size_t>(number - 1)];
    Check(rig, exit_code, expected);
  }
  EXPECT_EQ(static_cast<std::size_t>(number - 1), starts.size());
}

// A window look that finds nothing: for the product, it is not closed and
// there is no pause; for the voice installer's dialog, the wait ends.
TEST(FaultInjectionTest, EachWindowLookFailingInTurn) {
  Rig clean(Scenario::kRunEntry);
  clean.Run();
  ASSERT_GE(clean.window_calls, 2);
  for (int number = 1; number <= clean.window_calls; ++number) {
    SCOPED_TRACE("look " + std::to_string(number));
    Rig rig(Scenario::kRunEntry);
    const int exit_code = rig.Run(0, number);
    Check(rig, exit_code, CleanRun());
    EXPECT_EQ(rig.windows.closed.size(), number == 1 ? 0u : 1u);
    EXPECT_EQ(rig.pauses, number == 1 ? 0 : 1);
    EXPECT_EQ(rig.window_calls, number == 1 ? clean.window_calls : number);
  }
}

}  // namespace
}  // namespace tavelon::update
