#include "patch/dictionary_patcher.h"
#include "update/dictionary_warnings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tests/support/box_recorder.h"
#include "tests/support/dictionary_builder.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"
#include "tests/support/temp_folder.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tavelon::patch {
namespace {

using expected::kWarningFlags;

using fakes::FaultFiles;
using test_support::Bytes;
using test_support::DescriptionBytes;
using test_support::DictionaryBuilder;
using test_support::GetUint32;
using test_support::Model;
using test_support::Record;

// The standard dictionary: 1000 bytes, sections 0 to 4 with entry tables
// of 10 entries at 200 + 40 s, item e of section s at 500 + 50 s + 5 e.
constexpr test_support::DictionaryLayout kLayout;
DictionaryBuilder StandardDictionary() { return kLayout.Build(); }
std::size_t ItemValueAt(int s, int e) { return kLayout.ValueAt(s, e); }

const std::vector<Record> kRecords = {{0, 0, 0x11111111u},
                                      {1, 3, 0x22222222u},
                                      {4, 9, 0x33333333u},
                                      {2, 5, 0xCAFEBABEu}};

class DictionaryPatcherTest : public ::testing::Test {
 protected:
  DictionaryPatcherTest() : guard_(folder_.path()) {
    std::filesystem::create_directories(data_folder());
    installation_ = folder_.PathOf("Tavelon Translator") + "\\";
  }

  std::filesystem::path data_folder() const {
    return folder_.path() / "Tavelon Translator" / "data";
  }
  // The path as the patcher forms it, which is the warnings' caption.
  std::string PathOf(const std::string& code) const {
    return installation_ + "data\\engto" + code + ".dic";
  }

  void WriteInfo(const std::vector<Record>& records) {
    test_support::WriteBytes(folder_.path() / "info.tmp",
                             DescriptionBytes(records));
  }
  void WriteDictionary(const std::string& name, const Bytes& bytes) {
    test_support::WriteBytes(data_folder() / name, bytes);
  }
  Bytes Dictionary(const std::string& name) const {
    return test_support::ReadBytes(data_folder() / name);
  }

  // Runs the patcher over the real files through a recording decorator,
  // which `setup` may arrange to fail a call; checks that every file was
  // closed.
  PatchResult Run(const std::function<void(FaultFiles&)>& setup = {}) {
    files_ = std::make_unique<FaultFiles>(platform::SystemFiles());
    boxes_.boxes.clear();
    if (setup) setup(*files_);
    const PatchResult result = update::PatchDictionariesWithWarnings(
        *files_, boxes_, installation_.c_str());
    EXPECT_EQ(files_->OpenHandles(), 0u);
    EXPECT_EQ(files_->BadHandleCalls(), 0);
    return result;
  }

  void ExpectSeekWarning(const std::string& code) {
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].text, "Seek error in this file. Skipping...");
    EXPECT_EQ(boxes_.boxes[0].caption, PathOf(code));
    EXPECT_EQ(boxes_.boxes[0].flags, kWarningFlags);
  }

  test_support::TempFolder folder_;
  test_support::CurrentDirectoryGuard guard_;
  std::string installation_;
  std::unique_ptr<FaultFiles> files_;
  fakes::BoxRecorder boxes_;
};

