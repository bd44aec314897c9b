// The update description tool: its commands on files built here, its dry
// run compared with what the patcher then really does to the same files.
#include "tools/tavpatch/tavpatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "patch/dictionary_patcher.h"
#include "platform/system.h"
#include "tests/support/box_recorder.h"
#include "tests/support/dictionary_builder.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"
#include "tests/support/temp_folder.h"
#include "tools/tavpatch/folder_check.h"
#include "update/dictionary_warnings.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tavelon::tavpatch {
namespace {

using test_support::Bytes;
using test_support::DescriptionBytes;
using test_support::DictionaryBuilder;
using test_support::Record;

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// A path as the patcher forms it, in the form the test's own file access
// takes.
std::string SystemPath(std::string path) {
#if !defined(_WIN32)
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
#endif
  return path;
}

// A dictionary of 1000 bytes: sections 0 to 4 with entry tables of 10
// entries at 200 + 40 s, item e of section s at 500 + 50 s + 5 e.
DictionaryBuilder StandardDictionary(std::size_t length = 1000) {
  DictionaryBuilder builder(length);
  for (int s = 0; s < 5; ++s) {
    const std::int32_t table = 200 + 40 * s;
    if (builder.Fits(100 + 4 * s)) builder.Section(s, table);
    for (int e = 0; e < 10; ++e) {
      if (builder.Fits(table + 4 * e)) {
        builder.Entry(table, e, 500 + 50 * s + 5 * e);
      }
    }
  }
  return builder;
}

const std::vector<Record> kRecords = {{0, 0, 0x11111111u},
                                      {1, 3, 0x22222222u},
                                      {4, 9, 0x33333333u},
                                      {2, 5, 0xCAFEBABEu}};

class TavpatchTest : public ::testing::Test {
 protected:
  Outcome Run(std::vector<std::string> arguments,
              platform::Files& files = platform::SystemFiles()) {
    arguments.insert(arguments.begin(), "tavpatch");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
      argv.push_back(argument.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    const int code = tavpatch::Run(static_cast<int>(argv.size()), argv.data(),
                                   out, err, files);
    return {code, out.str(), err.str()};
  }

  std::string Write(const std::string& name, const Bytes& bytes) {
    test_support::WriteBytes(folder_.path() / name, bytes);
    return folder_.PathOf(name);
  }
  std::string WriteText(const std::string& name, const std::string& text) {
    return Write(name, Bytes(text.begin(), text.end()));
  }

  test_support::TempFolder folder_;
};

TEST_F(TavpatchTest, ShowListsTheRecordsAndTheCheckRecord) {
  const std::string file = Write(
      "info.tmp",
      DescriptionBytes(
          {{0, 0, 0x11111111u}, {-1, -32768, 0u}, {32767, 5, 0xFFFFFFFFu}}));
  const Outcome shown = Run({"show", file});
  EXPECT_EQ(shown.code, 0);
  EXPECT_EQ(shown.out,
            "records 3\n"
            "record 0 section 0 entry 0 value 0x11111111\n"
            "record 1 section -1 entry -32768 value 0x00000000\n"
            "record 2 section 32767 entry 5 value 0xFFFFFFFF check\n");
  EXPECT_EQ(shown.err, "");

  Write("empty.tmp", DescriptionBytes({}));
  EXPECT_EQ(Run({"show", folder_.PathOf("empty.tmp")}).out, "records 0\n");
}

TEST_F(TavpatchTest, ShowNamesTheRuleAnInvalidFileBreaks) {
  const Bytes one = DescriptionBytes({{1, 2, 3}});
  Bytes longest_plus_one = DescriptionBytes(std::vector<Record>(622));
  Bytes lower_case = one;
  lower_case[0] = 't';
  Bytes zero_in_header = one;
  zero_in_header[26] = 0;
  struct Case {
    const char* name;
    Bytes bytes;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"short", Bytes(one.begin(), one.begin() + 29),
       "invalid length: 29 bytes is not 30 + 8 * N"},
      {"partial record", Bytes(one.begin(), one.begin() + 37),
       "invalid length: 37 bytes is not 30 + 8 * N"},
      {"622 records", longest_plus_one,
       "invalid size-limit: 5006 bytes, more than 5000 (621 records)"},
      {"lower case", lower_case,
       "invalid header: the first 27 bytes are not \"Tavelon Translator - "
       "Update\""},
      {"zero in header", zero_in_header,
       "invalid header: the first 27 bytes are not \"Tavelon Translator - "
       "Update\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome shown = Run({"show", Write("bad.tmp", c.bytes)});
    EXPECT_EQ(shown.code, 1);
    EXPECT_EQ(shown.out, c.line + "\n");
  }

  const std::string missing = folder_.PathOf("missing.tmp");
  const Outcome shown = Run({"show", missing});
  EXPECT_EQ(shown.code, 1);
  EXPECT_EQ(shown.out,
            "invalid open: " + missing + " cannot be opened for reading\n");
}

TEST_F(TavpatchTest, MakeWritesTheHeaderZerosAndRecords) {
  const std::string list =
      WriteText("list.txt",
                "# section entry value\r\n"
                "0 0 0x11111111\r\n"
                "\n"
                "   -1\t-32768   0   # the smallest indices\n"
                "32767 0x7FFF 4294967295\n"
                "0x0 00 0xcafeBABE");
  const std::string output = folder_.PathOf("info.tmp");
  const Outcome made = Run({"make", list, "-o", output});
  EXPECT_EQ(made.code, 0);
  EXPECT_EQ(made.out, "records 4\nwrote " + output + "\n");
  EXPECT_EQ(
      test_support::ReadBytes(output),
      DescriptionBytes({{0, 0, 0x11111111u},
                        {-1, -32768, 0u},
                        {32767, 32767, 0xFFFFFFFFu},
                        {0, 0, 0xCAFEBABEu}},
                       "Tavelon Translator - Update", std::string(3, '\0')));
}

TEST_F(TavpatchTest, MakeRefusesABadLineWithItsNumberAndWritesNothing) {
  struct Case {
    const char* line;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"1 2", "expected three numbers (section entry value), found 2 fields"},
      {"1 2 3 4",
       "expected three numbers (section entry value), found 4 fields"},
      {"32768 0 0", "section 32768 is out of range -32768..32767"},
      {"-32769 0 0", "section -32769 is out of range -32768..32767"},
      {"0 0x8000 0",
       "entry 0x8000 is out of range -32768..32767; negative indices are "
       "written in decimal (-1 for FFFF)"},
      {"0 99999999999999999999 0",
       "entry 99999999999999999999 is out of range -32768..32767"},
      {"0 0 -1", "value -1 is out of range 0..0xFFFFFFFF"},
      {"0 0 4294967296", "value 4294967296 is out of range 0..0xFFFFFFFF"},
      {"0 0 0x100000000", "value 0x100000000 is out of range 0..0xFFFFFFFF"},
      {"x 0 0", "section \"x\" is not a number"},
      {"0x 0 0", "section \"0x\" is not a number"},
      {"-0x1 0 0", "section \"-0x1\" is not a number"},
      {"+1 0 0", "section \"+1\" is not a number"},
      {"- 0 0", "section \"-\" is not a number"},
      {"1e3 0 0", "section \"1e3\" is not a number"},
      {"0 0 12ab", "value \"12ab\" is not a number"},
      {"0,0,1", "expected three numbers (section entry value), found 1 field"},
  };
  const std::string output = folder_.PathOf("info.tmp");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string list =
        WriteText("list.txt", "# a list\n1 2 3\n" + std::string(c.line) +
                                  "  # the bad one\n4 5 6\n");
    const Outcome made = Run({"make", list, "-o", output});
    EXPECT_EQ(made.code, 1);
    EXPECT_EQ(made.out, list + ":3: " + c.message + "\n");
    EXPECT_FALSE(std::filesystem::exists(output));
  }

