// Checking a file against the digest a release vouches for, through the
// handle that is then used.
#pragma once

#include "patch/release_binding.h"
#include "platform/digest.h"
#include "platform/files.h"

namespace tavelon::update {

// One type for what a release vouches for, shared with the patcher.
using patch::kUnbound;
using patch::ReleaseBinding;

// The digest of an open file's content, read from its start to its end
// through the handle in fixed-size pieces.
bool DigestOfFile(platform::Files& files, platform::Sha256& sha256,
                  platform::FileHandle file, platform::Sha256Digest* digest);

// Opens `path` so that nobody can write, rename or delete it while it is
// open (FileAccess::kReadLocked) and checks its digest through that handle.
// When it is the expected file, it stays open in *held, and stays what was
// checked until the caller closes it; otherwise nothing is left open.
bool OpenReleasedFile(platform::Files& files, platform::Sha256& sha256,
                      const char* path, const platform::Sha256Digest& expected,
                      platform::FileHandle* held);

}  // namespace tavelon::update
