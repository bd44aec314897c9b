// The file operations on POSIX systems, so that the patcher runs on Linux
// against real files.
//
// Paths are written as on Windows: every backslash is taken as a folder
// separator. Names are matched as Windows matches them: when no file has the
// exact name, the last component is looked up without regard to letter case
// in its folder (for "engtoGer.dic" also "ENGTOGER.DIC"). The folders on the
// way must match exactly.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/files.h"
#include "platform/system.h"

namespace tavelon::platform {
namespace {

constexpr std::size_t kMaxPath = 4096;

// The path with '/' for every '\'. False when it does not fit.
bool ToPosixPath(const char* path, char (&posix_path)[kMaxPath]) {
  const std::size_t length = std::strlen(path);
  if (length >= kMaxPath) return false;
  for (std::size_t i = 0; i <= length; ++i) {
    posix_path[i] = path[i] == '\\' ? '/' : path[i];
  }
  return true;
}

// Replaces the last component of the path with the name in its folder that
// equals it without regard to case (the smallest such name, if several).
bool FindNameIgnoringCase(char (&path)[kMaxPath]) {
  char* slash = std::strrchr(path, '/');
  const char* name = slash != nullptr ? slash + 1 : path;
  if (*name == '\0') return false;

  DIR* folder = nullptr;
  if (slash == nullptr) {
    folder = opendir(".");
  } else if (slash == path) {
    folder = opendir("/");
  } else {
    *slash = '\0';
    folder = opendir(path);
    *slash = '/';
  }
  if (folder == nullptr) return false;

  // Names are at most 255 bytes; d_name holds the name whole.
  char found[kMaxPath] = "";
  while (const dirent* item = readdir(folder)) {
    const std::size_t length = std::strlen(item->d_name);
    if (length < kMaxPath && strcasecmp(item->d_name, name) == 0 &&
        (found[0] == '\0' || std::strcmp(item->d_name, found) < 0)) {
      std::memcpy(found, item->d_name, length + 1);
    }
  }
  closedir(folder);

  const std::size_t prefix = static_cast<std::size_t>(name - path);
  const std::size_t length = std::strlen(found);
  if (length == 0 || prefix + length >= kMaxPath) return false;
  std::memcpy(path + prefix, found, length + 1);
  return true;
}

int OpenFlags(FileAccess access) {
  // POSIX has no sharing modes: a locked file is opened read-only. A file
  // to be written is never reached through a symbolic link.
  return (access == FileAccess::kReadWrite ? O_RDWR | O_NOFOLLOW : O_RDONLY) |
         O_CLOEXEC;
}

// True when the folder holds, under `name` or a name equal to it without
// regard to case, the very file described by `file` itself, not a link.
bool FolderHoldsFile(int folder, const char* name, const struct stat& file) {
  struct stat entry;
  if (fstatat(folder, name, &entry, AT_SYMLINK_NOFOLLOW) == 0) {
    return entry.st_dev == file.st_dev && entry.st_ino == file.st_ino;
  }
  if (errno != ENOENT) return false;
  const int listed = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listed < 0) return false;
  DIR* items = fdopendir(listed);
  if (items == nullptr) {
    close(listed);
    return false;
  }
  bool held = false;
  while (const dirent* item = readdir(items)) {
    if (strcasecmp(item->d_name, name) == 0 &&
        fstatat(folder, item->d_name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
        entry.st_dev == file.st_dev && entry.st_ino == file.st_ino) {
      held = true;
    }
  }
  closedir(items);
  return held;
}

class PosixFiles final : public Files {
 public:
  OpenStatus OpenExisting(const char* path, FileAccess access,
                          FileHandle* file) override {
    char posix_path[kMaxPath];
    if (!ToPosixPath(path, posix_path)) return OpenStatus::kFailed;

    int descriptor = OpenRetrying(posix_path, OpenFlags(access));
    int error = errno;
    if (descriptor < 0 && error == ENOENT && FindNameIgnoringCase(posix_path)) {
      descriptor = OpenRetrying(posix_path, OpenFlags(access));
      error = errno;
    }
    if (descriptor < 0) {
      return error == ENOENT || error == ENOTDIR ? OpenStatus::kNotFound
                                                 : OpenStatus::kFailed;
    }

    // Opening a folder read-only succeeds here; on Windows it fails.
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
      close(descriptor);
      return OpenStatus::kFailed;
    }
    if (Tracked(descriptor)) positions_[descriptor] = 0;
    *file = descriptor;
    return OpenStatus::kOpened;
  }

