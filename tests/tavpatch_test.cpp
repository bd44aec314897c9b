// The update description tool: its commands on files built here, its dry
// run compared with what the patcher then really does to the same files.
#include "tools/tavpatch/tavpatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
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
  std::string out, err;
};

// A path as the patcher forms it, in the form the test's own file access
// takes.
std::string SystemPath(std::string path) {
#if !defined(_WIN32)
  std::replace(path.begin(), path.end(), '\\', '/');
#endif
  return path;
}

// The standard dictionary: 1000 bytes, sections 0 to 4 with entry tables of
// 10 entries at 200 + 40 s, item e of section s at 500 + 50 s + 5 e.
DictionaryBuilder StandardDictionary(std::size_t length = 1000) {
  test_support::DictionaryLayout layout;
  layout.length = length;
  return layout.Build();
}

class TavpatchTest : public ::testing::Test {
 protected:
  Outcome Run(const std::vector<std::string>& arguments,
              platform::Files& files = platform::SystemFiles()) {
    std::vector<const char*> argv = {"tavpatch"};
    for (const std::string& argument : arguments) {
      argv.push_back(argument.c_str());
    }
    std::ostringstream out, err;
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

TEST_F(TavpatchTest, ShowListsAValidFileOrNamesTheRuleItBreaks) {
  const Bytes one = DescriptionBytes({{1, 2, 3}});
  const std::string header =
      "invalid header: the first 27 bytes are not \"Tavelon Translator - "
      "Update\"\n";
  const std::string missing = folder_.PathOf("missing.tmp");
  const std::string unopened =
      "invalid open: " + missing + " cannot be opened for reading\n";
  // What the file is, its bytes (none: it does not exist), the exit code and
  // the output.
  const std::tuple<const char*, Bytes, int, std::string> cases[] = {
      {"no records", DescriptionBytes({}), 0, "records 0\n"},
      {"short", Bytes(one.begin(), one.begin() + 29), 1,
       "invalid length: 29 bytes is not 30 + 8 * N\n"},
      {"partial record", Bytes(one.begin(), one.begin() + 37), 1,
       "invalid length: 37 bytes is not 30 + 8 * N\n"},
      {"622 records", DescriptionBytes(std::vector<Record>(622)), 1,
       "invalid size-limit: 5006 bytes, more than 5000 (621 records)\n"},
      {"lower case", DescriptionBytes({}, "tavelon Translator - Update"), 1,
       header},
      {"zero in header",
       DescriptionBytes({}, std::string("Tavelon Translator - Updat") + '\0'),
       1, header},
      {"missing", {}, 1, unopened},
  };
  for (const auto& [name, bytes, code, out] : cases) {
    SCOPED_TRACE(name);
    const std::string file = bytes.empty() ? missing : Write("info.tmp", bytes);
    const Outcome shown = Run({"show", file});
    EXPECT_EQ(shown.code, code);
    EXPECT_EQ(shown.out, out);
    EXPECT_EQ(shown.err, "");
    // check reads the description as show does, and goes on when valid.
    const Outcome checked = Run({"check", file, folder_.PathOf("none")});
    EXPECT_EQ(checked.code, code);
    EXPECT_EQ(code == 0 ? checked.out.substr(0, out.size()) : checked.out, out);
  }
}

// Comments, blank lines, CR LF, tabs, hex and decimal, the extreme indices
// and values; the made file shows the listed records. An existing file is
// replaced only when forced; a list holds at most 621 records.
TEST_F(TavpatchTest, MakeWritesTheHeaderZerosAndRecords) {
  const std::string list =
      WriteText("list.txt",
                "# section entry value\r\n"
                "0 0 0x11111111\r\n"
                "\n"
                "   -1\t-32768   0   # the smallest indices\n"
                "32767 0x7FFF 4294967295\n"
                "100 -2 0x00010203\n"
                "-25 65 4000000000\n"
                "0x0 00 0xcafeBABE");
  const std::string output = folder_.PathOf("info.tmp");
  const Outcome made = Run({"make", list, "-o", output});
  EXPECT_EQ(made.code, 0);
  EXPECT_EQ(made.out, "records 6\nwrote " + output + "\n");
  const Bytes written = test_support::ReadBytes(output);
  ASSERT_EQ(written.size(), 30u + 8u * 6u);
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 30),
            DescriptionBytes({}, "Tavelon Translator - Update",
                             std::string(3, '\0')));
  EXPECT_EQ(Run({"show", output}).out,
            "records 6\n"
            "record 0 section 0 entry 0 value 0x11111111\n"
            "record 1 section -1 entry -32768 value 0x00000000\n"
            "record 2 section 32767 entry 32767 value 0xFFFFFFFF\n"
            "record 3 section 100 entry -2 value 0x00010203\n"
            "record 4 section -25 entry 65 value 0xEE6B2800\n"
            "record 5 section 0 entry 0 value 0xCAFEBABE check\n");

