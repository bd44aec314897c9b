// The dry run of `tavpatch check`: what the updater would do with an update
// description to each dictionary file of a folder, worked out on the files
// themselves with the writes kept in memory. The folder is never written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patch/dictionary_patcher.h"
#include "patch/patch_description.h"
#include "platform/files.h"
#include "tools/tavpatch/dry_run.h"

namespace tavelon::tavpatch {

struct LanguageCheck {
  std::string code;
  // As the updater forms it: the file opened, or the one it would name in
  // its warning, or the first one it tries.
  std::string path;
  // What the updater would make of the file; with a description without
  // records no file is opened, and `opened` is false.
  bool opened;
  patch::DictionaryOutcome outcome;
  // For kAlreadyPatched, kAllApplied and kStopped: the report, the bytes
  // the updater would write in order, and whether an update of the file cut
  // short would heal.
  DryRun dry_run;
};

struct FolderCheck {
  patch::DescriptionStatus description;
  std::int32_t description_length;  // as measured when reading it
  std::int32_t records;             // N, when the description is valid
  // False when the data folder's path exceeds 255 characters: the updater
  // then finds no dictionary file.
  bool data_folder_usable;
  std::string data_folder;
  std::vector<LanguageCheck> languages;  // the languages tried, in order
  int updater_result;                    // what the patcher would return
};

// Reads the update description at description_path as the updater reads
// "info.tmp" and, when it is valid, takes up each language as the updater
// does. `folder` is an installation folder (holding "data") or a data
// folder (holding the dictionary files); a folder in which no dictionary
// file is found either way is taken as an installation folder.
FolderCheck CheckFolder(platform::Files& files, const char* description_path,
                        const char* folder);

// True for what the updater would warn about, and for a file whose update,
// cut short, the next run would not heal.
bool IsProblem(const LanguageCheck& language);

}  // namespace tavelon::tavpatch
