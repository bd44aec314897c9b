// Finds the product's installation folder from the registry entries its own
// setup leaves behind.
#pragma once

#include "platform/message_boxes.h"
#include "platform/registry.h"

namespace tavelon::update {

// On success copies the folder (without a trailing backslash added) into
// folder, a buffer of platform::kPathBufferSize bytes, and returns true.
// Otherwise shows the failure message, leaves folder unchanged and returns
// false. The Run entry is read from `user`'s settings.
bool FindInstallationFolder(platform::Registry& registry,
                            platform::MessageBoxes& boxes, char* folder,
                            const platform::UserSettings& user = {});

}  // namespace tavelon::update
