// The stack guard of the program's own functions (-fstack-protector-strong)
// without GCC's libssp: the guard value, its failure, and its seeding from
// CryptoAPI's random numbers at the entry point. Built without a guard.
#include <windows.h>
// wincrypt.h needs the definitions of windows.h.
#include <wincrypt.h>

#include "platform/system.h"
#include "platform/win32/win32_security.h"

#if defined(__GNUC__)
extern "C" {

// A fixed value until the entry point seeds it: the tests and any code
// before the seeding still run with a guard, only not a secret one.
std::uintptr_t __stack_chk_guard = 0x2B992DDFu;

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

void SeedStackGuard() {
#if defined(__GNUC__)
  std::uintptr_t seed = 0;
  if (win32::RandomBytes(&seed, sizeof seed) && seed != 0) {
    __stack_chk_guard = seed;
  }
#endif
}

}  // namespace tavelon::platform