  std::string text = "# header line\n";
  for (int i = 0; i < 621; ++i) text += std::to_string(i) + " 1 2\n";
  WriteText("list.txt", text);
  const Outcome refused = Run({"make", list, "-o", output});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.out, output + ": exists; give --force to replace it\n");
  EXPECT_EQ(test_support::ReadBytes(output), written);

  ASSERT_EQ(Run({"make", "--force", list, "-o", output}).code, 0);
  const Bytes longest = test_support::ReadBytes(output);
  EXPECT_EQ(longest.size(), 30u + 8u * 621u);
  EXPECT_EQ(Run({"show", output}).code, 0);

  WriteText("list.txt", text + "\n7 7 7\n8 8 8\n");
  const Outcome too_long = Run({"make", list, "-o", output, "--force"});
  EXPECT_EQ(too_long.code, 1);
  EXPECT_EQ(too_long.out, list +
                              ":624: more than 621 records; an update "
                              "description holds at most 621\n");
  EXPECT_EQ(test_support::ReadBytes(output), longest);
}

TEST_F(TavpatchTest, MakeRefusesABadLineWithItsNumberAndWritesNothing) {
  const std::string fields =
      "expected three numbers (section entry value), found ";
  std::vector<std::pair<std::string, std::string>> cases = {
      {"1 2", fields + "2 fields"},
      {"1 2 3 4", fields + "4 fields"},
      {"0,0,1", fields + "1 field"},
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
      {"0 0 12ab", "value \"12ab\" is not a number"},
  };
  for (const std::string section : {"x", "0x", "-0x1", "+1", "-", "1e3"}) {
    cases.push_back(
        {section + " 0 0", "section \"" + section + "\" is not a number"});
  }
  const std::string output = folder_.PathOf("info.tmp");
  for (const auto& [line, message] : cases) {
    SCOPED_TRACE(line);
    const std::string list = WriteText(
        "list.txt", "# a list\n1 2 3\n" + line + "  # the bad one\n4 5 6\n");
    const Outcome made = Run({"make", list, "-o", output});
    EXPECT_EQ(made.code, 1);
    EXPECT_EQ(made.out, list + ":3: " + message + "\n");
    EXPECT_FALSE(std::filesystem::exists(output));
  }

  // Every bad line is named.
  const std::string list = WriteText("list.txt", "1\n2 2 2\n3 3 x\n");
  EXPECT_EQ(Run({"make", list, "-o", output}).out,
            list + ":1: " + fields + "1 field\n" + list +
                ":3: value \"x\" is not a number\n");
}