  // Every bad line is named.
  const std::string list = WriteText("list.txt", "1\n2 2 2\n3 3 x\n");
  EXPECT_EQ(Run({"make", list, "-o", output}).out,
            list +
                ":1: expected three numbers (section entry value), found 1 "
                "field\n" +
                list + ":3: value \"x\" is not a number\n");
}

TEST_F(TavpatchTest, MakeTakesAtMost621Records) {
  std::string text = "# header line\n";
  for (int i = 0; i < 621; ++i) text += std::to_string(i) + " 1 2\n";
  const std::string output = folder_.PathOf("info.tmp");
  const std::string list = WriteText("list.txt", text);
  ASSERT_EQ(Run({"make", list, "-o", output}).code, 0);
  EXPECT_EQ(test_support::ReadBytes(output).size(), 30u + 8u * 621u);
  EXPECT_EQ(Run({"show", output}).code, 0);

  text += "\n7 7 7\n8 8 8\n";
  WriteText("list.txt", text);
  const Outcome made = Run({"make", list, "-o", output, "--force"});
  EXPECT_EQ(made.code, 1);
  EXPECT_EQ(made.out, list +
                          ":624: more than 621 records; an update "
                          "description holds at most 621\n");
}

TEST_F(TavpatchTest, MakeReplacesAFileOnlyWhenForced) {
  const std::string list = WriteText("list.txt", "1 2 3\n");
  const Bytes previous = {'o', 'l', 'd'};
  const std::string output = Write("info.tmp", previous);

  const Outcome refused = Run({"make", list, "-o", output});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.out, output + ": exists; give --force to replace it\n");
  EXPECT_EQ(test_support::ReadBytes(output), previous);

  EXPECT_EQ(Run({"make", "--force", list, "-o", output}).code, 0);
  EXPECT_EQ(test_support::ReadBytes(output).size(), 38u);
}

