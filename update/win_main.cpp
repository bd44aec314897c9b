// The program's entry: wires the Win32 implementations to the update run.
#include <windows.h>

#include "platform/system.h"
#include "update/release_digests.h"
#include "update/update_run.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  namespace platform = tavelon::platform;
  // First of all: the program may lie in a download folder beside files
  // that someone else put there, and it runs elevated.
  platform::RestrictLibrarySearch();
  // The argument is taken from GetCommandLineA by the run itself: the C
  // runtime's lpCmdLine keeps leading blanks and may drop bytes of 0x80 and
  // above after the program's name.
  const tavelon::update::RunPlatform system{
      platform::SystemProcess(),
      platform::SystemRegistry(),
      platform::SystemFiles(),
      platform::SystemMessageBoxes(),
      platform::SystemWindows(),
      platform::SystemShell(),
      platform::SystemSleeper(),
      platform::SystemSha256(),
      tavelon::update::ProcessorBoundPause,
      tavelon::update::release::kBinding,
  };
  return tavelon::update::RunUpdate(system);
}
