// Whole-file reads through the file operations, for the tool's inputs.
#pragma once

#include <vector>

#include "platform/files.h"

namespace tavelon::tavpatch {

// Opens the file at path read-only and reads it whole. False when it cannot
// be opened, its length is unknown or the read falls short.
bool ReadFileContent(platform::Files& files, const char* path,
                     std::vector<unsigned char>* bytes);

}  // namespace tavelon::tavpatch
