// Applies the update description to the dictionary file of every supported
// language in the installation's data folder, in place.
#pragma once

#include "platform/files.h"
#include "platform/message_boxes.h"

namespace tavelon::patch {

enum PatchResult : int {
  kSomeDictionaryPatched = 0,   // at least one file went through the records
  kDescriptionUnreadable = 1,   // "info.tmp" missing or invalid, no file opened
  kNoDictionaryPatched = 3,     // every file found was already patched, or none
};

// installation_folder: the product's folder, normally with a trailing
// backslash (one is added if missing).
PatchResult PatchDictionaries(platform::Files& files,
                              platform::MessageBoxes& boxes,
                              const char* installation_folder);

}  // namespace tavelon::patch