  std::int32_t Length(FileHandle file) override {
    struct stat status;
    if (fstat(Descriptor(file), &status) != 0 || status.st_size < 0 ||
        status.st_size > std::numeric_limits<std::int32_t>::max()) {
      return -1;
    }
    return static_cast<std::int32_t>(status.st_size);
  }

  bool SetPosition(FileHandle file, std::int64_t position) override {
    if (position < 0) return false;
    if constexpr (sizeof(off_t) < sizeof(std::int64_t)) {
      if (position > std::numeric_limits<off_t>::max()) return false;
    }
    const int descriptor = Descriptor(file);
    if (Tracked(descriptor)) {
      // Kept here and handed to pread/pwrite: one system call per access.
      positions_[descriptor] = static_cast<off_t>(position);
      return true;
    }
    return lseek(descriptor, static_cast<off_t>(position), SEEK_SET) ==
           static_cast<off_t>(position);
  }

  std::uint32_t Read(FileHandle file, void* buffer,
                     std::uint32_t size) override {
    const int descriptor = Descriptor(file);
    ssize_t result;
    do {
      result = Tracked(descriptor)
                   ? pread(descriptor, buffer, size, positions_[descriptor])
                   : read(descriptor, buffer, size);
    } while (result < 0 && errno == EINTR);
    return Transferred(descriptor, result);
  }

  std::uint32_t Write(FileHandle file, const void* data,
                      std::uint32_t size) override {
    const int descriptor = Descriptor(file);
    ssize_t result;
    do {
      result = Tracked(descriptor)
                   ? pwrite(descriptor, data, size, positions_[descriptor])
                   : write(descriptor, data, size);
    } while (result < 0 && errno == EINTR);
    return Transferred(descriptor, result);
  }

  bool Flush(FileHandle file) override {
    int result;
    do {
      result = fsync(Descriptor(file));
    } while (result < 0 && errno == EINTR);
    return result == 0;
  }

  OpenStatus OpenFolder(const char* path, FileHandle* folder) override {
    char posix_path[kMaxPath];
    if (!ToPosixPath(path, posix_path)) return OpenStatus::kFailed;
    const int descriptor =
        OpenRetrying(posix_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
      return errno == ENOENT ? OpenStatus::kNotFound : OpenStatus::kFailed;
    }
    *folder = descriptor;
    return OpenStatus::kOpened;
  }

  bool IsOwnFile(FileHandle file, FileHandle folder,
                 const char* name) override {
    struct stat status;
    return fstat(Descriptor(file), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_nlink == 1 &&
           FolderHoldsFile(Descriptor(folder), name, status);
  }

  void Close(FileHandle file) override { close(Descriptor(file)); }

 private:
  // The position of each open file with a small descriptor number is kept
  // here rather than in the system; larger descriptors use the system's.
  static constexpr int kTrackedDescriptors = 256;

  static int Descriptor(FileHandle file) { return static_cast<int>(file); }
  static bool Tracked(int descriptor) {
    return descriptor >= 0 && descriptor < kTrackedDescriptors;
  }

  // Bytes transferred, moving a kept position past them.
  std::uint32_t Transferred(int descriptor, ssize_t result) {
    if (result < 0) return 0;
    if (Tracked(descriptor)) positions_[descriptor] += result;
    return static_cast<std::uint32_t>(result);
  }

  static int OpenRetrying(const char* path, int flags) {
    int descriptor;
    do {
      descriptor = open(path, flags);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
  }

  off_t positions_[kTrackedDescriptors] = {};
};

}  // namespace

Files& SystemFiles() {
  static PosixFiles files;
  return files;
}

}  // namespace tavelon::platform
