// What a released program vouches for: the SHA-256 digests of the info.tmp
// and of the installers that its release shipped beside it. A bound
// program uses exactly those files, and none that its release did not
// ship; one built without digests uses whatever it finds, as an ordinary
// build does.
#pragma once

#include "platform/digest.h"

namespace tavelon::patch {

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

}  // namespace tavelon::patch
