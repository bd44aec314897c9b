#include "update/update_run.h"

#include "patch/dictionary_patcher.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "settings/options_update.h"
#include "update/command_line.h"
#include "update/dictionary_warnings.h"
#include "update/installation_lookup.h"
#include "update/only_copy.h"
#include "update/speech_installers.h"

namespace tavelon::update {

void ProcessorBoundPause() {
  for (volatile int outer = 0; outer < 20000; outer = outer + 1) {
    for (volatile int inner = 0; inner < 20000; inner = inner + 1) {
    }
  }
}

void FindUpdateFolder(platform::Process& process, char* folder) {
  constexpr std::uint32_t kSize = platform::kPathBufferSize;
  const std::uint32_t length = process.ModuleFileName(folder, kSize);
  if (length == 0 || length >= kSize) {
    // Failed or truncated: a partial folder would start the wrong programs.
    folder[0] = '\0';
    return;
  }
  folder[length] = '\0';
  const char* backslash = platform::FindLastBackslash(folder);
  if (backslash == nullptr) {
    folder[0] = '\0';
    return;
  }
  folder[backslash - folder + 1] = '\0';
}

void CloseRunningProduct(platform::Windows& windows, platform::Sleeper& clock,
                         void (*pause_after_close)()) {
  platform::WindowHandle product = 0;
  if (!windows.FindTopLevel(kProductWindowClass, kProductWindowTitle,
                            &product)) {
    return;
  }
  // The process is taken before the close request: once the window has
  // gone, it can no longer be found from it.
  platform::ProcessHandle process = 0;
  const bool have_process = windows.OpenWindowProcess(product, &process);
  // One budget for the request and the wait: a hung product, or one that
  // answers only after the budget, is then treated like one that does not
  // end, and the run goes on.
  const std::uint32_t sent_at = clock.Milliseconds();
  windows.SendClose(product, kProductExitWaitMs);
  pause_after_close();
  if (!have_process) return;
  // Unsigned differences stay right across the tick count's wrap.
  const std::uint32_t spent = clock.Milliseconds() - sent_at;
  windows.WaitForProcessEnd(
      process, spent < kProductExitWaitMs ? kProductExitWaitMs - spent : 0);
  windows.CloseProcess(process);
}

void StartProduct(platform::Shell& shell, platform::Files& files, bool elevated,
                  const char* product_path, const char* installation_folder) {
  if (elevated) {
    // The product's folder comes from a registry entry that any program of
    // the user can change: what lies there never runs elevated.
    platform::FileHandle product = 0;
    if (files.OpenExisting(product_path, platform::FileAccess::kRead,
                           &product) == platform::OpenStatus::kOpened) {
      files.Close(product);
      shell.OpenFromDesktop(product_path, installation_folder);
    }
    return;
  }
  shell.Open(product_path, installation_folder);
}

namespace {

// The boxes that say that the update failed stay above other windows.
constexpr std::uint32_t kFailureFlags =
    platform::kMbOk | platform::kMbIconWarning | platform::kMbSetForeground |
    platform::kMbTopmost;

// "Update failed - NAME is not the file released with this update" or
// "... could not be started", and what to do about it.
void ShowFileFailure(platform::MessageBoxes& boxes, const char* name,
                     const char* what) {
  char text[sizeof kFileFailedBefore + platform::kPathBufferSize +
            sizeof kNotReleasedAfter];
  platform::CopyToPath(text, sizeof text, kFileFailedBefore);
  platform::AppendToPath(text, sizeof text, name);
  platform::AppendToPath(text, sizeof text, what);
  boxes.Show(text, kCaption, kFailureFlags);
}

}  // namespace

RunOutcome DecideOutcome(bool bound, patch::PatchResult patched,
                         const InstallerOutcome& installer) {
  if (bound && patched == patch::kDescriptionUnreadable) {
    return {kExitDictionariesNotUpdated, patch::kPatchDescriptionName,
            kNotReleasedAfter, kFailureFlags};
  }
  if (installer.problem != InstallerProblem::kNone) {
    return {kExitInstallerNotStarted, installer.name,
            installer.problem == InstallerProblem::kNotReleased
                ? kNotReleasedAfter
                : kNotStartedAfter,
            kFailureFlags};
  }
  if (patched == patch::kDescriptionUnreadable) {
    return {kExitDictionariesNotUpdated, nullptr, kUnreadableMessage,
            kFailureFlags};
  }
  if (patched == patch::kEveryDictionaryRefused) {
    return {kExitDictionariesNotUpdated, nullptr, kDictionariesRefusedMessage,
            kFailureFlags};
  }
  // The folder that the lookup gave holds no dictionary at all: the
  // installation is not where its entry says, or is damaged.
  if (patched == patch::kNoDictionaryFound) {
    return {kExitDictionariesNotUpdated, nullptr, kNotFoundText, kFailureFlags};
  }
  return {kExitCompleted, nullptr, kCompletedMessage,
          platform::kMbIconInformation | platform::kMbSetForeground |
              platform::kMbTopmost};
}

namespace {

// The update after its argument was accepted, while it is the only copy
// running.
int UpdateAsOnlyCopy(const RunPlatform& system, bool male_voice,
                     bool elevated) {
  char update_folder[platform::kPathBufferSize];
  FindUpdateFolder(system.process, update_folder);

  // An update elevated with another account's password runs as that
  // account: the settings to read and write are the desktop user's, those
  // of the person who runs the product, unless that user cannot be told.
  char desktop_sid[platform::kSidTextSize];
  platform::UserSettings user;
  if (elevated && system.process.DesktopShellUser(desktop_sid) ==
                      platform::DesktopUser::kOther) {
    user = {platform::RegistryRoot::kUsers, desktop_sid};
  }

  char installation_folder[platform::kPathBufferSize];
  if (!FindInstallationFolder(system.registry, system.boxes,
                              installation_folder, user,
                              elevated ? &system.drives : nullptr)) {
    return kExitStoppedBeforeChanges;
  }
  if (!platform::EndsWithBackslash(installation_folder)) {
    // The lookup yields at most 127 characters, so the backslash fits.
    platform::AppendToPath(installation_folder, sizeof installation_folder,
                           "\\");
  }

  system.windows.ShowWaitCursor();

  CloseRunningProduct(system.windows, system.sleeper, system.pause_after_close);

  settings::UpdateOptions(system.registry, user);
  const ReleaseBinding& binding = system.binding;
  const patch::PatchResult patched = PatchDictionariesWithWarnings(
      system.files, system.boxes, installation_folder, binding, &system.sha256);

  system.windows.ShowArrowCursor();

  // Elevated, the installers run from copies that only administrators can
  // change, never from the download folder and never through the user's
  // file classes.
  const InstallerPlatform installer_system{
      system.shell, system.windows, system.sleeper,
      system.files, system.sha256,  elevated ? &system.run_folder : nullptr};
  const InstallerOutcome installer =
      RunSpeechInstallers(installer_system, update_folder, male_voice, binding);

  const RunOutcome outcome = DecideOutcome(binding.bound, patched, installer);
  if (outcome.file != nullptr) {
    ShowFileFailure(system.boxes, outcome.file, outcome.text);
  } else {
    system.boxes.Show(outcome.text, kCaption, outcome.flags);
  }

  char product_path[platform::kPathBufferSize];
  if (platform::CopyToPath(product_path, sizeof product_path,
                           installation_folder) &&
      platform::AppendToPath(product_path, sizeof product_path,
                             kProductProgram)) {
    StartProduct(system.shell, system.files, elevated, product_path,
                 installation_folder);
  }
  // The installers unpack into the run's folder: it goes once they have
  // ended, the only-copy mark held meanwhile. One still running at the end
  // of the wait keeps all of its files until the next restart, which
  // deletes them.
  if (elevated) {
    system.run_folder.Remove(
        !system.run_folder.WaitForPrograms(kInstallersEndWaitMs));
  }
  return outcome.exit_code;
}

}  // namespace

int RunUpdate(const RunPlatform& system) {
  const char* argument = ArgumentFromCommandLine(system.process.CommandLine());
  if (argument[0] == '\0') {
    system.boxes.Show(kArgumentError, kCaption, platform::kMbIconWarning);
    return kExitStoppedBeforeChanges;
  }
  const bool elevated = system.shell.IsElevated();
  if (!BeginOnlyCopy(system.only_copy, elevated)) {
    system.only_copy.Release();
    system.boxes.Show(kAlreadyRunning, kCaption, platform::kMbIconWarning);
    return kExitStoppedBeforeChanges;
  }
  const int exit_code =
      UpdateAsOnlyCopy(system, ChoosesMaleVoice(argument), elevated);
  system.only_copy.Release();
  return exit_code;
}

}  // namespace tavelon::update