// Each record is written where its lookup through the file's current
// tables leads, as the model works out, the check record's value last,
// after a flush of the others; a record that leads out of the file stops
// it with a warning, the earlier ones written. Run again, a whole update
// finds its check value in place; a stopped one goes through the file
// again.
TEST_F(DictionaryPatcherTest, WritesEachRecordWhereItsLookupLeads) {
  // Section -1 uses the element at 96, section -25 the one at 0; entry -1
  // the element before the table; an entry table at -4 with entry 2 gives
  // 4, an item at -1 gives the value at 0.
  DictionaryBuilder signed_tables(1000);
  signed_tables.Section(-1, 300).Entry(300, -1, 600);
  signed_tables.Section(-25, 320).Entry(320, 2, 700);
  signed_tables.Section(3, -4).Put(4, 800);
  signed_tables.Section(4, 340).Entry(340, 0, -1);
  // Record 0 writes 700 over entry 1 of the table at 200; record 1, also the
  // check record, then goes through it to the item at 700. Before the patch
  // the check record's chain leads past the end: simply not patched.
  DictionaryBuilder steered(1000);
  steered.Section(0, 200).Entry(200, 0, 203).Entry(200, 1, 5000);
  std::vector<Record> stopping = kRecords;
  stopping.insert(stopping.begin() + 2, Record{0, 300, 0x77777777u});
  const Bytes standard = StandardDictionary().bytes();
  struct Case {
    const char* what;
    const char* file;
    const char* code;
    Bytes bytes;
    std::vector<Record> records;
    std::vector<std::pair<std::size_t, std::uint32_t>> values;
    bool without_backslash = false;
  } const cases[] = {
      // clang-format off
      {"through the tables", "engtoGer.dic", "Ger", standard, kRecords,
       {{ItemValueAt(1, 3), 0x22222222u}, {ItemValueAt(4, 9), 0x33333333u}}},
      {"no final backslash, a name in capitals", "ENGTOSPA.DIC", "Spa",
       standard, kRecords, {}, true},
      {"signed indices and table values", "engtoEng.dic", "Eng",
       signed_tables.bytes(),
       {{-1, -1, 0xA1A2A3A4u}, {-25, 2, 0xB1B2B3B4u}, {3, 2, 0xC1C2C3C4u},
        {4, 0, 0xD1D2D3D4u}},
       {{601, 0xA1A2A3A4u}, {701, 0xB1B2B3B4u}, {801, 0xC1C2C3C4u},
        {0, 0xD1D2D3D4u}}},
      {"an earlier record steers a later one", "engtoFre.dic", "Fre",
       steered.bytes(), {{0, 0, 700}, {0, 1, 0x5A5A5A5Au}},
       {{204, 700u}, {701, 0x5A5A5A5Au}}},
      {"a later record leads out of the file", "engtoHeb.dic", "Heb",
       standard, stopping, {{ItemValueAt(1, 3), 0x22222222u}}},
      // clang-format on
  };

  const std::string installation = installation_;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(data_folder());
    std::filesystem::create_directories(data_folder());
    installation_ = installation;
    if (c.without_backslash) installation_.pop_back();
    WriteDictionary(c.file, c.bytes);
    WriteInfo(c.records);
    const test_support::PatchModel model = Model(c.bytes, c.records);

    EXPECT_EQ(Run(), kSomeDictionaryPatched);
    const Bytes patched = Dictionary(c.file);
    EXPECT_EQ(patched, model.bytes);
    for (const auto& [at, value] : c.values) {
      EXPECT_EQ(GetUint32(patched, at), value) << at;
    }
    if (model.stopped) {
      ExpectSeekWarning(c.code);
    } else {
      EXPECT_TRUE(boxes_.boxes.empty());
      std::string writes;
      for (const FaultFiles::Access& access : files_->accesses()) {
        if (access.operation == FaultFiles::Operation::kWrite) writes += 'W';
        if (access.operation == FaultFiles::Operation::kFlush) writes += 'F';
      }
      EXPECT_EQ(writes, std::string(c.records.size() - 1, 'W') + "FW");
    }

    EXPECT_EQ(Run(),
              model.stopped ? kSomeDictionaryPatched : kNoDictionaryPatched);
    EXPECT_EQ(Dictionary(c.file), patched);
    if (!model.stopped) {
      EXPECT_EQ(files_->Calls(FaultFiles::Operation::kWrite), 0);
    }
  }
}

