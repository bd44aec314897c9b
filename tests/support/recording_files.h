// A decorator of the file operations that records what is opened, counts the
// calls, checks that every file is closed and can make a chosen call fail.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/journal.h"

namespace tavelon::fakes {

class RecordingFiles final : public platform::Files {
 public:
  enum class Operation { kSetPosition, kRead, kWrite, kFlush };

  struct OpenCall {
    std::string path;
    platform::FileAccess access;
    platform::OpenStatus status;
  };

  explicit RecordingFiles(platform::Files& inner) : inner_(inner) {}

  // Makes call number `number` (from 1, counted over the life of this
  // object) of the operation fail. A failing read or write transfers
  // `transferred` bytes (really, so the file position moves) and reports so.
  void FailCall(Operation operation, int number, std::uint32_t transferred = 0);
  // Reports this length instead of the real one for the files whose path
  // ends with `name`.
  void ReportLength(std::int32_t length, const std::string& name) {
    length_override_ = true;
    length_ = length;
    length_name_ = name;
  }

  // The paths passed to OpenExisting, in order.
  std::vector<std::string> OpenedPaths() const;
  int Calls(Operation operation) const {
    return calls_[static_cast<int>(operation)];
  }
  std::size_t StillOpen() const { return open_.size(); }

  const std::vector<OpenCall>& opens() const { return opens_; }

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
  platform::OpenStatus OpenFolder(const char* path,
                                  platform::FileHandle* folder) override {
    const platform::OpenStatus status = inner_.OpenFolder(path, folder);
    if (status == platform::OpenStatus::kOpened) open_[*folder] = path;
    return status;
  }
  bool IsOwnFile(platform::FileHandle file, platform::FileHandle folder,
                 const char* name) override {
    return inner_.IsOwnFile(file, folder, name);
  }
  void Close(platform::FileHandle file) override;

  // Notes each file opened, by its path.
  Journal* journal = nullptr;

 private:
  // Counts the call; true when it is the one to fail.
  bool CountAndCheck(Operation operation);

  platform::Files& inner_;
  std::vector<OpenCall> opens_;
  std::map<platform::FileHandle, std::string> open_;  // with their paths
  int calls_[4] = {0, 0, 0, 0};
  bool fail_ = false;
  Operation fail_operation_ = Operation::kRead;
  int fail_number_ = 0;
  std::uint32_t fail_transferred_ = 0;
  bool length_override_ = false;
  std::int32_t length_ = 0;
  std::string length_name_;
};

}  // namespace tavelon::fakes
