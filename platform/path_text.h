// Bounded building of narrow paths in fixed-size buffers. Portable: no
// system call behind it.
#pragma once

#include <cstddef>

namespace tavelon::platform {

// Every narrow path of the program (folder or file) is held in a buffer of
// this size: at most 255 characters and the terminator.
inline constexpr int kPathBufferSize = 256;

// Appends text to the zero-terminated path held in a buffer of size bytes.
// When the result would not fit (with its terminator), the path is left
// unchanged and false is returned.
inline bool AppendToPath(char* path, std::size_t size, const char* text) {
  std::size_t length = 0;
  while (length < size && path[length] != '\0') ++length;
  if (length == size) return false;  // not terminated within the buffer
  std::size_t extra = 0;
  while (text[extra] != '\0') ++extra;
  if (extra >= size - length) return false;
  for (std::size_t i = 0; i <= extra; ++i) path[length + i] = text[i];
  return true;
}

// Copies text into a buffer of size bytes; false (and an empty buffer) when
// it does not fit.
inline bool CopyToPath(char* path, std::size_t size, const char* text) {
  if (size == 0) return false;
  path[0] = '\0';
  return AppendToPath(path, size, text);
}

}  // namespace tavelon::platform
