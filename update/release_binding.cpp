#include "update/release_binding.h"

namespace tavelon::update {

bool DigestOfFile(platform::Files& files, platform::Sha256& sha256,
                  platform::FileHandle file, platform::Sha256Digest* digest) {
  if (!files.SetPosition(file, 0) || !sha256.Begin()) return false;
  // A read that fails ends the content early: the digest then differs.
  unsigned char piece[2048];
  bool added = true;
  for (std::uint32_t read = files.Read(file, piece, sizeof piece);
       added && read > 0; read = files.Read(file, piece, sizeof piece)) {
    added = sha256.Add(piece, read);
  }
  return sha256.Finish(digest) && added;
}

bool OpenReleasedFile(platform::Files& files, platform::Sha256& sha256,
                      const char* path, const platform::Sha256Digest& expected,
                      platform::FileHandle* held) {
  platform::FileHandle file = 0;
  if (files.OpenExisting(path, platform::FileAccess::kReadLocked, &file) !=
      platform::OpenStatus::kOpened) {
    return false;
  }
  platform::Sha256Digest digest;
  if (!DigestOfFile(files, sha256, file, &digest) ||
      !platform::SameDigest(digest, expected)) {
    files.Close(file);
    return false;
  }
  *held = file;
  return true;
}

}  // namespace tavelon::update