// The four bytes looked up or written must lie within the file as opened.
TEST_F(DictionaryPatcherTest, BoundsAtTheEndOfTheFile) {
  // One record (section, entry) leading through the entry table at `table`
  // to the item at `item`; the elements are placed where they fit.
  struct Case {
    const char* name;
    std::size_t length;
    std::int16_t section;
    std::int32_t table;
    std::int16_t entry;
    std::int32_t item;
    std::int64_t written_at;  // -1: out of bounds, nothing written
  };
  const std::int32_t kMin = -2147483647 - 1;
  const std::vector<Case> cases = {
      {"section element ends at the end", 1000, 224, 200, 0, 500, 501},
      {"section element one byte past", 999, 224, 200, 0, 500, -1},
      {"section element at the end", 1000, 225, 200, 0, 500, -1},
      {"section index -26", 1000, -26, 200, 0, 500, -1},
      {"entry element ends at the end", 1000, 0, 900, 24, 500, 501},
      {"entry element one byte past", 1000, 0, 997, 0, 500, -1},
      {"entry table past 2 GiB", 1000, 0, 0x7FFFFFFF, 32767, 500, -1},
      {"entry table at -2 GiB", 1000, 0, kMin, 32767, 500, -1},
      {"item value ends at the end", 1000, 0, 200, 0, 995, 996},
      {"item value one byte past", 1000, 0, 200, 0, 996, -1},
      {"item value at the end", 1000, 0, 200, 0, 999, -1},
      {"item value before the start", 1000, 0, 200, 0, -2, -1},
  };
  const std::uint32_t value = 0x01020304u;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DictionaryBuilder builder(c.length);
    const std::int64_t section_at = 100 + 4 * c.section;
    const std::int64_t entry_at = std::int64_t{c.table} + 4 * c.entry;
    if (builder.Fits(section_at)) builder.Section(c.section, c.table);
    if (builder.Fits(entry_at)) builder.Entry(c.table, c.entry, c.item);
    const Bytes original = builder.bytes();
    WriteDictionary("engtoGer.dic", original);
    WriteInfo({{c.section, c.entry, value}});

    EXPECT_EQ(Run(), kSomeDictionaryPatched);
    const Bytes patched = Dictionary("engtoGer.dic");
    ASSERT_EQ(patched.size(), c.length);
    EXPECT_EQ(patched, Model(original, {{c.section, c.entry, value}}).bytes);
    if (c.written_at >= 0) {
      EXPECT_EQ(GetUint32(patched, static_cast<std::size_t>(c.written_at)),
                value);
      EXPECT_TRUE(boxes_.boxes.empty());
    } else {
      EXPECT_EQ(patched, original);
      ExpectSeekWarning("Ger");
      // Refused as out of bounds, not tried and failed: tavpatch tells the
      // two apart.
      fakes::MemoryFiles memory;
      memory.Add("d", original);
      platform::FileHandle file = 0;
      memory.OpenExisting("d", platform::FileAccess::kReadWrite, &file);
      PatchDescription description{};
      description.records[0] = {c.section, c.entry, {4, 3, 2, 1}};
      description.count = 1;
      EXPECT_EQ(PatchDictionaryFile(memory, file, description).outcome,
                FileOutcome::kOutOfBounds);
    }
  }
}

TEST_F(DictionaryPatcherTest, TriesTheNineLanguagesInOrderAndNoOthers) {
  const Bytes original = StandardDictionary().bytes();
  for (const char* code : {"Ar_", "Ko_", "Sw_"}) {
    WriteDictionary(std::string("engto") + code + ".dic", original);
  }
  WriteInfo(kRecords);

  // Files of languages that have none do not count as found.
  EXPECT_EQ(Run(), kNoDictionaryFound);
  EXPECT_TRUE(boxes_.boxes.empty());
  std::vector<std::string> expected = {"info.tmp"};
  for (const char* code :
       {"Eng", "Dut", "Fre", "Ger", "Heb", "Ita", "Jpn", "jap", "Ptg", "Spa"}) {
    expected.push_back(PathOf(code));
  }
  EXPECT_EQ(files_->OpenedPaths(), expected);
  for (const auto& call : files_->opens()) {
    if (call.path != "info.tmp") {
      EXPECT_EQ(call.access, platform::FileAccess::kReadWrite);
    }
  }
  EXPECT_EQ(Dictionary("engtoKo_.dic"), original);
}

