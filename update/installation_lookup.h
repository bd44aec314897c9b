// Finds the product's installation folder from the registry entries its own
// setup leaves behind.
#pragma once

#include "platform/drives.h"
#include "platform/message_boxes.h"
#include "platform/registry.h"

namespace tavelon::update {

// On success copies the folder (without a trailing backslash added) into
// folder, a buffer of platform::kPathBufferSize bytes, and returns true.
// Otherwise shows the failure message, leaves folder unchanged and returns
// false. The Run entry is read from `user`'s settings. With `local_only`
// (an elevated run), the Run entry's folder counts only on a local fixed
// drive ("X:\...", X fixed), never a share, a device path or a network or
// removable drive: the run would open files there with the administrator's
// credentials; the App Paths entry, which only administrators can write,
// then decides.
bool FindInstallationFolder(platform::Registry& registry,
                            platform::MessageBoxes& boxes, char* folder,
                            const platform::UserSettings& user = {},
                            platform::Drives* local_only = nullptr);

}  // namespace tavelon::update
