// The program's entry: wires the Win32 implementations to the update run.
#include <windows.h>

#include "platform/system.h"
#include "update/release_digests.h"
#include "update/update_run.h"

namespace {

int RunWithTheSystem() {
  namespace platform = tavelon::platform;
  // The argument is taken from GetCommandLineA by the run itself: the C
  // runtime's lpCmdLine keeps leading blanks and may drop bytes of 0x80 and
  // above after the program's name.
  const tavelon::update::RunPlatform system{
      platform::SystemProcess(),
      platform::SystemRegistry(),
      platform::SystemDrives(),
      platform::SystemFiles(),
      platform::SystemMessageBoxes(),
      platform::SystemWindows(),
      platform::SystemShell(),
      platform::SystemSleeper(),
      platform::SystemSha256(),
      platform::SystemRunFolder(),
      platform::SystemOnlyCopyLock(),
      tavelon::update::ProcessorBoundPause,
      tavelon::update::release::kBinding,
  };
  return tavelon::update::RunUpdate(system);
}

}  // namespace

#if defined(__GNUC__)
// The process starts here, without the C runtime's start-up code: the
// program has no static constructors, no argument vector and no exception
// handling to set up, and every global object is initialised at compile
// time. First of all, before anything can load a library on demand (the
// random numbers for the stack guard load CryptoAPI's): the program may lie
// in a download folder beside files that someone else put there, and it
// runs elevated. The stack guard then gets its random value before any
// guarded function runs; this file and both calls are built without a
// guard. It ends with ExitProcess, which also ends any thread that COM may
// have left running. The system calls an entry point with its stack aligned
// to 4 bytes only.
extern "C" __attribute__((force_align_arg_pointer)) void TavelonUpdateEntry() {
  tavelon::platform::RestrictLibrarySearch();
  tavelon::platform::SeedStackGuard();
  ExitProcess(static_cast<UINT>(RunWithTheSystem()));
}
#else
// Other compilers keep their own start-up code, which seeds their stack
// guard without loading a library.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  tavelon::platform::RestrictLibrarySearch();
  ExitProcess(static_cast<UINT>(RunWithTheSystem()));
}
#endif
