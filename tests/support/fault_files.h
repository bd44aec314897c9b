// A decorator of any file operations, the system's or those in memory:
// counts and logs every call, notes opens and closes in a journal, tells
// calls on handles that are not open, and makes chosen calls fail.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/journal.h"

namespace tavelon::fakes {

class FaultFiles final : public platform::Files {
 public:
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
  struct OpenCall {
    std::string path;
    platform::FileAccess access;
    platform::OpenStatus status;
  };

  explicit FaultFiles(platform::Files& inner) : inner_(inner) {}

  // Makes call number `number` (from 1, counted per operation over the life
  // of this object) of the operation fail. A failing read or write
  // transfers `transferred` bytes (really, so the position moves) and
  // reports so; a failing open reports kFailed, a failing length -1, a
  // failing positioning, flush or IsOwnFile false; a failing close still
  // releases the file, as the system's does.
  void FailCall(Operation operation, int number,
                std::uint32_t transferred = 0) {
    counter_.Fail(static_cast<int>(operation), number);
    transferred_[static_cast<int>(operation)] = transferred;
  }
  // Read number `number` delivers other bytes than the file holds, as a
  // file changed underneath the reader would.
  void ChangeRead(int number) { changed_read_ = number; }
  // Reports this length instead of the real one for the files whose path
  // ends with `suffix`.
  void ReportLength(std::int32_t length, const std::string& suffix) {
    length_suffix_ = suffix;
    length_ = length;
  }

  int Calls(Operation operation) const {
    return counter_.Calls(static_cast<int>(operation));
  }
  // Files and folders opened and not closed.
  std::size_t OpenHandles() const { return open_.size(); }
  // Calls with a handle that is not open (never opened, or closed already).
  int BadHandleCalls() const { return bad_handle_calls_; }
  const std::vector<Access>& accesses() const { return accesses_; }
  const std::vector<OpenCall>& opens() const { return opens_; }
  // The paths passed to OpenExisting, in order.
  std::vector<std::string> OpenedPaths() const;

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
                                  platform::FileHandle* folder) override;
  bool IsOwnFile(platform::FileHandle file, platform::FileHandle folder,
                 const char* name) override;
  void Close(platform::FileHandle file) override;

  // Notes each file opened and closed, by its path.
  Journal* journal = nullptr;

 private:
  struct Handle {
    std::string path;
    std::int64_t position = 0;
  };

  // Counts the call; true when it is the one to fail, with the bytes it
  // still transfers in *transferred.
  bool CountAndCheck(Operation operation, std::uint32_t* transferred = nullptr);
  // The open file behind a handle, or nullptr (counted as a bad call).
  Handle* Find(platform::FileHandle file);
  void Log(const Handle& handle, Operation operation, std::int64_t position,
           std::uint32_t size = 0, std::uint32_t transferred = 0) {
    accesses_.push_back({handle.path, operation, position, size, transferred});
  }

  platform::Files& inner_;
  std::map<platform::FileHandle, Handle> open_;
  std::vector<Access> accesses_;
  std::vector<OpenCall> opens_;
  CallCounter<9> counter_;
  std::uint32_t transferred_[9] = {};  // by a failing read or write
  int changed_read_ = 0;
  std::string length_suffix_;
  std::int32_t length_ = 0;
  int bad_handle_calls_ = 0;
};

}  // namespace tavelon::fakes
