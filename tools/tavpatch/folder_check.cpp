#include "tools/tavpatch/folder_check.h"

#include <cstddef>
#include <cstring>
#include <memory>

#include "platform/path_text.h"
#include "platform/text.h"

namespace tavelon::tavpatch {
namespace {

using platform::FileHandle;
using platform::Files;
using platform::OpenStatus;

// True when any language's dictionary file is found in the data folder,
// whether or not it can be opened for writing.
bool FindsDictionary(Files& files, const char* data_folder) {
  for (const char* code : patch::kLanguageCodes) {
    if (!patch::HasDictionaryFile(code)) continue;
    patch::DictionaryFile dictionary;
    patch::OpenDictionaryFile(files, data_folder, code, &dictionary);
    if (dictionary.status == OpenStatus::kOpened) files.Close(dictionary.file);
    if (dictionary.status != OpenStatus::kNotFound) return true;
  }
  return false;
}

// The data folder for `folder`: its "data" folder when the dictionaries are
// there, else the folder itself when they are there, else its "data" folder
// as the updater would look there. False when the path is too long for the
// updater to form any dictionary path in it.
bool FindDataFolder(Files& files, const char* folder,
                    char (&data_folder)[patch::kPathBufferSize]) {
  std::string given = folder;
  // A trailing slash stands for the separator the updater appends.
  if (!given.empty() && given.back() == '/') given.back() = '\\';

  char installation_data[patch::kPathBufferSize];
  const bool installation_usable =
      patch::MakeDataFolder(given.c_str(), installation_data);
  char direct[patch::kPathBufferSize];
  const bool direct_usable =
      platform::CopyToPath(direct, sizeof direct, given.c_str()) &&
      (platform::EndsWithBackslash(direct) ||
       platform::AppendToPath(direct, sizeof direct, "\\"));

  const char* chosen = installation_usable ? installation_data : nullptr;
  if (!(installation_usable && FindsDictionary(files, installation_data)) &&
      direct_usable && FindsDictionary(files, direct)) {
    chosen = direct;
  }
  data_folder[0] = '\0';
  if (chosen == nullptr) return false;
  platform::CopyToPath(data_folder, sizeof data_folder, chosen);
  char path[patch::kPathBufferSize];
  return patch::MakeDictionaryPath(data_folder, patch::kLanguageCodes[0], path);
}

// The data folder as the updater holds it open, to keep only its own files.
struct OpenFolder {
  bool opened;
  FileHandle handle;
};

LanguageCheck CheckLanguage(Files& files, const char* data_folder,
                            const OpenFolder& folder, const char* code,
                            const patch::PatchDescription& description) {
  LanguageCheck check{code, "", LanguageOutcome::kNotPresent, {}};
  patch::DictionaryFile dictionary;
  patch::OpenDictionaryFile(files, data_folder, code, &dictionary);
  patch::KeepOnlyOwnFile(files, folder.opened, folder.handle,
                         std::strlen(data_folder), &dictionary);
  check.path = dictionary.path;
  if (dictionary.status == OpenStatus::kNotFound) return check;
  if (dictionary.status == OpenStatus::kFailed) {
    check.outcome = LanguageOutcome::kUnwritable;
    return check;
  }

  check.dry_run = DryRunDictionary(files, dictionary.file, description);
  files.Close(dictionary.file);
  switch (check.dry_run.report.outcome) {
    case patch::FileOutcome::kAlreadyPatched:
      check.outcome = LanguageOutcome::kAlreadyPatched;
      break;
    case patch::FileOutcome::kAllApplied:
      check.outcome = LanguageOutcome::kAllApplied;
      break;
    case patch::FileOutcome::kOutOfBounds:
    case patch::FileOutcome::kAccessFailed:
      check.outcome = LanguageOutcome::kStopped;
      break;
  }
  return check;
}

}  // namespace

bool IsProblem(const LanguageCheck& language) {
  return language.outcome == LanguageOutcome::kUnwritable ||
         language.outcome == LanguageOutcome::kStopped ||
         language.dry_run.healing.verdict != Healing::Verdict::kHeals;
}

FolderCheck CheckFolder(Files& files, const char* description_path,
                        const char* folder) {
  FolderCheck check{patch::DescriptionStatus::kCannotOpen, 0, 0, false, "", {},
                    patch::kDescriptionUnreadable};
  // About 5 KB: kept off the stack.
  const auto description = std::make_unique<patch::PatchDescription>();
  check.description = patch::ReadPatchDescriptionFile(
      files, description_path, description.get(), &check.description_length);
  if (check.description != patch::DescriptionStatus::kValid) return check;
  files.Close(description->file);
  check.records = description->count;
  check.updater_result = patch::kNoDictionaryPatched;

  char data_folder[patch::kPathBufferSize] = "";
  check.data_folder_usable = FindDataFolder(files, folder, data_folder);
  check.data_folder = data_folder;
  if (!check.data_folder_usable) return check;

  OpenFolder open_folder{false, 0};
  if (description->count > 0) {
    open_folder.opened = files.OpenFolder(data_folder, &open_folder.handle) ==
                         OpenStatus::kOpened;
  }
  int found = 0;
  int unwritable = 0;
  for (const char* code : patch::kLanguageCodes) {
    if (!patch::HasDictionaryFile(code)) continue;
    if (description->count == 0) {
      // Without records the updater opens no dictionary file.
      LanguageCheck language{code, "", LanguageOutcome::kNotOpened, {}};
      char path[patch::kPathBufferSize];
      if (patch::MakeDictionaryPath(data_folder, code, path)) {
        language.path = path;
      }
      check.languages.push_back(language);
      continue;
    }
    check.languages.push_back(
        CheckLanguage(files, data_folder, open_folder, code, *description));
    const LanguageOutcome outcome = check.languages.back().outcome;
    if (outcome == LanguageOutcome::kAllApplied ||
        outcome == LanguageOutcome::kStopped) {
      check.updater_result = patch::kSomeDictionaryPatched;
    }
    if (outcome != LanguageOutcome::kNotPresent) ++found;
    if (outcome == LanguageOutcome::kUnwritable) ++unwritable;
  }
  if (open_folder.opened) files.Close(open_folder.handle);
  if (found > 0 && unwritable == found) {
    check.updater_result = patch::kEveryDictionaryRefused;
  }
  return check;
}

}  // namespace tavelon::tavpatch
