#include "tools/tavpatch/file_content.h"

#include <cstddef>

namespace tavelon::tavpatch {

namespace {

// The whole content of an open file of the given length, read from its
// start. False when a positioning or read fails or the file ends early.
bool ReadWhole(platform::Files& files, platform::FileHandle file,
               std::int32_t length, std::vector<unsigned char>* bytes) {
  constexpr std::uint32_t kChunk = 1 << 20;
  if (length < 0 || !files.SetPosition(file, 0)) return false;
  bytes->assign(static_cast<std::size_t>(length), 0);
  std::size_t done = 0;
  while (done < bytes->size()) {
    const std::size_t left = bytes->size() - done;
    const std::uint32_t asked =
        left < kChunk ? static_cast<std::uint32_t>(left) : kChunk;
    const std::uint32_t got = files.Read(file, bytes->data() + done, asked);
    if (got == 0 || got > asked) return false;
    done += got;
  }
  return true;
}

}  // namespace

bool ReadFileContent(platform::Files& files, const char* path,
                     std::vector<unsigned char>* bytes) {
  platform::FileHandle file = 0;
  if (files.OpenExisting(path, platform::FileAccess::kRead, &file) !=
      platform::OpenStatus::kOpened) {
    return false;
  }
  const bool read = ReadWhole(files, file, files.Length(file), bytes);
  files.Close(file);
  return read;
}

}  // namespace tavelon::tavpatch
