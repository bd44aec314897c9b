// Starts the speech interface installer and one voice installer and waits
// for the voice installer's dialog to go away.
#pragma once

#include "patch/release_binding.h"
#include "platform/desktop.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "platform/run_folder.h"

namespace tavelon::update {

inline constexpr char kSpeechInterfaceInstaller[] = "MSpchapi.exe";
inline constexpr char kMaleVoiceInstaller[] = "Msttsm22.exe";
inline constexpr char kFemaleVoiceInstaller[] = "Msttsf22.exe";
inline constexpr char kVoiceDialogClass[] = "#32770";
inline constexpr char kVoiceDialogTitle[] = "Microsoft Text-to-Speech Engine";

// What the installers' step reaches the system through.
struct InstallerPlatform {
  platform::Shell& shell;
  platform::Windows& windows;
  platform::Sleeper& sleeper;
  platform::Files& files;
  platform::Sha256& sha256;
  // An elevated update starts each installer from a copy in a folder of its
  // own that only administrators can change, made from the file read
  // through the handle that holds it; nullptr: the installers are started
  // from the update folder through the shell.
  platform::RunFolder* copies;
};

enum class InstallerProblem {
  kNone,
  kNotReleased,  // missing, or not the file released: not started
  kNotStarted,   // the released file could not be copied or started
};

// The first installer of a bound program that did not start as released
// (the speech interface installer before the voice installer).
struct InstallerOutcome {
  InstallerProblem problem = InstallerProblem::kNone;
  const char* name = nullptr;
};

// update_folder ends with a backslash; when it is empty nothing is started,
// so that the system never searches for a bare file name. A start that
// fails ends the installers' step: no voice installer starts when the
// speech interface installer did not. An unbound program starts the files
// it finds, and its failures are silent; a bound one starts only the
// installers its release shipped, each only if it is that very file (see
// OpenReleasedFile), held so until it has been copied or started. With
// copies, both copies are made before the first start.
InstallerOutcome RunSpeechInstallers(
    const InstallerPlatform& system, const char* update_folder, bool male_voice,
    const patch::ReleaseBinding& binding = patch::kUnbound);

}  // namespace tavelon::update
