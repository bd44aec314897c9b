#include "platform/win32/win32_kernel32.h"

namespace tavelon::platform::win32 {

void (*Kernel32(const char* name))() {
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<void (*)()>(GetProcAddress(kernel, name));
}

}  // namespace tavelon::platform::win32
