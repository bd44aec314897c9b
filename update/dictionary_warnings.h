// The update program's part of the dictionary loop: each dictionary is
// patched for real, and the user is warned of each that was not written
// whole, in language order, captioned with the file's path.
#pragma once

#include "patch/dictionary_patcher.h"
#include "platform/files.h"
#include "platform/message_boxes.h"

namespace tavelon::update {

// patch::PatchDictionaries with the per-dictionary warnings of messages.h,
// each an OK box with the warning icon.
patch::PatchResult PatchDictionariesWithWarnings(
    platform::Files& files, platform::MessageBoxes& boxes,
    const char* installation_folder,
    const patch::ReleaseBinding& binding = patch::kUnbound,
    platform::Sha256* sha256 = nullptr);

}  // namespace tavelon::update
