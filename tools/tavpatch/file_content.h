// Whole-file reads through the file operations, for the tool's inputs.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/files.h"

namespace tavelon::tavpatch {

// The whole content of an open file of the given length, read from its
// start. False when a positioning or read fails or the file ends early.
bool ReadWhole(platform::Files& files, platform::FileHandle file,
               std::int32_t length, std::vector<unsigned char>* bytes);

// Opens the file at path read-only and reads it whole. False when it cannot
// be opened, its length is unknown or the read falls short.
bool ReadFileContent(platform::Files& files, const char* path,
                     std::vector<unsigned char>* bytes);

}  // namespace tavelon::tavpatch
