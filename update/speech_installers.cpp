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
                       char (&path)[platform::kPathBufferSize]) {
  return platform::CopyToPath(path, sizeof path, update_folder) &&
         platform::AppendToPath(path, sizeof path, name);
}

enum class Verdict {
  kStartable,    // an unbound program's file, or the released file held
  kNotShipped,   // not part of the release: never started
  kRefused,      // missing or another file: never started
  kUnavailable,  // could not be held or copied: its start fails
};

// An installer file held open (FileAccess::kReadLocked) so that it stays
// what was checked until it has been started or copied.
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
  platform::FileHandle file() const { return file_; }
  void Close() {
    if (files_ != nullptr) files_->Close(file_);
    files_ = nullptr;
  }

 private:
  platform::Files* files_ = nullptr;
  platform::FileHandle file_ = 0;
};

struct Installer {
  const char* name;
  // A bound program's only: the digest released, nullptr for an installer
  // its release did not ship.
  const platform::Sha256Digest* digest;
  Verdict verdict = Verdict::kStartable;
  HeldFile held;
};

// Checks and holds one installer, when the program is bound or starts a
// copy: the bytes that run are the bytes read through this handle.
Verdict Prepare(const InstallerPlatform& system, const char* update_folder,
                bool bound, Installer& installer) {
  if (!bound && system.copies == nullptr) return Verdict::kStartable;
  if (bound && installer.digest == nullptr) return Verdict::kNotShipped;
  char path[platform::kPathBufferSize];
  platform::FileHandle file = 0;
  if (bound) {
    if (!MakeInstallerPath(update_folder, installer.name, path) ||
        !OpenReleasedFile(system.files, system.sha256, path, *installer.digest,
                          &file)) {
      return Verdict::kRefused;
    }
  } else if (!MakeInstallerPath(update_folder, installer.name, path) ||
             system.files.OpenExisting(path, platform::FileAccess::kReadLocked,
                                       &file) !=
                 platform::OpenStatus::kOpened) {
    return Verdict::kUnavailable;
  }
  installer.held.Hold(system.files, file);
  return Verdict::kStartable;
}

// Copies the held installer into the run's folder, reading it once from its
// start; a bound program's copy must have the released digest. A copy that
// is not the whole file (a read that fails) never counts as made.
Verdict Copy(const InstallerPlatform& system, const Installer& installer) {
  platform::Files& files = system.files;
  platform::RunFolder& folder = *system.copies;
  const platform::FileHandle source = installer.held.file();
  const std::int32_t length = files.Length(source);
  if (length < 0 || !files.SetPosition(source, 0) ||
      !folder.CreateNewFile(installer.name)) {
    return Verdict::kUnavailable;
  }
  const bool hashing = installer.digest != nullptr;
  bool copied = !hashing || system.sha256.Begin();
  std::uint32_t total = 0;
  unsigned char piece[2048];
  for (std::uint32_t read = files.Read(source, piece, sizeof piece);
       copied && read > 0; read = files.Read(source, piece, sizeof piece)) {
    copied = folder.Append(piece, read) &&
             (!hashing || system.sha256.Add(piece, read));
    total += read;
  }
  platform::Sha256Digest digest;
  const bool hashed = !hashing || system.sha256.Finish(&digest);
  copied = folder.CloseFile() && copied && hashed &&
           total == static_cast<std::uint32_t>(length);
  if (!copied) return Verdict::kUnavailable;
  if (hashing && !platform::SameDigest(digest, *installer.digest)) {
    return Verdict::kRefused;
  }
  return Verdict::kStartable;
}

// Makes the run's folder and a copy of each installer that will be
// started, all before the first start: the installers in order, up to the
// first that cannot start. A folder that cannot be made fails the first
// copy.
void MakeCopies(const InstallerPlatform& system, Installer (&installers)[2]) {
  for (Installer& installer : installers) {
    if (installer.verdict != Verdict::kStartable) return;
    if (&installer == &installers[0] && !system.copies->Make()) {
      installer.verdict = Verdict::kUnavailable;
    } else {
      installer.verdict = Copy(system, installer);
    }
    if (installer.verdict != Verdict::kStartable) return;
  }
}

bool Start(const InstallerPlatform& system, const char* update_folder,
           const Installer& installer) {
  if (installer.verdict != Verdict::kStartable) return false;
  if (system.copies != nullptr) return system.copies->Start(installer.name);
  // A path that does not fit 255 characters counts as a start that failed.
  char path[platform::kPathBufferSize];
  return MakeInstallerPath(update_folder, installer.name, path) &&
         system.shell.Open(path, update_folder) > kShellStartedAbove;
}

// What a bound program says about an installer that did not start; an
// unbound program's failures are silent, and what a release did not ship
// is left out without a word.
InstallerOutcome NotStarted(bool bound, const Installer& installer) {
  InstallerOutcome outcome;
  if (!bound || installer.verdict == Verdict::kNotShipped) {
    return outcome;
  }
  outcome.problem = installer.verdict == Verdict::kRefused
                        ? InstallerProblem::kNotReleased
                        : InstallerProblem::kNotStarted;
  outcome.name = installer.name;
  return outcome;
}

}  // namespace

InstallerOutcome RunSpeechInstallers(const InstallerPlatform& system,
                                     const char* update_folder, bool male_voice,
                                     const patch::ReleaseBinding& binding) {
  if (update_folder[0] == '\0') return {};
  const bool bound = binding.bound;
  Installer installers[2] = {
      {kSpeechInterfaceInstaller,
       binding.speech_interface,
       Verdict::kStartable,
       {}},
      {male_voice ? kMaleVoiceInstaller : kFemaleVoiceInstaller,
       male_voice ? binding.male_voice : binding.female_voice,
       Verdict::kStartable,
       {}},
  };
  // Both files are checked and held before the first one starts: nobody
  // can change the voice installer during the speech interface's head
  // start.
  for (Installer& installer : installers) {
    installer.verdict = Prepare(system, update_folder, bound, installer);
  }
  if (system.copies != nullptr) MakeCopies(system, installers);

  Installer& speech = installers[0];
  Installer& voice = installers[1];
  if (!Start(system, update_folder, speech)) {
    // A release without the speech interface installer still names a voice
    // installer that is not the one it shipped.
    return speech.verdict == Verdict::kNotShipped &&
                   voice.verdict == Verdict::kRefused
               ? NotStarted(bound, voice)
               : NotStarted(bound, speech);
  }
  speech.held.Close();
  system.sleeper.Sleep(kHeadStartMs);

  if (!Start(system, update_folder, voice)) return NotStarted(bound, voice);
  voice.held.Close();

  // The voice installer needs a moment to show its dialog: the first look
  // is 5 s after its start, then once a second for as long as it is open.
  system.sleeper.Sleep(kHeadStartMs);
  platform::WindowHandle dialog = 0;
  do {
    system.sleeper.Sleep(kPollIntervalMs);
  } while (system.windows.FindTopLevel(kVoiceDialogClass, kVoiceDialogTitle,
                                       &dialog));
  return {};
}

}  // namespace tavelon::update
