// Starts the speech interface installer and one voice installer from the
// update folder and waits for the voice installer's dialog to go away.
#pragma once

#include "platform/desktop.h"
#include "platform/digest.h"
#include "platform/files.h"

namespace tavelon::update {

inline constexpr char kSpeechInterfaceInstaller[] = "MSpchapi.exe";
inline constexpr char kMaleVoiceInstaller[] = "Msttsm22.exe";
inline constexpr char kFemaleVoiceInstaller[] = "Msttsf22.exe";
inline constexpr char kVoiceDialogClass[] = "#32770";
inline constexpr char kVoiceDialogTitle[] = "Microsoft Text-to-Speech Engine";

// The installers that a bound program's release shipped: each is started
// only if it is that very file (see OpenReleasedFile), and held so until it
// has been started.
struct ReleasedInstallers {
  platform::Files& files;
  platform::Sha256& sha256;
  // nullptr for an installer that the release did not ship: never started.
  const platform::Sha256Digest* speech_interface;
  const platform::Sha256Digest* voice;  // the chosen one
};

// update_folder ends with a backslash; when it is empty nothing is started,
// so that the system never searches for a bare file name. Failures are
// silent: a start that fails ends the installers' step. `released` is
// nullptr for an unbound program, which starts the files it finds. Returns
// the name of the installer that was refused because it is missing or not
// the file released (the speech interface installer before the voice
// installer), else nullptr. No voice installer starts when the speech
// interface installer did not.
const char* RunSpeechInstallers(platform::Shell& shell,
                                platform::Windows& windows,
                                platform::Sleeper& sleeper,
                                const char* update_folder, bool male_voice,
                                const ReleasedInstallers* released = nullptr);

}  // namespace tavelon::update
