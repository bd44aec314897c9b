// A library that someone planted in the update folder under the name of a
// system library that programs load on demand. When a process loads it, it
// logs which program loaded it; it does nothing else.
#include <windows.h>

#include "tests/e2e/event_log.h"

BOOL WINAPI DllMain(HINSTANCE library, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    char process[MAX_PATH];
    char name[MAX_PATH];
    e2e::ModulePath(process, sizeof process);
    const DWORD length = GetModuleFileNameA(library, name, sizeof name);
    if (length == 0 || length >= sizeof name) name[0] = '\0';
    e2e::EventLine("planted", "loaded")
        .Text("process", process)
        .Text("library", name)
        .Write();
  }
  return TRUE;
}
