// The process's own token on Win32.
#pragma once

#include <windows.h>

namespace tavelon::platform {

// True when the process's token is elevated (TokenElevation); false where
// Windows cannot tell (before Vista).
bool ProcessIsElevated();

}  // namespace tavelon::platform