// A usage error goes to the standard error and makes nothing; help goes to
// the standard output.
TEST_F(TavpatchTest, UsageErrorsExitWithTwoAndHelpWithZero) {
  test_support::CurrentDirectoryGuard inside(folder_.path());
  WriteText("list.txt", "1 2 3\n");
  // The help each shows; none for a usage error.
  std::vector<std::pair<std::string, const char*>> cases = {
      {"--help", "usage: tavpatch COMMAND"},
      {"-h", "usage: tavpatch COMMAND"},
      {"show --help", "usage: tavpatch show FILE\n"},
      {"check x --help", "usage: tavpatch check FILE FOLDER\n"},
      {"make --help", "usage: tavpatch make LIST -o FILE [--force]\n"}};
  for (const char* line :
       {"", "frobnicate", "show", "show a b", "show --force a", "check a",
        "check a b c", "make list.txt", "make list.txt -o",
        "make list.txt -o x -o y", "make list.txt x -o y",
        "make list.txt -x -o y"}) {
    cases.push_back({line, nullptr});
  }
  for (const auto& [line, help] : cases) {
    SCOPED_TRACE(line);
    std::istringstream words(line);
    std::vector<std::string> arguments;
    for (std::string word; words >> word;) arguments.push_back(word);
    const Outcome outcome = Run(arguments);
    EXPECT_EQ(outcome.code, help == nullptr ? 2 : 0);
    const std::string& shown = help == nullptr ? outcome.err : outcome.out;
    EXPECT_EQ(shown.rfind(help == nullptr ? "tavpatch" : help, 0), 0u);
    EXPECT_EQ(help == nullptr ? outcome.out : outcome.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists("x"));
  EXPECT_FALSE(std::filesystem::exists("y"));
}

// An installation with one case per language, to compare the dry run with
// the patcher's real run on the same files.
class TavpatchCheckTest : public TavpatchTest {
 protected:
  TavpatchCheckTest() {
    std::filesystem::create_directories(data_folder());
    description_ = Write("info.tmp", DescriptionBytes({{0, 0, 0x11111111u},
                                                       {1, 3, 0x22222222u},
                                                       {4, 9, 0x33333333u},
                                                       {2, 5, 0xCAFEBABEu}}));
  }

  std::string installation() const { return folder_.PathOf("Translator"); }
  std::filesystem::path data_folder() const {
    return folder_.path() / "Translator" / "data";
  }
  std::string Shown(const std::string& name) const {
    return SystemPath(installation() + "\\data\\" + name);
  }
  void WriteDictionary(const std::string& name, const Bytes& bytes) {
    test_support::WriteBytes(data_folder() / name, bytes);
  }

  // Every file of the data folder with its bytes and modification time,
  // set an hour back first when `age`, so that any write would show.
  using Snapshot =
      std::map<std::string, std::pair<Bytes, std::filesystem::file_time_type>>;
  Snapshot TakeSnapshot(bool age) {
    Snapshot files;
    for (const auto& item :
         std::filesystem::directory_iterator(data_folder())) {
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
    std::map<std::string, Bytes> after;
    std::vector<std::string> predicted;
    for (const LanguageCheck& language : check.languages) {
      const bool stopped =
          language.outcome == patch::DictionaryOutcome::kStopped;
      if (stopped || language.outcome == patch::DictionaryOutcome::kRefused) {
        predicted.push_back(std::string(stopped ? expected::kSeekError
                                                : expected::kCannotOpen) +
                            " | " + language.path +
                            " | 48");  // MB_OK | MB_ICONWARNING
      }
      if (language.dry_run.writes.empty()) continue;
      Bytes bytes = test_support::ReadBytes(SystemPath(language.path));
      for (const OverlayFile::Written& write : language.dry_run.writes) {
        std::copy(write.bytes.begin(), write.bytes.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(write.position));
      }
      after[language.path] = bytes;
    }
    boxes_.boxes.clear();
    EXPECT_EQ(check.updater_result, Patch(files));
    for (const auto& [path, bytes] : after) {
      EXPECT_EQ(test_support::ReadBytes(SystemPath(path)), bytes) << path;
    }
    std::vector<std::string> shown;
    for (const fakes::RecordedBox& box : boxes_.boxes) {
      shown.push_back(box.text + " | " + box.caption + " | " +
                      std::to_string(box.flags));
    }
    EXPECT_EQ(shown, predicted);
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
  // The first record's entry element (998) ends past the end; the name in
  // other letter case.
  WriteDictionary("ENGTOSPA.DIC", StandardDictionary().Section(0, 998).bytes());
  const Snapshot before = TakeSnapshot(true);
  const auto line = [&](const std::string& text, const char* name) {
    return text + " " + Shown(name) + "\n";
  };

  // Without records the updater opens no dictionary.
  const Outcome empty =
      Run({"check", Write("empty.tmp", DescriptionBytes({})), installation()});
  EXPECT_EQ(empty.code, 0);
  EXPECT_NE(empty.out.find(line("\nEng not-opened", "engtoEng.dic") +
                           line("Dut not-opened", "engtoDut.dic")),
            std::string::npos);
  EXPECT_NE(empty.out.find("\nupdater-result 3\nproblems 0\n"),
            std::string::npos);

  const Outcome dry_run = Run({"check", description_, installation()});
  EXPECT_EQ(dry_run.code, 1);
  EXPECT_EQ(dry_run.out,
            "records 4\n" + line("data-folder", "") +
                line("Eng applied", "engtoEng.dic") + "Eng heals yes\n" +
                line("Dut already-patched", "engtoDut.dic") +
                line("Fre stopped record 2 out-of-bounds item-value position "
                     "746 bound 0..696 length 700",
                     "engtoFre.dic") +
                "Fre heals yes\n" + line("Ger applied", "engtoGer.dic") +
                "Ger heals no: record 2 writes the table element that record "
                "0 reads at position 100\n" +
                line("Heb stopped record 1 out-of-bounds item-value position "
                     "286331154 bound 0..996 length 1000",
                     "engtoHeb.dic") +
                "Heb heals yes\n" + line("Ita unwritable", "engtoIta.dic") +
                line("Jpn applied", "engtojap.dic") + "Jpn heals yes\n" +
                line("Ptg stopped record 0 out-of-bounds section-element "
                     "position 100 bound none length 2",
                     "engtoPtg.dic") +
                "Ptg heals yes\n" +
                line("Spa stopped record 0 out-of-bounds entry-element "
                     "position 998 bound 0..996 length 1000",
                     "engtoSpa.dic") +
                "Spa heals yes\nupdater-result 0\nproblems 6\n");

  // The data folder itself, with or without its final separator, gives the
  // same check.
  const std::string data = Shown("");
  for (const std::string& folder : {data, data.substr(0, data.size() - 1)}) {
    EXPECT_EQ(Run({"check", description_, folder}).out, dry_run.out) << folder;
  }
  const FolderCheck check = CheckFolder(
      platform::SystemFiles(), description_.c_str(), installation().c_str());
  EXPECT_TRUE(TakeSnapshot(false) == before);

  fakes::FaultFiles files(platform::SystemFiles());
  ExpectAgreement(check, files);
  EXPECT_EQ(files.OpenHandles(), 0u);

  // Now every file that took all records is patched; the rest stays as it
  // was, so a second dry run and a second run agree again.
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
  // What the case shows, the file, the records, what the dry run says:
  // verdict, writer, reader, position, cut_after.
  const std::tuple<const char*, Bytes, std::vector<Record>, Healing> cases[] = {
      {"the first record steers the third, which is allowed",
       StandardDictionary().Entry(200, 0, 251).bytes(),
       {{0, 0, 600}, {2, 2, 0xAAAA}, {1, 3, 0xBBBB}, {3, 1, 0xCAFE}},
       {}},
      {"the third record writes the section element the first reads",
       StandardDictionary().Entry(360, 9, 99).bytes(),
       {{0, 0, 1}, {1, 3, 2}, {4, 9, 3}, {2, 5, 0xCAFEBABE}},
       {Verdict::kWritesWhatIsRead, 2, 0, 100, 0}},
      {"a record writes its own entry element",
       StandardDictionary().Entry(240, 3, 251).bytes(),
       {{0, 0, 5}, {1, 3, 0x0300}, {2, 5, 0xCAFEBABE}},
       {Verdict::kWritesWhatIsRead, 1, 1, 252, 0}},
      {"writes that leave the bytes as they were: a record's own entry "
       "element, the check record's section element",
       StandardDictionary().Entry(200, 0, 107).Entry(240, 3, 251).bytes(),
       {{0, 0, 280}, {1, 3, 251}, {2, 5, 0xCAFEBABE}},
       {}},
      {"after the first record the check record finds its value",
       StandardDictionary().Entry(200, 0, 299).Item(900, 0xCAFEBABE).bytes(),
       {{0, 0, 900}, {1, 3, 0x2222}, {2, 5, 0xCAFEBABE}},
       {Verdict::kTakenAsPatched, 0, 0, 0, 0}},
      {"the third record points the check record's entry at the value the "
       "first wrote: a file without the second's write passes the check",
       StandardDictionary().Entry(280, 5, 323).bytes(),
       {{0, 0, 0xCAFEBABE}, {1, 3, 0x2222}, {2, 5, 500}, {3, 1, 0xCAFEBABE}},
       {Verdict::kWritesCheckLookup, 2, 0, 324, 0}},
  };
  const auto fields = [](const Healing& healing) {
    return std::make_tuple(static_cast<int>(healing.verdict), healing.writer,
                           healing.reader, healing.position, healing.cut_after);
  };
  // The installation "T" in memory, with the description as "info.tmp".
  constexpr char kPath[] = "T\\data\\engtoEng.dic";
  const auto install = [&](const std::vector<Record>& records,
                           const Bytes& dictionary) {
    fakes::MemoryFiles memory;
    memory.Add("info.tmp", DescriptionBytes(records));
    memory.Add(kPath, dictionary);
    return memory;
  };
  // The bytes after a whole run of the patcher, and where it wrote, in order.
  const auto patch_in_memory = [&](const std::vector<Record>& records,
                                   const Bytes& dictionary,
                                   std::vector<std::int64_t>* written) {
    fakes::MemoryFiles memory = install(records, dictionary);
    fakes::FaultFiles files(memory);
    fakes::BoxRecorder boxes;
    update::PatchDictionariesWithWarnings(files, boxes, "T\\");
    for (const auto& access : files.accesses()) {
      if (access.operation == fakes::FaultFiles::Operation::kWrite &&
          written != nullptr) {
        written->push_back(access.position);
      }
    }
    return *memory.Find(kPath);
  };
  for (const auto& [what, dictionary, records, healing] : cases) {
    SCOPED_TRACE(what);
    fakes::MemoryFiles memory = install(records, dictionary);
    fakes::FaultFiles files(memory);
    const FolderCheck check = CheckFolder(files, "info.tmp", "T");
    EXPECT_EQ(files.Calls(fakes::FaultFiles::Operation::kWrite), 0);
    EXPECT_EQ(fields(check.languages.at(0).dry_run.healing), fields(healing));

    std::vector<std::int64_t> written;
    const Bytes whole = patch_in_memory(records, dictionary, &written);
    ASSERT_NE(whole, dictionary);
    // Bit k of `reached`: write k is on the disk. The check record's write
    // (the last) only with all the others.
    const std::size_t before_flush =
        written.size() - (written.size() == records.size() ? 1 : 0);
    bool every_cut_heals = true;
    for (unsigned reached = 0; reached <= 1u << before_flush; ++reached) {
      Bytes cut = dictionary;
      for (std::size_t k = 0; k < written.size(); ++k) {
        if ((reached >> k & 1) == 0 && reached != 1u << before_flush) continue;
        test_support::PutUint32(cut, static_cast<std::size_t>(written[k]),
                                records[k].value);
      }
      every_cut_heals =
          every_cut_heals && patch_in_memory(records, cut, nullptr) == whole;
    }
    EXPECT_EQ(every_cut_heals, healing.verdict == Verdict::kHeals);
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
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit = {rlim_t{256} << 20, rlim_t{256} << 20};
    setrlimit(RLIMIT_AS, &limit);
    const Outcome outcome = Run({"check", description_, installation()});
    std::fputs(outcome.out.c_str(), stderr);
    const std::string applied =
        "\nEng applied " + Shown("engtoEng.dic") + "\nEng heals yes\n";
    _exit(outcome.code == 0 && outcome.out.find(applied) != std::string::npos
              ? 0
              : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status))
      << "the check died (signal " << WTERMSIG(status) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the check did not apply the records";
  EXPECT_EQ(std::filesystem::file_size(huge), std::uintmax_t{3} << 29);
}
#endif

// The dry run reads the files itself: a length that cannot be measured or
// a read that fails there is a stop, a problem, as it is for the updater,
// which warns and leaves the file as it was.
TEST_F(TavpatchCheckTest, AFileOperationFailingInTheDryRunIsAProblem) {
  using Operation = fakes::FaultFiles::Operation;
  // The fault, the line of the language it stops.
  const std::pair<void (*)(fakes::FaultFiles&), const char*> cases[] = {
      {[](fakes::FaultFiles& files) { files.ReportLength(-1, "engtoEng.dic"); },
       "\nEng stopped record 0 out-of-bounds section-element position 100 "
       "bound none length -1 "},
      // The description's read, the three of the check test, then the first
      // of the records.
      {[](fakes::FaultFiles& files) { files.FailCall(Operation::kRead, 5); },
       "\nEng stopped record 0 access-failed section-element position 100 "},
  };
  const Bytes original = StandardDictionary().bytes();
  for (const auto& [inject, stop] : cases) {
    SCOPED_TRACE(stop);
    WriteDictionary("engtoEng.dic", original);
    WriteDictionary("engtoGer.dic", original);
    fakes::FaultFiles files(platform::SystemFiles());
    fakes::FaultFiles for_check(platform::SystemFiles());
    fakes::FaultFiles for_patch(platform::SystemFiles());
    for (fakes::FaultFiles* each : {&files, &for_check, &for_patch}) {
      inject(*each);
    }
    const Outcome dry_run = Run({"check", description_, installation()}, files);
    EXPECT_EQ(dry_run.code, 1);
    for (const std::string line : {stop, "\nGer applied ", "\nproblems 1\n"}) {
      EXPECT_NE(dry_run.out.find(line), std::string::npos) << dry_run.out;
    }
    EXPECT_EQ(files.Calls(Operation::kWrite), 0);
    EXPECT_EQ(files.OpenHandles(), 0u);

    ExpectAgreement(
        CheckFolder(for_check, description_.c_str(), installation().c_str()),
        for_patch);
    EXPECT_EQ(test_support::ReadBytes(data_folder() / "engtoEng.dic"),
              original);
  }
}

}  // namespace
}  // namespace tavelon::tavpatch
