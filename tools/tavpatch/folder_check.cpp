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

// The updater's loop over the languages, with a dry run of each file in
// place of its patch: each language is listed with what the updater would
// make of it.
class Collector final : public patch::DictionaryVisitor {
 public:
  Collector(Files& files, std::vector<LanguageCheck>* languages)
      : files_(files), languages_(languages) {}

  patch::FileReport Patch(FileHandle file,
                          const patch::PatchDescription& description) override {
    dry_run_ = DryRunDictionary(files_, file, description);
    return dry_run_.report;
  }

  void Took(const char* code, const char* path,
            patch::DictionaryOutcome outcome) override {
    const bool patched = outcome != patch::DictionaryOutcome::kNotPresent &&
                         outcome != patch::DictionaryOutcome::kRefused;
    languages_->push_back(
        {code, path, true, outcome, patched ? dry_run_ : DryRun{}});
  }

 private:
  Files& files_;
  std::vector<LanguageCheck>* languages_;
  DryRun dry_run_;
};

}  // namespace

bool IsProblem(const LanguageCheck& language) {
  return language.outcome == patch::DictionaryOutcome::kRefused ||
         language.outcome == patch::DictionaryOutcome::kStopped ||
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
  if (!check.data_folder_usable) {
    // No dictionary file can be named there: with records, none is found.
    if (description->count > 0) {
      check.updater_result = patch::kNoDictionaryFound;
    }
    return check;
  }

  if (description->count == 0) {
    // Without records the updater opens no dictionary file.
    for (const char* code : patch::kLanguageCodes) {
      if (!patch::HasDictionaryFile(code)) continue;
      char path[patch::kPathBufferSize];
      check.languages.push_back(
          {code,
           patch::MakeDictionaryPath(data_folder, code, path) ? path : "",
           false,
           patch::DictionaryOutcome::kNotPresent,
           {}});
    }
    return check;
  }
  Collector collector(files, &check.languages);
  check.updater_result =
      patch::PatchEachDictionary(files, data_folder, *description, collector);
  return check;
}

}  // namespace tavelon::tavpatch
