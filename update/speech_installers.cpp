#include "update/speech_installers.h"

#include "platform/path_text.h"
#include "update/installation_lookup.h"

namespace tavelon::update {
namespace {

// ShellExecute reports success with a value greater than 32.
constexpr std::intptr_t kShellStartedAbove = 32;

// The installers do not hand control back: the first one is given a fixed
// head start, the voice installer is watched through its dialog.
constexpr std::uint32_t kHeadStartMs = 4000;
constexpr std::uint32_t kPollIntervalMs = 1000;

// Starts update_folder + name with the update folder as working directory.
// A path that does not fit 255 characters counts as a start that failed.
bool StartInstaller(platform::Shell& shell, const char* update_folder,
                    const char* name) {
  char path[kFolderBufferSize];
  if (!platform::CopyToPath(path, sizeof path, update_folder) ||
      !platform::AppendToPath(path, sizeof path, name)) {
    return false;
  }
  return shell.Open(path, update_folder) > kShellStartedAbove;
}

}  // namespace

void RunSpeechInstallers(platform::Shell& shell, platform::Windows& windows,
                         platform::Sleeper& sleeper, const char* update_folder,
                         bool male_voice) {
  if (update_folder[0] == '\0') return;

  if (!StartInstaller(shell, update_folder, kSpeechInterfaceInstaller)) return;
  sleeper.Sleep(kHeadStartMs);

  const char* voice = male_voice ? kMaleVoiceInstaller : kFemaleVoiceInstaller;
  if (!StartInstaller(shell, update_folder, voice)) return;

  // The voice installer needs a moment to show its dialog: the first look
  // is 5 s after its start, then once a second for as long as it is open.
  sleeper.Sleep(kHeadStartMs);
  platform::WindowHandle dialog = 0;
  do {
    sleeper.Sleep(kPollIntervalMs);
  } while (windows.FindTopLevel(kVoiceDialogClass, kVoiceDialogTitle, &dialog));
}

}  // namespace tavelon::update