TEST_F(DictionaryPatcherTest, JapaneseFallsBackToJapOnlyWhenJpnIsMissing) {
  const Bytes original = StandardDictionary().bytes();
  WriteDictionary("engtojap.dic", original);
  WriteInfo(kRecords);
  EXPECT_EQ(Run(), kSomeDictionaryPatched);
  EXPECT_EQ(Dictionary("engtojap.dic"), Model(original, kRecords).bytes);

  WriteDictionary("engtojap.dic", original);
  WriteDictionary("engtoJpn.dic", original);
  EXPECT_EQ(Run(), kSomeDictionaryPatched);
  EXPECT_EQ(Dictionary("engtoJpn.dic"), Model(original, kRecords).bytes);
  EXPECT_EQ(Dictionary("engtojap.dic"), original);
  for (const std::string& path : files_->OpenedPaths()) {
    EXPECT_NE(path, PathOf("jap"));
  }

  // A warning about the fallback file is captioned with its own path.
  std::filesystem::remove(data_folder() / "engtoJpn.dic");
  WriteInfo({{0, 0, 1}, {0, 500, 2}});
  EXPECT_EQ(Run(), kSomeDictionaryPatched);
  ExpectSeekWarning("jap");
}

// A file that exists but cannot be opened for writing, or is not the data
// folder's own file (a link to a file elsewhere), is not updated, and the
// user is told; a missing one is passed over in silence. When every file
// found is refused, or none is found, the result says so.
TEST_F(DictionaryPatcherTest, UnwritableFileIsReported) {
  enum Kind { kFolder, kFile, kHardLink, kSymbolicLink, kPatched };
  struct Case {
    const char* name;
    std::vector<std::pair<Kind, const char*>> dictionaries;
    const char* caption;  // nullptr: no warning
    PatchResult result;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"none at all", {}, nullptr, kNoDictionaryFound},
      {"folder of that name", {{kFolder, "engtoGer.dic"}}, "Ger",
       kEveryDictionaryRefused},
      {"others still patched", {{kFolder, "engtoGer.dic"},
       {kFile, "engtoSpa.dic"}}, "Ger", kSomeDictionaryPatched},
      {"another already patched", {{kFolder, "engtoGer.dic"},
       {kPatched, "engtoSpa.dic"}}, "Ger", kNoDictionaryPatched},
      {"Jpn unwritable, jap patched", {{kFolder, "engtoJpn.dic"},
       {kFile, "engtojap.dic"}}, nullptr, kSomeDictionaryPatched},
      {"Jpn missing, jap unwritable", {{kFolder, "engtojap.dic"}}, "jap",
       kEveryDictionaryRefused},
      {"both unwritable", {{kFolder, "engtoJpn.dic"},
       {kFolder, "engtojap.dic"}}, "Jpn", kEveryDictionaryRefused},
      {"hard link", {{kHardLink, "engtoGer.dic"}}, "Ger",
       kEveryDictionaryRefused},
      {"hard link beside a file", {{kHardLink, "engtoGer.dic"},
       {kFile, "engtoSpa.dic"}}, "Ger", kSomeDictionaryPatched},
#if !defined(_WIN32)
      {"symbolic link", {{kSymbolicLink, "engtoGer.dic"}}, "Ger",
       kEveryDictionaryRefused},
#endif
  };
  // clang-format on
  const std::filesystem::path elsewhere = folder_.path() / "victim.dat";
  const Bytes original = StandardDictionary().bytes();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(data_folder());
    std::filesystem::create_directories(data_folder());
    test_support::WriteBytes(elsewhere, original);
    for (const auto& [kind, name] : c.dictionaries) {
      const std::filesystem::path path = data_folder() / name;
      if (kind == kFolder) std::filesystem::create_directory(path);
      if (kind == kFile) WriteDictionary(name, original);
      if (kind == kPatched)
        WriteDictionary(name, Model(original, kRecords).bytes);
      if (kind == kHardLink) std::filesystem::create_hard_link(elsewhere, path);
      if (kind == kSymbolicLink)
        std::filesystem::create_symlink(elsewhere, path);
    }
    WriteInfo(kRecords);

    EXPECT_EQ(Run(), c.result);
    EXPECT_EQ(test_support::ReadBytes(elsewhere), original);
    if (c.caption == nullptr) {
      EXPECT_TRUE(boxes_.boxes.empty());
    } else {
      ASSERT_EQ(boxes_.boxes.size(), 1u);
      EXPECT_EQ(boxes_.boxes[0].text,
                "Cannot open this file for writing. Skipping...");
      EXPECT_EQ(boxes_.boxes[0].caption, PathOf(c.caption));
      EXPECT_EQ(boxes_.boxes[0].flags, kWarningFlags);
    }
  }
}

