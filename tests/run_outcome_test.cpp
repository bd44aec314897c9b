// What the user sees when something is wrong: whole update runs, each with
// one kind of bad input, checked for the message boxes, the exit code, and
// that nothing that was there before is lost or spoiled.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/dictionary_builder.h"
#include "tests/support/expected_texts.h"
#include "tests/support/whole_run.h"

namespace tavelon::update {
namespace {

using expected::kCannotOpen;
using expected::kCompleted;
using expected::kNotFound;
using expected::kSeekError;
using expected::kUnreadable;

using platform::RegistryRoot;
using test_support::Bytes;
using test_support::DescriptionBytes;
using test_support::DictionaryBuilder;
using test_support::kAppPathsKey;
using test_support::kRunEntryKey;
using test_support::Record;
using test_support::WholeRun;

// A dictionary of 600 bytes: sections 0 to 2, entry tables at 200 + 40 s,
// the item of entry e of section s at 400 + 40 s + 5 e.
Bytes CleanDictionary(std::size_t length = 600) {
  DictionaryBuilder builder(length);
  for (int s = 0; s < 3; ++s) {
    builder.Section(s, 200 + 40 * s);
    for (int e = 0; e < 5; ++e) {
      builder.Entry(200 + 40 * s, e, 400 + 40 * s + 5 * e);
    }
  }
  return builder.bytes();
}
std::size_t ValueAt(int section, int entry) {
  return static_cast<std::size_t>(400 + 40 * section + 5 * entry + 1);
}
const std::vector<Record> kRecords = {
    {0, 0, 0x11111111u}, {2, 4, 0x22222222u}, {1, 1, 0xC0FFEE00u}};
Bytes PatchedDictionary() {
  Bytes bytes = CleanDictionary();
  for (const Record& r : kRecords) {
    test_support::PutUint32(bytes, ValueAt(r.section, r.entry), r.value);
  }
  return bytes;
}

std::vector<std::string> Texts(const WholeRun& run) {
  std::vector<std::string> texts;
  for (const auto& box : run.boxes.boxes) texts.push_back(box.text);
  return texts;
}

// Everything a run that stops before changing anything must leave as it
// was: no file opened, no key written, no program started.
void ExpectNothingTouched(const WholeRun& run) {
  EXPECT_EQ(run.files.Calls(fakes::FaultFiles::Operation::kOpen), 0);
  EXPECT_EQ(run.registry.Calls(fakes::FakeRegistry::Operation::kCreateForSet),
            0);
  EXPECT_EQ(run.Option(), nullptr);
  EXPECT_TRUE(run.Starts().empty());
  EXPECT_TRUE(run.windows.closed.empty());
  EXPECT_EQ(run.registry.open_handles(), 0u);
}

TEST(BadInputTest, AnEmptyArgumentStopsBeforeAnything) {
  for (const char* command_line :
       {"TavelonUpdate.exe", "TavelonUpdate.exe   ", "TavelonUpdate.exe \t",
        "\"D:\\Update\\TavelonUpdate.exe\""}) {
    SCOPED_TRACE(command_line);
    WholeRun run;
    run.memory.Add("info.tmp", DescriptionBytes(kRecords));
    run.process.command_line = command_line;
    EXPECT_EQ(run.Run(), kExitStoppedBeforeChanges);
    EXPECT_EQ(Texts(run), std::vector<std::string>{"Error in argument!"});
    EXPECT_TRUE(run.registry.attempts().empty());
    ExpectNothingTouched(run);
  }
}

// Registry entries that lead to no folder: the one message, exit code 1,
// and nothing changed anywhere.
TEST(BadInputTest, RegistryEntriesThatGiveNoFolderStopTheRun) {
  struct Case {
    const char* name;
    const char* run_entry;  // nullptr: no value
    std::string app_paths;  // empty: no value
    bool refuse_run_key;
  };
  const std::string long_path = "C:\\" + std::string(130, 'x') + "\\t.exe";
  const Case cases[] = {
      {"no entries", nullptr, "", false},
      {"bare program name", "tavelon.exe", "", false},
      {"Run entry of 128 bytes or more", long_path.c_str(), "", false},
      {"quotation mark not closed", "\"C:\\Tavelon\\tavelon.exe", "", false},
      {"folder would be empty", "\\tavelon.exe", "", false},
      {"App Paths empty", nullptr, std::string(1, '\0'), false},
      {"Run key refused", "C:\\Tavelon\\tavelon.exe", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WholeRun run;
    run.registry = fakes::FakeRegistry();
    if (c.run_entry != nullptr) {
      run.registry.SetValue(RegistryRoot::kCurrentUser, kRunEntryKey,
                            "Tavelon Translator", fakes::kRegSz,
                            std::string(c.run_entry) + '\0');
    }
    if (c.refuse_run_key) {
      run.registry.DenyAccess(RegistryRoot::kCurrentUser, kRunEntryKey);
    }
    if (!c.app_paths.empty()) {
      run.registry.SetValue(RegistryRoot::kLocalMachine, kAppPathsKey, "Path",
                            fakes::kRegSz, c.app_paths);
    }
    run.memory.Add("info.tmp", DescriptionBytes(kRecords));
    run.memory.Add(WholeRun::Dictionary("Eng"), CleanDictionary());

    EXPECT_EQ(run.Run(), kExitStoppedBeforeChanges);
    EXPECT_EQ(Texts(run), std::vector<std::string>{kNotFound});
    ExpectNothingTouched(run);
    EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Eng")), CleanDictionary());
  }
}

// An update description that cannot be used: the run goes on (the option,
// the installers, the product) but says that the update failed, exit code
// 2; no dictionary is opened.
TEST(BadInputTest, AnUnusableUpdateDescriptionIsReportedAsAFailure) {
  Bytes lower_case = DescriptionBytes(kRecords);
  lower_case[0] = 't';
  Bytes too_long = DescriptionBytes(std::vector<Record>(622, {0, 0, 7}));
  Bytes cut = DescriptionBytes(kRecords);
  cut.pop_back();
  struct Case {
    const char* name;
    bool present;
    bool locked;
    Bytes bytes;
  } const cases[] = {
      {"missing (started from another folder)", false, false, {}},
      {"held by another program", true, true, {}},
      {"empty", true, false, {}},
      {"shorter than its header", true, false, Bytes(29, 'T')},
      {"not header plus whole records", true, false, cut},
      {"header in another letter case", true, false, lower_case},
      {"more than 621 records", true, false, too_long},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WholeRun run;
    if (c.locked) {
      run.memory.AddLocked("info.tmp");
    } else if (c.present) {
      run.memory.Add("info.tmp", c.bytes);
    }
    run.memory.Add(WholeRun::Dictionary("Ger"), CleanDictionary());

    EXPECT_EQ(run.Run(), kExitDictionariesNotUpdated);
    EXPECT_EQ(Texts(run), std::vector<std::string>{kUnreadable});
    EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Ger")), CleanDictionary());
    EXPECT_EQ(run.files.Calls(fakes::FaultFiles::Operation::kOpen), 1);
    EXPECT_EQ(run.files.OpenHandles(), 0u);
    if (c.present && !c.locked) {
      EXPECT_EQ(*run.memory.Find("info.tmp"), c.bytes);
    }
    ASSERT_NE(run.Option(), nullptr);
    EXPECT_EQ(run.Starts(),
              (std::vector<std::string>{WholeRun::Installer("MSpchapi.exe"),
                                        WholeRun::Installer("Msttsm22.exe"),
                                        WholeRun::Product()}));
  }
}

// Dictionary files that are missing, held by another program, damaged or
// already up to date, in one run: one warning for each file that could not
// be brought up to date, captioned with its path; the others are patched;
// the run completes with exit code 0. No file grows; what a stopped file
// had written stays, and the next run takes it up again.
TEST(BadInputTest, DictionaryProblemsAreReportedFileByFile) {
  WholeRun run;
  run.memory.Add("info.tmp", DescriptionBytes(kRecords));
  run.memory.AddLocked(WholeRun::Dictionary("Eng"));  // held by a program
  run.memory.Add(WholeRun::Dictionary("Fre"), PatchedDictionary());  // done
  // Cut short: the second record's item lies past the end.
  const Bytes truncated = CleanDictionary(ValueAt(2, 4) + 3);
  run.memory.Add(WholeRun::Dictionary("Ger"), truncated);
  run.memory.Add(WholeRun::Dictionary("Spa"), CleanDictionary());
  // Dut, Heb, Ita, Jpn and Ptg are missing: passed over in silence.

  EXPECT_EQ(run.Run(), kExitCompleted);
  ASSERT_EQ(run.boxes.boxes.size(), 3u);
  EXPECT_EQ(run.boxes.boxes[0].text, kCannotOpen);
  EXPECT_EQ(run.boxes.boxes[0].caption, WholeRun::Dictionary("Eng"));
  EXPECT_EQ(run.boxes.boxes[0].flags, 0x30u);
  EXPECT_EQ(run.boxes.boxes[1].text, kSeekError);
  EXPECT_EQ(run.boxes.boxes[1].caption, WholeRun::Dictionary("Ger"));
  EXPECT_EQ(run.boxes.boxes[1].flags, 0x30u);
  EXPECT_EQ(run.boxes.boxes[2].text, kCompleted);

  Bytes first_only = truncated;
  test_support::PutUint32(first_only, ValueAt(0, 0), kRecords[0].value);
  EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Ger")), first_only);
  EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Fre")), PatchedDictionary());
  EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Spa")), PatchedDictionary());
  for (const auto& access : run.files.accesses()) {
    if (access.operation == fakes::FaultFiles::Operation::kWrite) {
      EXPECT_NE(access.path, WholeRun::Dictionary("Fre"));
      EXPECT_NE(access.path, "info.tmp");
    }
  }

  // Again: the same warnings, the finished files left alone, nothing lost.
  run.boxes.boxes.clear();
  EXPECT_EQ(run.Run(), kExitCompleted);
  EXPECT_EQ(Texts(run),
            (std::vector<std::string>{kCannotOpen, kSeekError, kCompleted}));
  EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Ger")), first_only);
  EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Spa")), PatchedDictionary());
  EXPECT_EQ(run.files.OpenHandles(), 0u);
}

// The program's own path decides where the installers are looked for: one
// of up to 255 characters is used, a longer one (cut short by the system)
// starts no installer, never a bare name. Nothing is shown either way.
TEST(BadInputTest, AProgramPathBeyond255CharactersStartsNoInstaller) {
  for (const std::size_t length : {255u, 256u, 300u}) {
    SCOPED_TRACE(length);
    WholeRun run;
    run.memory.Add("info.tmp", DescriptionBytes(kRecords));
    const std::string name = "\\TavelonUpdate.exe";
    const std::string folder =
        "D:\\" + std::string(length - 3 - name.size(), 'u');
    run.process.module_path = folder + name;
    run.shell.results[folder + "\\MSpchapi.exe"] = 42;
    run.shell.results[folder + "\\Msttsm22.exe"] = 42;

    EXPECT_EQ(run.Run(), kExitCompleted);
    EXPECT_EQ(Texts(run), std::vector<std::string>{kCompleted});
    const std::vector<std::string> expected =
        length <= 255 ? std::vector<std::string>{folder + "\\MSpchapi.exe",
                                                 folder + "\\Msttsm22.exe",
                                                 WholeRun::Product()}
                      : std::vector<std::string>{WholeRun::Product()};
    EXPECT_EQ(run.Starts(), expected);
  }
}

// The longest folder the registry can give (127 characters) still leaves
// room for every dictionary path.
TEST(BadInputTest, TheLongestInstallationFolderIsPatched) {
  WholeRun run;
  const std::string folder = "C:\\" + std::string(124, 'p');
  ASSERT_EQ(folder.size(), 127u);
  run.registry = fakes::FakeRegistry();
  run.registry.SetValue(RegistryRoot::kLocalMachine, kAppPathsKey, "Path",
                        fakes::kRegSz, folder + '\0');
  run.memory.Add("info.tmp", DescriptionBytes(kRecords));
  const std::string dictionary = folder + "\\data\\engtoSpa.dic";
  run.memory.Add(dictionary, CleanDictionary());

  EXPECT_EQ(run.Run(), kExitCompleted);
  EXPECT_EQ(Texts(run), std::vector<std::string>{kCompleted});
  EXPECT_EQ(*run.memory.Find(dictionary), PatchedDictionary());
  EXPECT_EQ(run.Starts().back(), folder + "\\tavelon.exe");
}

// Installers or the product that are not there: nothing is shown, the
// update is still complete, exit code 0.
TEST(BadInputTest, MissingInstallersOrProductAreNotReported) {
  struct Case {
    const char* name;
    std::vector<std::string> missing;
    std::vector<std::string> starts;
  };
  const std::string speech = WholeRun::Installer("MSpchapi.exe");
  const std::string voice = WholeRun::Installer("Msttsm22.exe");
  const std::string product = WholeRun::Product();
  const Case cases[] = {
      {"no installers", {speech, voice}, {speech, product}},
      {"no voice installer", {voice}, {speech, voice, product}},
      {"no product program", {product}, {speech, voice, product}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WholeRun run;
    run.memory.Add("info.tmp", DescriptionBytes(kRecords));
    run.memory.Add(WholeRun::Dictionary("Ita"), CleanDictionary());
    for (const std::string& file : c.missing) run.shell.results.erase(file);

    EXPECT_EQ(run.Run(), kExitCompleted);
    EXPECT_EQ(Texts(run), std::vector<std::string>{kCompleted});
    EXPECT_EQ(run.Starts(), c.starts);
    EXPECT_EQ(*run.memory.Find(WholeRun::Dictionary("Ita")),
              PatchedDictionary());
  }
}

}  // namespace
}  // namespace tavelon::update