TEST_F(TavpatchTest, MadeFileShowsTheListedRecords) {
  const std::string list = WriteText("list.txt",
                                     "100 -2 0x00010203\n"
                                     "-25 65 4000000000\n"
                                     "7 -32768 0xA0B0C0D0\n");
  const std::string output = folder_.PathOf("out.tmp");
  ASSERT_EQ(Run({"make", list, "-o", output}).code, 0);
  EXPECT_EQ(Run({"show", output}).out,
            "records 3\n"
            "record 0 section 100 entry -2 value 0x00010203\n"
            "record 1 section -25 entry 65 value 0xEE6B2800\n"
            "record 2 section 7 entry -32768 value 0xA0B0C0D0 check\n");
}

TEST_F(TavpatchTest, UsageErrorsExitWithTwoAndHelpWithZero) {
  const std::string list = WriteText("list.txt", "1 2 3\n");
  const std::vector<std::vector<std::string>> usage_errors = {
      {},
      {"frobnicate"},
      {"show"},
      {"show", "a", "b"},
      {"show", "--force", "a"},
      {"check", "a"},
      {"check", "a", "b", "c"},
      {"make", list},
      {"make", list, "-o"},
      {"make", list, "-o", "x", "-o", "y"},
      {"make", list, "x", "-o", "y"},
      {"make", list, "-x", "-o", "y"},
  };
  for (const auto& arguments : usage_errors) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    const Outcome outcome = Run(arguments);
    EXPECT_EQ(outcome.code, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "y"));

  const std::vector<std::pair<std::vector<std::string>, std::string>> helps = {
      {{"--help"}, "usage: tavpatch COMMAND"},
      {{"-h"}, "usage: tavpatch COMMAND"},
      {{"show", "--help"}, "usage: tavpatch show FILE\n"},
      {{"check", "x", "--help"}, "usage: tavpatch check FILE FOLDER\n"},
      {{"make", "--help"}, "usage: tavpatch make LIST -o FILE [--force]\n"}};
  for (const auto& [arguments, start] : helps) {
    SCOPED_TRACE(start);
    const Outcome outcome = Run(arguments);
    EXPECT_EQ(outcome.code, 0);
    EXPECT_EQ(outcome.out.rfind(start, 0), 0u);
    EXPECT_EQ(outcome.err, "");
  }
}

