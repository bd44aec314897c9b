// File operations used by the patcher: existing files only, positioned
// 4-byte reads and writes, no buffering.
#pragma once

#include <cstdint>

namespace tavelon::platform {

// An open file. On Win32 the HANDLE value, on POSIX the descriptor.
using FileHandle = std::intptr_t;

enum class FileAccess {
  kRead,       // read-only
  kReadWrite,  // reading and writing
  // Read-only, sharing only reading: while it is open nobody can write,
  // rename or delete the file, so what was read stays what is there.
  kReadLocked,
};

enum class OpenStatus {
  kOpened,
  kNotFound,  // the file or a folder on its path does not exist
  kFailed,    // any other reason: access denied, sharing violation, a folder
};

// Files are always opened as existing files (never created or truncated),
// in binary mode, sharing read and write with other processes unless the
// access says otherwise.
class Files {
 public:
  virtual OpenStatus OpenExisting(const char* path, FileAccess access,
                                  FileHandle* file) = 0;
  // The length in bytes, or -1 when it cannot be determined or is 2 GiB or
  // more.
  virtual std::int32_t Length(FileHandle file) = 0;
  // Sets the position counted from the start of the file. A negative position
  // fails; a position at or past the end succeeds.
  virtual bool SetPosition(FileHandle file, std::int64_t position) = 0;
  // Both return the number of bytes transferred; a failed call counts as 0.
  virtual std::uint32_t Read(FileHandle file, void* buffer,
                             std::uint32_t size) = 0;
  virtual std::uint32_t Write(FileHandle file, const void* data,
                              std::uint32_t size) = 0;
  // Makes the writes made so far durable (FlushFileBuffers, fsync), so that
  // they are on the disk before any later write is. False when that fails.
  virtual bool Flush(FileHandle file) = 0;
  // Opens an existing folder, to tell its own files from others
  // (IsOwnFile); closed with Close. kFailed when the path is not a
  // folder.
  virtual OpenStatus OpenFolder(const char* path, FileHandle* folder) = 0;
  // True when the open file is an ordinary file (not a folder, not a link)
  // with exactly one name, and that name is `name` in the open folder: on
  // Windows its final path is the folder's final path followed by `name`,
  // compared without regard to case, so that no link, junction or hard link
  // can make it another file.
  virtual bool IsOwnFile(FileHandle file, FileHandle folder,
                         const char* name) = 0;
  virtual void Close(FileHandle file) = 0;

 protected:
  ~Files() = default;
};

}  // namespace tavelon::platform
