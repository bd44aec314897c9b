// What the entry point does before the stack guard of the program's own
// functions (-fstack-protector-strong) has its value, and the guard itself
// without GCC's libssp: the library search kept to the system folder, the
// guard value, its failure, and its seeding from CryptoAPI's random numbers.
// Built without a guard.
#include <windows.h>
// wincrypt.h needs the definitions of windows.h.
#include <wincrypt.h>

#include "platform/stack_guard.h"
#include "platform/system.h"
#include "platform/win32/win32_kernel32.h"
#include "platform/win32/win32_security.h"

#if defined(__GNUC__)
extern "C" {

// A fixed value until the entry point seeds it: the tests and any code
// before the seeding still run with a guard, only not a secret one.
std::uintptr_t __stack_chk_guard = 0x2B992D00u;

// A guard found changed: the stack was overwritten. The process ends at
// once, without running anything more of its own.
[[noreturn]] void __stack_chk_fail() {
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  for (;;) {
  }
}

}  // extern "C"
#endif

namespace tavelon::platform {

namespace win32 {

bool AcquireAesProvider(HCRYPTPROV* provider) {
  return CryptAcquireContextA(provider, nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT) != 0;
}

bool RandomBytes(void* bytes, DWORD size) {
  HCRYPTPROV provider = 0;
  if (!AcquireAesProvider(&provider)) return false;
  const bool made =
      CryptGenRandom(provider, size, static_cast<BYTE*>(bytes)) != 0;
  CryptReleaseContext(provider, 0);
  return made;
}

}  // namespace win32

void RestrictLibrarySearch() {
  // SetDefaultDllDirectories came with an update of Windows 7: taken by
  // name from kernel32, which is loaded already, so nothing is searched.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  const auto set_default_directories =
      win32::Kernel32Function<SetDefaultDllDirectoriesFunction>(
          "SetDefaultDllDirectories");
  if (set_default_directories != nullptr) {
    set_default_directories(kSearchSystem32);
  }
  // Takes the current directory out of the search, also where the call
  // above is missing (the program's own folder then stays in it).
  SetDllDirectoryA("");
}

void SeedStackGuard() {
#if defined(__GNUC__)
  std::uintptr_t bits = 0;
  if (!win32::RandomBytes(&bits, sizeof bits) || GuardValue(bits) == 0) {
    // No random numbers (no CryptoAPI provider): what is different in each
    // run, the stack's address included, which the system places at random,
    // folded into the fixed value.
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    const std::uintptr_t varying[] = {
        GetTickCount(), static_cast<std::uintptr_t>(counter.QuadPart),
        GetCurrentProcessId(), GetCurrentThreadId(),
        reinterpret_cast<std::uintptr_t>(&counter)};
    bits = __stack_chk_guard;
    for (const std::uintptr_t value : varying) bits = MixIntoGuard(bits, value);
  }
  __stack_chk_guard = GuardValue(bits);
#endif
}

}  // namespace tavelon::platform