// An installation with one case per language, to compare the dry run with
// the patcher's real run on the same files.
class TavpatchCheckTest : public TavpatchTest {
 protected:
  TavpatchCheckTest() {
    std::filesystem::create_directories(data_folder());
    description_ = Write("info.tmp", DescriptionBytes(kRecords));
  }

  std::string installation() const { return folder_.PathOf("Translator"); }
  std::filesystem::path data_folder() const {
    return folder_.path() / "Translator" / "data";
  }
  std::string Shown(const std::string& name) const {
    return installation() + kSeparator + "data" + kSeparator + name;
  }
  void WriteDictionary(const std::string& name, const Bytes& bytes) {
    test_support::WriteBytes(data_folder() / name, bytes);
  }

  // Every file of the data folder with its bytes and modification time, set
  // an hour back first so that any write would show.
  struct Snapshot {
    Bytes bytes;
    std::filesystem::file_time_type time;
  };
  std::map<std::string, Snapshot> TakeSnapshot(bool age) {
    std::map<std::string, Snapshot> files;
    for (const auto& item :
         std::filesystem::directory_iterator(data_folder())) {
      if (!item.is_regular_file()) continue;
      if (age) {
        std::filesystem::last_write_time(
            item.path(), std::filesystem::file_time_type::clock::now() -
                             std::chrono::hours(1));
      }
      files[item.path().filename().string()] = {
          test_support::ReadBytes(item.path()),
          std::filesystem::last_write_time(item.path())};
    }
    return files;
  }

  // Runs the patcher as the update run does, from the folder that holds
  // the description as "info.tmp".
  patch::PatchResult Patch(platform::Files& files) {
    test_support::CurrentDirectoryGuard guard(folder_.path());
    return update::PatchDictionariesWithWarnings(
        files, boxes_, (installation() + "\\").c_str());
  }

  // The dry run must predict the patcher's result, its warnings and the
  // bytes it leaves in every file it opens: each file as it was, with the
  // predicted writes made.
  void ExpectAgreement(const FolderCheck& check, platform::Files& files) {
    std::map<std::string, Bytes> expected;
    for (const LanguageCheck& language : check.languages) {
      if (language.dry_run.writes.empty()) continue;
      Bytes bytes = test_support::ReadBytes(SystemPath(language.path));
      for (const OverlayFile::Written& write : language.dry_run.writes) {
        std::copy(write.bytes.begin(), write.bytes.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(write.position));
      }
      expected[language.path] = bytes;
    }
    EXPECT_EQ(check.updater_result, Patch(files));
    std::vector<fakes::RecordedBox> predicted;
    for (const LanguageCheck& language : check.languages) {
      SCOPED_TRACE(language.code);
      if (language.outcome == patch::DictionaryOutcome::kStopped) {
        predicted.push_back({expected::kSeekError, language.path, 0x30});
      }
      if (language.outcome == patch::DictionaryOutcome::kRefused) {
        predicted.push_back({expected::kCannotOpen, language.path, 0x30});
      }
    }
    for (const auto& [path, bytes] : expected) {
      EXPECT_EQ(test_support::ReadBytes(SystemPath(path)), bytes) << path;
    }
    ASSERT_EQ(boxes_.boxes.size(), predicted.size());
    for (std::size_t i = 0; i < predicted.size(); ++i) {
      EXPECT_EQ(boxes_.boxes[i].text, predicted[i].text);
      EXPECT_EQ(boxes_.boxes[i].caption, predicted[i].caption);
      EXPECT_EQ(boxes_.boxes[i].flags, predicted[i].flags);
    }
  }

  std::string description_;
  fakes::BoxRecorder boxes_;
};

