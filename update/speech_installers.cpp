#include "update/speech_installers.h"

#include "platform/path_text.h"
#include "update/installation_lookup.h"
#include "update/release_binding.h"

namespace tavelon::update {
namespace {

// ShellExecute reports success with a value greater than 32.
constexpr std::intptr_t kShellStartedAbove = 32;

// The installers do not hand control back: the first one is given a fixed
// head start, the voice installer is watched through its dialog.
constexpr std::uint32_t kHeadStartMs = 4000;
constexpr std::uint32_t kPollIntervalMs = 1000;

// update_folder + name; false when that exceeds 255 characters.
bool MakeInstallerPath(const char* update_folder, const char* name,
                       char (&path)[kFolderBufferSize]) {
  return platform::CopyToPath(path, sizeof path, update_folder) &&
         platform::AppendToPath(path, sizeof path, name);
}

// Starts update_folder + name with the update folder as working directory.
// A path that does not fit 255 characters counts as a start that failed.
bool StartInstaller(platform::Shell& shell, const char* update_folder,
                    const char* name) {
  char path[kFolderBufferSize];
  return MakeInstallerPath(update_folder, name, path) &&
         shell.Open(path, update_folder) > kShellStartedAbove;
}

enum class Verdict {
  kUnchecked,   // an unbound program: started as found
  kReleased,    // the file released, held until it has been started
  kNotShipped,  // not part of the release: never started
  kRefused,     // missing or another file: never started
};

// An installer file held open so that it stays what was checked.
class HeldFile {
 public:
  HeldFile() = default;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() { Close(); }
  void Hold(platform::Files& files, platform::FileHandle file) {
    files_ = &files;
    file_ = file;
  }
  void Close() {
    if (files_ != nullptr) files_->Close(file_);
    files_ = nullptr;
  }

 private:
  platform::Files* files_ = nullptr;
  platform::FileHandle file_ = 0;
};

bool Startable(Verdict verdict) {
  return verdict == Verdict::kUnchecked || verdict == Verdict::kReleased;
}

Verdict Check(const ReleasedInstallers* released, const char* update_folder,
              const char* name, const platform::Sha256Digest* digest,
              HeldFile* held) {
  if (released == nullptr) return Verdict::kUnchecked;
  if (digest == nullptr) return Verdict::kNotShipped;
  char path[kFolderBufferSize];
  platform::FileHandle file = 0;
  if (!MakeInstallerPath(update_folder, name, path) ||
      !OpenReleasedFile(released->files, released->sha256, path, *digest,
                        &file)) {
    return Verdict::kRefused;
  }
  held->Hold(released->files, file);
  return Verdict::kReleased;
}

}  // namespace

const char* RunSpeechInstallers(platform::Shell& shell,
                                platform::Windows& windows,
                                platform::Sleeper& sleeper,
                                const char* update_folder, bool male_voice,
                                const ReleasedInstallers* released) {
  if (update_folder[0] == '\0') return nullptr;
  const char* voice = male_voice ? kMaleVoiceInstaller : kFemaleVoiceInstaller;

  // Both files are checked and held before the first one starts: nobody
  // can change the voice installer during the speech interface's head
  // start.
  HeldFile speech_file;
  HeldFile voice_file;
  const Verdict speech_verdict = Check(
      released, update_folder, kSpeechInterfaceInstaller,
      released != nullptr ? released->speech_interface : nullptr, &speech_file);
  const Verdict voice_verdict =
      Check(released, update_folder, voice,
            released != nullptr ? released->voice : nullptr, &voice_file);

  // The first file refused is the one to name, whatever was started.
  const char* refused = speech_verdict == Verdict::kRefused
                            ? kSpeechInterfaceInstaller
                        : voice_verdict == Verdict::kRefused ? voice
                                                             : nullptr;
  if (!Startable(speech_verdict) ||
      !StartInstaller(shell, update_folder, kSpeechInterfaceInstaller)) {
    return refused;
  }
  speech_file.Close();
  sleeper.Sleep(kHeadStartMs);

  if (!Startable(voice_verdict) ||
      !StartInstaller(shell, update_folder, voice)) {
    return refused;
  }
  voice_file.Close();

  // The voice installer needs a moment to show its dialog: the first look
  // is 5 s after its start, then once a second for as long as it is open.
  sleeper.Sleep(kHeadStartMs);
  platform::WindowHandle dialog = 0;
  do {
    sleeper.Sleep(kPollIntervalMs);
  } while (windows.FindTopLevel(kVoiceDialogClass, kVoiceDialogTitle, &dialog));
  return refused;
}

}  // namespace tavelon::update
