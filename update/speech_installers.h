// Starts the speech interface installer and one voice installer from the
// update folder and waits for the voice installer's dialog to go away.
#pragma once

#include "platform/desktop.h"

namespace tavelon::update {

inline constexpr char kSpeechInterfaceInstaller[] = "MSpchapi.exe";
inline constexpr char kMaleVoiceInstaller[] = "Msttsm22.exe";
inline constexpr char kFemaleVoiceInstaller[] = "Msttsf22.exe";
inline constexpr char kVoiceDialogClass[] = "#32770";
inline constexpr char kVoiceDialogTitle[] = "Microsoft Text-to-Speech Engine";

// update_folder ends with a backslash; when it is empty nothing is started,
// so that the system never searches for a bare file name. Failures are
// silent: a start that fails ends the installers' step.
void RunSpeechInstallers(platform::Shell& shell, platform::Windows& windows,
                         platform::Sleeper& sleeper, const char* update_folder,
                         bool male_voice);

}  // namespace tavelon::update