TEST_F(TavpatchCheckTest, PredictsWhatThePatcherDoesAndWritesNothing) {
  WriteDictionary("engtoEng.dic", StandardDictionary().bytes());
  // The check record's value is in place.
  WriteDictionary("engtoDut.dic",
                  StandardDictionary().Item(625, 0xCAFEBABEu).bytes());
  // Cut short: the third record's item value (746) lies past the end.
  WriteDictionary("engtoFre.dic", StandardDictionary(700).bytes());
  // The first record writes over the entry element that the second one
  // then follows, far outside the file.
  WriteDictionary("engtoHeb.dic",
                  StandardDictionary().Entry(200, 0, 251).bytes());
  // The third record's item value lies on the section table element that
  // the first record reads: a run cut short after it would not heal.
  WriteDictionary("engtoGer.dic",
                  StandardDictionary().Entry(360, 9, 99).bytes());
  // A hard link to a file outside the data folder: refused like a file
  // that cannot be opened for writing.
  test_support::WriteBytes(folder_.path() / "elsewhere.dat",
                           StandardDictionary().bytes());
  std::filesystem::create_hard_link(folder_.path() / "elsewhere.dat",
                                    data_folder() / "engtoIta.dic");
  WriteDictionary("engtojap.dic", StandardDictionary().bytes());
  WriteDictionary("engtoPtg.dic", Bytes(2, 0));
  // The first record's entry element (998) ends past the end.
  WriteDictionary("engtoSpa.dic", StandardDictionary().Section(0, 998).bytes());
  const auto before = TakeSnapshot(true);

  const Outcome dry_run = Run({"check", description_, installation()});
  EXPECT_EQ(dry_run.code, 1);
  EXPECT_EQ(
      dry_run.out,
      "records 4\n"
      "data-folder " +
          Shown("") +
          "\n"
          "Eng applied " +
          Shown("engtoEng.dic") + "\nEng heals yes\nDut already-patched " +
          Shown("engtoDut.dic") +
          "\nFre stopped record 2 out-of-bounds item-value position 746 "
          "bound 0..696 length 700 " +
          Shown("engtoFre.dic") + "\nFre heals yes\nGer applied " +
          Shown("engtoGer.dic") +
          "\nGer heals no: record 2 writes the table element that record 0 "
          "reads at position 100"
          "\nHeb stopped record 1 out-of-bounds item-value position "
          "286331154 bound 0..996 length 1000 " +
          Shown("engtoHeb.dic") + "\nHeb heals yes\nIta unwritable " +
          Shown("engtoIta.dic") + "\nJpn applied " + Shown("engtojap.dic") +
          "\nJpn heals yes"
          "\nPtg stopped record 0 out-of-bounds section-element position 100 "
          "bound none length 2 " +
          Shown("engtoPtg.dic") +
          "\nPtg heals yes"
          "\nSpa stopped record 0 out-of-bounds entry-element position 998 "
          "bound 0..996 length 1000 " +
          Shown("engtoSpa.dic") +
          "\nSpa heals yes\n"
          "updater-result 0\n"
          "problems 6\n");

  const FolderCheck check = CheckFolder(
      platform::SystemFiles(), description_.c_str(), installation().c_str());
  const auto after = TakeSnapshot(false);
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [name, snapshot] : before) {
    SCOPED_TRACE(name);
    EXPECT_EQ(after.at(name).bytes, snapshot.bytes);
    EXPECT_TRUE(after.at(name).time == snapshot.time);
  }

  fakes::FaultFiles files(platform::SystemFiles());
  ExpectAgreement(check, files);
  EXPECT_EQ(files.OpenHandles(), 0u);

  // Now every file that took all records is patched; the rest stays as it
  // was, so a second dry run and a second run agree again.
  boxes_.boxes.clear();
  const FolderCheck second = CheckFolder(
      platform::SystemFiles(), description_.c_str(), installation().c_str());
  EXPECT_EQ(second.languages[0].outcome,
            patch::DictionaryOutcome::kAlreadyPatched);
  ExpectAgreement(second, platform::SystemFiles());
}

