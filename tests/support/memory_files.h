// The file operations on files held in memory, for the tests and the fuzz
// targets: they behave as the system's do for the calls the update makes.
// Calls are counted, logged and made to fail by FaultFiles, over these or
// the system's files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"

namespace tavelon::fakes {

class MemoryFiles final : public platform::Files {
 public:
  using Bytes = std::vector<unsigned char>;

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

  platform::OpenStatus OpenExisting(const char* path,
                                    platform::FileAccess access,
                                    platform::FileHandle* file) override;
  std::int32_t Length(platform::FileHandle file) override;
  bool SetPosition(platform::FileHandle file, std::int64_t position) override;
  std::uint32_t Read(platform::FileHandle file, void* buffer,
                     std::uint32_t size) override;
  std::uint32_t Write(platform::FileHandle file, const void* data,
                      std::uint32_t size) override;
  bool Flush(platform::FileHandle file) override;
  // Any folder opens, but for a path that names a file.
  platform::OpenStatus OpenFolder(const char* path,
                                  platform::FileHandle* folder) override;
  bool IsOwnFile(platform::FileHandle file, platform::FileHandle folder,
                 const char* name) override;
  void Close(platform::FileHandle file) override;

 private:
  struct File {
    Bytes bytes;
    bool locked = false;
    bool foreign = false;
  };
  struct Handle {
    std::string key;  // the lower-case path; a folder's ends with '\'
    platform::FileAccess access;
    std::int64_t position = 0;
  };

  // The open file behind a handle, or nullptr.
  Handle* Open(platform::FileHandle file);

  std::map<std::string, File> files_;  // by lower-case path
  std::map<platform::FileHandle, Handle> handles_;
  platform::FileHandle next_handle_ = 1;
};

}  // namespace tavelon::fakes
