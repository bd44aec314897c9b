// One update at a time: two copies would patch the same files and start
// everything twice, and the program has no window to show that one runs.
#pragma once

#include "platform/only_copy_lock.h"

namespace tavelon::update {

// Takes the mark that only one copy holds. Elevated, in a private namespace
// that only administrators can create or open, so that no program of the
// user can take the mark first and keep the update from running; when any
// step of that fails, and when not elevated, in the session's namespace,
// where a program of the same user could stop the update anyway. An
// elevated copy and one that is not elevated therefore do not exclude each
// other; the one that is not elevated cannot write the product's files
// anyway. False when
// another copy holds the mark or it cannot be had; the caller gives it back
// with Release in every case.
bool BeginOnlyCopy(platform::OnlyCopyLock& lock, bool elevated);

}  // namespace tavelon::update