// An update cut short, as by a power cut: any combination of the writes
// before the flush reached the disk, and the check record's write only
// after all of them. Run again whole, every such file must end with the
// bytes of one uninterrupted run exactly when the dry run says that the
// update heals.
TEST(CutShortUpdateTest, HealsExactlyWhenTheDryRunSaysSo) {
  using Verdict = Healing::Verdict;
  struct {
    const char* what;
    Bytes dictionary;
    std::vector<Record> records;
    Verdict verdict;
    std::int32_t first;  // writer, or the record a cut follows
    std::int32_t reader;
    std::int64_t position;
  } const cases[] = {
      {"the first record steers the third, which is allowed",
       StandardDictionary().Entry(200, 0, 251).bytes(),
       {{0, 0, 600}, {2, 2, 0xAAAA}, {1, 3, 0xBBBB}, {3, 1, 0xCAFE}},
       Verdict::kHeals,
       0,
       0,
       0},
      {"the third record writes the section element the first reads",
       StandardDictionary().Entry(360, 9, 99).bytes(),
       {{0, 0, 1}, {1, 3, 2}, {4, 9, 3}, {2, 5, 0xCAFEBABE}},
       Verdict::kWritesWhatIsRead,
       2,
       0,
       100},
      {"a record writes its own entry element",
       StandardDictionary().Entry(240, 3, 251).bytes(),
       {{0, 0, 5}, {1, 3, 0x0300}, {2, 5, 0xCAFEBABE}},
       Verdict::kWritesWhatIsRead,
       1,
       1,
       252},
      {"writes that leave the bytes as they were: a record's own entry "
       "element, the check record's section element",
       StandardDictionary().Entry(200, 0, 107).Entry(240, 3, 251).bytes(),
       {{0, 0, 280}, {1, 3, 251}, {2, 5, 0xCAFEBABE}},
       Verdict::kHeals,
       0,
       0,
       0},
      {"after the first record the check record finds its value",
       StandardDictionary().Entry(200, 0, 299).Item(900, 0xCAFEBABE).bytes(),
       {{0, 0, 900}, {1, 3, 0x2222}, {2, 5, 0xCAFEBABE}},
       Verdict::kTakenAsPatched,
       0,
       0,
       0},
      {"the third record points the check record's entry at the value the "
       "first wrote: a file without the second's write passes the check",
       StandardDictionary().Entry(280, 5, 323).bytes(),
       {{0, 0, 0xCAFEBABE}, {1, 3, 0x2222}, {2, 5, 500}, {3, 1, 0xCAFEBABE}},
       Verdict::kWritesCheckLookup,
       2,
       0,
       324},
  };
  constexpr char kName[] = "engtoEng.dic";
  // The bytes after a whole run, and where it wrote, in order.
  const auto patch_in_memory = [&](const Bytes& bytes,
                                   const patch::PatchDescription& description,
                                   std::vector<std::int64_t>* written) {
    fakes::MemoryFiles memory;
    memory.Add(kName, bytes);
    fakes::FaultFiles files(memory);
    platform::FileHandle file = 0;
    files.OpenExisting(kName, platform::FileAccess::kReadWrite, &file);
    patch::PatchDictionaryFile(files, file, description);
    files.Close(file);
    for (const auto& access : files.accesses()) {
      if (access.operation == fakes::FaultFiles::Operation::kWrite &&
          written != nullptr) {
        written->push_back(access.position);
      }
    }
    return *memory.Find(kName);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fakes::MemoryFiles memory;
    memory.Add("info.tmp", DescriptionBytes(c.records));
    memory.Add(kName, c.dictionary);
    fakes::FaultFiles files(memory);
    const auto description = std::make_unique<patch::PatchDescription>();
    std::int32_t length = 0;
    ASSERT_EQ(patch::ReadPatchDescriptionFile(files, "info.tmp",
                                              description.get(), &length),
              patch::DescriptionStatus::kValid);
    platform::FileHandle file = 0;
    files.OpenExisting(kName, platform::FileAccess::kReadWrite, &file);
    const DryRun dry_run = DryRunDictionary(files, file, *description);
    EXPECT_EQ(files.Calls(fakes::FaultFiles::Operation::kWrite), 0);
    EXPECT_EQ(dry_run.healing.verdict, c.verdict);
    if (c.verdict == Verdict::kWritesWhatIsRead ||
        c.verdict == Verdict::kWritesCheckLookup) {
      EXPECT_EQ(dry_run.healing.writer, c.first);
      EXPECT_EQ(dry_run.healing.position, c.position);
    }
    if (c.verdict == Verdict::kWritesWhatIsRead) {
      EXPECT_EQ(dry_run.healing.reader, c.reader);
    }
    if (c.verdict == Verdict::kTakenAsPatched) {
      EXPECT_EQ(dry_run.healing.cut_after, c.first);
    }

    std::vector<std::int64_t> written;
    const Bytes whole = patch_in_memory(c.dictionary, *description, &written);
    ASSERT_NE(whole, c.dictionary);
    // Bit k of `reached`: write k is on the disk. The check record's write
    // (the last) only with all the others.
    const std::size_t before_flush =
        written.size() - (written.size() == c.records.size() ? 1 : 0);
    bool every_cut_heals = true;
    for (unsigned reached = 0; reached <= 1u << before_flush; ++reached) {
      Bytes cut = c.dictionary;
      for (std::size_t k = 0; k < written.size(); ++k) {
        if ((reached >> k & 1) == 0 && reached != 1u << before_flush) continue;
        const unsigned char* value = description->records[k].value;
        std::copy(value, value + 4,
                  cut.begin() + static_cast<std::ptrdiff_t>(written[k]));
      }
      const bool heals = patch_in_memory(cut, *description, nullptr) == whole;
      if (c.verdict == Verdict::kHeals) {
        EXPECT_TRUE(heals) << "writes on the disk " << reached;
      }
      every_cut_heals = every_cut_heals && heals;
    }
    EXPECT_EQ(every_cut_heals, c.verdict == Verdict::kHeals);
  }
}

