// Text scanning for the POSIX build, where every byte is one character.
#include <cstring>

#include "platform/text.h"

namespace tavelon::platform {

const char* FindLastBackslash(const char* text) {
  return std::strrchr(text, '\\');
}

bool EndsWithBackslash(const char* text) {
  const std::size_t length = std::strlen(text);
  return length > 0 && text[length - 1] == '\\';
}

}  // namespace tavelon::platform
