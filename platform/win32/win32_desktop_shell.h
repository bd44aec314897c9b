// Starting a program through the desktop's shell, on Win32.
#pragma once

namespace tavelon::platform {

// Asks the running desktop shell (Explorer) to start the existing program
// `file` with the verb "open", empty parameters, `directory` as working
// directory and SW_SHOW. Explorer starts it, so it gets Explorer's rights:
// those of the user's own session, not elevated. The caller makes sure that
// the file is there: the desktop shell would tell of a missing one in a box
// of its own. False when the paths cannot be taken to the shell, no desktop
// shell answers or any step fails.
bool OpenFromDesktopShell(const char* file, const char* directory);

}  // namespace tavelon::platform
