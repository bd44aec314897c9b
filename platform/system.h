// The operating system's implementations of the platform interfaces, one
// instance of each for the life of the process. The POSIX build has files
// and digests only.
#pragma once

#include "platform/digest.h"
#include "platform/files.h"

#if defined(_WIN32)
#include "platform/desktop.h"
#include "platform/drives.h"
#include "platform/message_boxes.h"
#include "platform/only_copy_lock.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/run_folder.h"
#endif

namespace tavelon::platform {

Files& SystemFiles();
Sha256& SystemSha256();

#if defined(_WIN32)
MessageBoxes& SystemMessageBoxes();
Registry& SystemRegistry();
Drives& SystemDrives();
Windows& SystemWindows();
Shell& SystemShell();
Sleeper& SystemSleeper();
Process& SystemProcess();
RunFolder& SystemRunFolder();
OnlyCopyLock& SystemOnlyCopyLock();

// Keeps libraries loaded from now on to the system folder, never the
// program's own folder or the current directory, where a downloaded file
// could stand in for a system library. Called first thing at the entry
// point, before anything can load a library; runs without a stack guard.
void RestrictLibrarySearch();

// Gives the stack guard of the program's functions a random value; called
// at the entry point right after RestrictLibrarySearch, before any guarded
// function has run.
void SeedStackGuard();
#endif

}  // namespace tavelon::platform