#if !defined(_WIN32)
// A dictionary of 1.5 GiB (a sparse file: its tables and items at its
// start), checked by a child process whose address space is limited far
// below that: the dry run reads the file where the records lead and never
// copies it.
TEST_F(TavpatchCheckTest, ChecksAHugeDictionaryWithoutCopyingIt) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit";
#endif
  const std::filesystem::path huge = data_folder() / "engtoEng.dic";
  WriteDictionary("engtoEng.dic", StandardDictionary().bytes());
  std::filesystem::resize_file(huge, std::uintmax_t{3} << 29);  // 1.5 GiB
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(output[0]);
    const rlimit limit = {rlim_t{256} << 20, rlim_t{256} << 20};
    setrlimit(RLIMIT_AS, &limit);
    const Outcome outcome = Run({"check", description_, installation()});
    const ssize_t written =
        write(output[1], outcome.out.data(), outcome.out.size());
    _exit(written == static_cast<ssize_t>(outcome.out.size()) ? outcome.code
                                                              : 99);
  }
  close(output[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) > 0;) {
    out.append(buffer, static_cast<std::size_t>(got));
  }
  close(output[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status))
      << "the check died (signal " << WTERMSIG(status) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;
  EXPECT_NE(
      out.find("\nEng applied " + Shown("engtoEng.dic") + "\nEng heals yes\n"),
      std::string::npos)
      << out;
  EXPECT_EQ(std::filesystem::file_size(huge), std::uintmax_t{3} << 29);
}
#endif

