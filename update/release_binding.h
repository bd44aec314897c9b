// What a released program vouches for: the SHA-256 digests of the
// info.tmp and of the installers that its release shipped beside it. A
// bound program uses exactly those files; one built without digests uses
// whatever it finds, as an ordinary build does.
#pragma once

#include "platform/digest.h"
#include "platform/files.h"

namespace tavelon::update {

struct ReleaseBinding {
  // False for a program built without digests: everything below is unused.
  bool bound;
  // The digest of each file that the release shipped; nullptr for a file it
  // did not ship, which a bound program then never uses.
  const platform::Sha256Digest* info;
  const platform::Sha256Digest* speech_interface;
  const platform::Sha256Digest* male_voice;
  const platform::Sha256Digest* female_voice;
};

inline constexpr ReleaseBinding kUnbound = {false, nullptr, nullptr, nullptr,
                                            nullptr};

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
