#include <gtest/gtest.h>

#include <string>

#include "support/fake_desktop.h"
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

struct InstallerRun {
  FakeClock clock;
  FakeShell shell{clock};
  FakeWindows windows{clock};
  FakeSleeper sleeper{clock};

  void Present(const std::string& path) { shell.results[path] = 42; }
  void DialogOpen(std::uint64_t from_ms, std::uint64_t until_ms) {
    windows.windows.push_back(
        {"#32770", "Microsoft Text-to-Speech Engine", from_ms, until_ms});
  }
  void Run(const char* folder, bool male) {
    RunSpeechInstallers(shell, windows, sleeper, folder, male);
  }
};

TEST(SpeechInstallersTest, NoInstallerPresentReturnsAtOnce) {
  InstallerRun run;
  run.Run(kFolder, true);
  ASSERT_EQ(1u, run.shell.starts.size());
  EXPECT_EQ(kSpeech, run.shell.starts[0].file);
  EXPECT_EQ(kFolder, run.shell.starts[0].directory);
  EXPECT_EQ(0u, run.clock.now_ms);
}

TEST(SpeechInstallersTest, OnlyTheSpeechInterfaceReturnsAfterItsHeadStart) {
  InstallerRun run;
  run.Present(kSpeech);
  run.Run(kFolder, false);
  ASSERT_EQ(2u, run.shell.starts.size());
  EXPECT_EQ(kFemale, run.shell.starts[1].file);
  EXPECT_EQ(4000u, run.shell.starts[1].at_ms);
  EXPECT_EQ(4000u, run.clock.now_ms);
  EXPECT_TRUE(run.windows.looks.empty());
}

TEST(SpeechInstallersTest, VoiceChoiceSelectsTheInstaller) {
  for (bool male : {true, false}) {
    InstallerRun run;
    run.Present(kSpeech);
    run.Present(kMale);
    run.Present(kFemale);
    run.Run(kFolder, male);
    ASSERT_EQ(2u, run.shell.starts.size());
    EXPECT_EQ(male ? kMale : kFemale, run.shell.starts[1].file);
    EXPECT_EQ(kFolder, run.shell.starts[1].directory);
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

TEST(SpeechInstallersTest, StartsNothingWithoutAnUpdateFolder) {
  InstallerRun run;
  run.Present("MSpchapi.exe");
  run.Run("", true);
  EXPECT_TRUE(run.shell.starts.empty());
}

TEST(SpeechInstallersTest, APathBeyond255CharactersCountsAsAFailedStart) {
  // 243 + 12 = 255 characters fit, 244 + 12 do not.
  for (std::size_t folder_length : {243u, 244u}) {
    InstallerRun run;
    std::string folder(folder_length - 1, 'a');
    folder += '\\';
    run.Present(folder + "MSpchapi.exe");
    run.Run(folder.c_str(), true);
    EXPECT_EQ(folder_length == 243 ? 2u : 0u, run.shell.starts.size());
  }
}

}  // namespace
}  // namespace tavelon::update
