// The update program's part of the dictionary loop: each dictionary is
// patched for real, and the user is warned of each that was not written
// whole, in language order, captioned with the file's path.
#pragma once

#include "patch/dictionary_patcher.h"
#include "platform/files.h"
#include "platform/message_boxes.h"

namespace tavelon::update {

// The warning for a file whose application stopped (a record leads outside
// it, or a read or write failed): the records before stay written.
inline constexpr char kSeekErrorText[] = "Seek error in this file. Skipping...";
// The warning for a file that exists but cannot be opened for writing, or
// is not the data folder's own: it is not written.
inline constexpr char kCannotOpenText[] =
    "Cannot open this file for writing. Skipping...";

// patch::PatchDictionaries with those warnings, each an OK box with the
// warning icon.
patch::PatchResult PatchDictionariesWithWarnings(
    platform::Files& files, platform::MessageBoxes& boxes,
    const char* installation_folder,
    const patch::ReleaseBinding& binding = patch::kUnbound,
    platform::Sha256* sha256 = nullptr);

}  // namespace tavelon::update