TEST_F(TavpatchCheckTest, TakesTheDataFolderItselfToo) {
  WriteDictionary("engtoGer.dic", StandardDictionary().bytes());
  WriteDictionary("ENGTOSPA.DIC", StandardDictionary(700).bytes());
  const FolderCheck from_installation = CheckFolder(
      platform::SystemFiles(), description_.c_str(), installation().c_str());
  for (const std::string& folder :
       {data_folder().string(), data_folder().string() + kSeparator}) {
    SCOPED_TRACE(folder);
    const FolderCheck check = CheckFolder(platform::SystemFiles(),
                                          description_.c_str(), folder.c_str());
    ASSERT_TRUE(check.data_folder_usable);
    ASSERT_EQ(check.languages.size(), from_installation.languages.size());
    for (std::size_t i = 0; i < check.languages.size(); ++i) {
      EXPECT_EQ(check.languages[i].outcome,
                from_installation.languages[i].outcome);
      EXPECT_EQ(check.languages[i].dry_run.writes.size(),
                from_installation.languages[i].dry_run.writes.size());
    }
    EXPECT_EQ(check.languages[3].outcome,
              patch::DictionaryOutcome::kAllApplied);
    EXPECT_EQ(check.languages[8].outcome, patch::DictionaryOutcome::kStopped);
  }
}

TEST_F(TavpatchCheckTest, FileOfUnknownLengthStopsAtTheFirstRecord) {
  WriteDictionary("engtoEng.dic", StandardDictionary().bytes());
  const Bytes original = StandardDictionary().bytes();
  fakes::FaultFiles files(platform::SystemFiles());
  files.ReportLength(-1, "engtoEng.dic");

  const Outcome dry_run = Run({"check", description_, installation()}, files);
  EXPECT_EQ(dry_run.code, 1);
  EXPECT_NE(dry_run.out.find("\nEng stopped record 0 out-of-bounds "
                             "section-element position 100 bound none "
                             "length -1 "),
            std::string::npos);
  EXPECT_EQ(files.Calls(fakes::FaultFiles::Operation::kWrite), 0);
  EXPECT_EQ(files.OpenHandles(), 0u);

  const FolderCheck check =
      CheckFolder(files, description_.c_str(), installation().c_str());
  ExpectAgreement(check, files);
  EXPECT_EQ(test_support::ReadBytes(data_folder() / "engtoEng.dic"), original);
}

// The dry run reads the file itself: a read that fails there is a stop, as
// it would be for the updater.
TEST_F(TavpatchCheckTest, AReadFailingInTheDryRunIsAProblem) {
  WriteDictionary("engtoEng.dic", StandardDictionary().bytes());
  WriteDictionary("engtoGer.dic", StandardDictionary().bytes());
  fakes::FaultFiles files(platform::SystemFiles());
  // The description's read, the three of the check test, then the first of
  // the records.
  files.FailCall(fakes::FaultFiles::Operation::kRead, 5);
  const Outcome dry_run = Run({"check", description_, installation()}, files);
  EXPECT_EQ(dry_run.code, 1);
  EXPECT_NE(dry_run.out.find("\nEng stopped record 0 access-failed "
                             "section-element position 100 "),
            std::string::npos);
  EXPECT_NE(dry_run.out.find("\nGer applied "), std::string::npos);
  EXPECT_NE(dry_run.out.find("\nproblems 1\n"), std::string::npos);
  EXPECT_EQ(files.Calls(fakes::FaultFiles::Operation::kWrite), 0);
  EXPECT_EQ(files.OpenHandles(), 0u);
}

TEST_F(TavpatchCheckTest, InvalidOrEmptyDescriptionOpensNoDictionary) {
  WriteDictionary("engtoEng.dic", StandardDictionary().bytes());
  Bytes bad_header = DescriptionBytes(kRecords);
  bad_header[5] = 'x';
  const Outcome invalid =
      Run({"check", Write("bad.tmp", bad_header), installation()});
  EXPECT_EQ(invalid.code, 1);
  EXPECT_EQ(invalid.out,
            "invalid header: the first 27 bytes are not \"Tavelon Translator "
            "- Update\"\n");

  const Outcome empty =
      Run({"check", Write("empty.tmp", DescriptionBytes({})), installation()});
  EXPECT_EQ(empty.code, 0);
  EXPECT_NE(empty.out.find("\nEng not-opened " + Shown("engtoEng.dic") + "\n"),
            std::string::npos);
  EXPECT_NE(empty.out.find("\nupdater-result 3\nproblems 0\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tavelon::tavpatch