#if defined(_WIN32)
TEST_F(DictionaryPatcherTest, FileHeldWithoutWriteSharingIsReported) {
  const Bytes original = StandardDictionary().bytes();
  WriteDictionary("engtoDut.dic", original);
  WriteInfo(kRecords);
  const std::string path = (data_folder() / "engtoDut.dic").string();
  const HANDLE held =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const PatchResult result = Run();
  CloseHandle(held);

  // The only dictionary found was refused.
  EXPECT_EQ(result, kEveryDictionaryRefused);
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].text,
            "Cannot open this file for writing. Skipping...");
  EXPECT_EQ(boxes_.boxes[0].caption, PathOf("Dut"));
  EXPECT_EQ(Dictionary("engtoDut.dic"), original);
}
#endif

// Without a usable description, without records, or in a folder too long
// for any dictionary path, no dictionary is opened and nothing is shown.
TEST_F(DictionaryPatcherTest, OpensNoDictionaryWithNothingToWrite) {
  Bytes invalid = DescriptionBytes(kRecords);
  invalid.pop_back();
  const struct {
    const char* what;
    Bytes description;  // empty: no info.tmp
    bool long_folder;
    PatchResult result;
  } cases[] = {
      {"no info.tmp", {}, false, kDescriptionUnreadable},
      {"invalid info.tmp", invalid, false, kDescriptionUnreadable},
      {"no records", DescriptionBytes({}), false, kNoDictionaryPatched},
      {"folder too long", DescriptionBytes(kRecords), true, kNoDictionaryFound},
  };
  const Bytes original = StandardDictionary().bytes();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteDictionary("engtoEng.dic", original);
    std::filesystem::remove(folder_.path() / "info.tmp");
    if (!c.description.empty()) {
      test_support::WriteBytes(folder_.path() / "info.tmp", c.description);
    }
    if (c.long_folder) installation_ = "C:\\" + std::string(240, 'x') + "\\";
    EXPECT_EQ(Run(), c.result);
    EXPECT_EQ(files_->OpenedPaths(), std::vector<std::string>{"info.tmp"});
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_EQ(Dictionary("engtoEng.dic"), original);
  }
}

TEST(DictionaryPathTest, PathsUpTo255Characters) {
  char data_folder[kPathBufferSize];
  char path[kPathBufferSize];
  ASSERT_TRUE(MakeDataFolder("D:\\Apps\\Trans\\", data_folder));
  EXPECT_STREQ(data_folder, "D:\\Apps\\Trans\\data\\");
  ASSERT_TRUE(MakeDataFolder("D:\\Apps\\Trans", data_folder));
  EXPECT_STREQ(data_folder, "D:\\Apps\\Trans\\data\\");
  ASSERT_TRUE(MakeDataFolder("", data_folder));
  EXPECT_STREQ(data_folder, "\\data\\");
  ASSERT_TRUE(MakeDictionaryPath("D:\\Apps\\Trans\\data\\", "Ger", path));
  EXPECT_STREQ(path, "D:\\Apps\\Trans\\data\\engtoGer.dic");

  // "data\" adds 5 characters and "engtoGer.dic" 12.
  const std::string folder238 = std::string(237, 'f') + "\\";
  ASSERT_TRUE(MakeDataFolder(folder238.c_str(), data_folder));
  ASSERT_TRUE(MakeDictionaryPath(data_folder, "Ger", path));
  EXPECT_EQ(std::string(path).size(), 255u);
  const std::string folder239 = std::string(238, 'f') + "\\";
  ASSERT_TRUE(MakeDataFolder(folder239.c_str(), data_folder));
  EXPECT_FALSE(MakeDictionaryPath(data_folder, "Ger", path));

  EXPECT_TRUE(MakeDataFolder(std::string(249, 'f').c_str(), data_folder));
  EXPECT_EQ(std::string(data_folder).size(), 255u);
  EXPECT_FALSE(MakeDataFolder(std::string(250, 'f').c_str(), data_folder));
}

}  // namespace
}  // namespace tavelon::patch
