// The file operations on files held in memory: for dry runs that must not
// touch the disk, for fuzzing and for fault injection. Any chosen call can
// be made to fail. Not used by the update program itself.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"

namespace tavelon::platform {

class MemoryFiles final : public Files {
 public:
  using Bytes = std::vector<unsigned char>;

  enum class Operation {
    kOpen,
    kLength,
    kSetPosition,
    kRead,
    kWrite,
    kClose,
    kFlush,
    kOpenFolder,
    kIsOwnFile,
  };

  // One call on an open file, as it reached the file (after any injected
  // failure was decided).
  struct Access {
    std::string path;
    Operation operation;
    std::int64_t position;  // the file position at the call; for
                            // kSetPosition the position asked for
    std::uint32_t size;     // bytes asked for
    std::uint32_t transferred;
  };

  // Paths are matched without regard to ASCII letter case, as on Windows.
  void Add(const std::string& path, Bytes bytes);
  // A file that exists but cannot be opened (as one locked by another
  // process): opening it fails with OpenStatus::kFailed.
  void AddLocked(const std::string& path);
  // A file that opens like any other but is not its folder's own (a link
  // to a file elsewhere, say): IsOwnFile says no.
  void AddForeign(const std::string& path, Bytes bytes);
  // The content of a file, or nullptr when there is no such file.
  const Bytes* Find(const std::string& path) const;

  // Makes call number `number` (from 1, counted per operation over the life
  // of this object) of the operation fail. A failing read or write transfers
  // `transferred` bytes (really, so the position moves) and reports so; a
  // failing open reports kFailed, a failing length -1, a failing flush or
  // IsOwnFile false.
  void FailCall(Operation operation, int number, std::uint32_t transferred = 0);
  int Calls(Operation operation) const;

  std::size_t OpenHandles() const;
  // Calls with a handle that is not open (never opened, or closed already).
  int BadHandleCalls() const { return bad_handle_calls_; }
  const std::vector<Access>& accesses() const { return accesses_; }

  OpenStatus OpenExisting(const char* path, FileAccess access,
                          FileHandle* file) override;
  std::int32_t Length(FileHandle file) override;
  bool SetPosition(FileHandle file, std::int64_t position) override;
  std::uint32_t Read(FileHandle file, void* buffer,
                     std::uint32_t size) override;
  std::uint32_t Write(FileHandle file, const void* data,
                      std::uint32_t size) override;
  bool Flush(FileHandle file) override;
  // Any folder opens, but for a path that names a file.
  OpenStatus OpenFolder(const char* path, FileHandle* folder) override;
  bool IsOwnFile(FileHandle file, FileHandle folder, const char* name) override;
  void Close(FileHandle file) override;

 private:
  struct File {
    Bytes bytes;
    bool locked = false;
    bool foreign = false;
  };
  struct Handle {
    std::string key;   // the lower-case path; a folder's ends with '\'
    std::string path;  // as opened
    FileAccess access;
    std::int64_t position = 0;
  };

  std::map<std::string, File> files_;  // by lower-case path
  std::map<FileHandle, Handle> handles_;
  FileHandle next_handle_ = 1;
  std::vector<Access> accesses_;
  int calls_[9] = {};
  std::map<int, std::pair<int, std::uint32_t>> failures_;  // by operation
  int bad_handle_calls_ = 0;

  // Counts a call of the operation; true when it is the one to fail, with
  // the bytes it still transfers in *transferred.
  bool CountAndCheck(Operation operation, std::uint32_t* transferred);
  // The open file behind a handle, or nullptr (counted as a bad call).
  Handle* Open(FileHandle file);
};

}  // namespace tavelon::platform
