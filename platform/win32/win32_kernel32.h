// Functions of kernel32 that some versions of Windows (or Wine) lack, taken
// by name: kernel32 is loaded already, so nothing is searched for.
#pragma once

#include <windows.h>

namespace tavelon::platform::win32 {

// The function, as the generic function type, which any function pointer
// may be cast from and to; nullptr when kernel32 lacks it.
void (*Kernel32(const char* name))();

template <typename Function>
Function Kernel32Function(const char* name) {
  return reinterpret_cast<Function>(Kernel32(name));
}

}  // namespace tavelon::platform::win32
