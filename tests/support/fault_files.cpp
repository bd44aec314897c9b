#include "tests/support/fault_files.h"

#include <algorithm>

namespace tavelon::fakes {

using platform::FileHandle;
using platform::OpenStatus;

std::vector<std::string> FaultFiles::OpenedPaths() const {
  std::vector<std::string> paths;
  for (const OpenCall& call : opens_) paths.push_back(call.path);
  return paths;
}

bool FaultFiles::CountAndCheck(Operation operation,
                               std::uint32_t* transferred) {
  const int kind = static_cast<int>(operation);
  if (!counter_.Count(kind)) return false;
  if (transferred != nullptr) {
    *transferred = std::min(*transferred, transferred_[kind]);
  }
  return true;
}

FaultFiles::Handle* FaultFiles::Find(FileHandle file) {
  const auto found = open_.find(file);
  if (found != open_.end()) return &found->second;
  ++bad_handle_calls_;
  return nullptr;
}

OpenStatus FaultFiles::OpenExisting(const char* path,
                                    platform::FileAccess access,
                                    FileHandle* file) {
  Note(journal, std::string("open file ") + path);
  const OpenStatus status = CountAndCheck(Operation::kOpen)
                                ? OpenStatus::kFailed
                                : inner_.OpenExisting(path, access, file);
  opens_.push_back({path, access, status});
  if (status == OpenStatus::kOpened) {
    open_[*file] = {path, 0};
    Log(open_[*file], Operation::kOpen, 0);
  }
  return status;
}

std::int32_t FaultFiles::Length(FileHandle file) {
  const bool fail = CountAndCheck(Operation::kLength);
  const Handle* handle = Find(file);
  if (handle == nullptr) return -1;
  Log(*handle, Operation::kLength, handle->position);
  const std::string& path = handle->path;
  const std::int32_t length = inner_.Length(file);
  if (!length_suffix_.empty() && path.size() >= length_suffix_.size() &&
      path.compare(path.size() - length_suffix_.size(), std::string::npos,
                   length_suffix_) == 0) {
    return length_;
  }
  return fail ? -1 : length;
}

bool FaultFiles::SetPosition(FileHandle file, std::int64_t position) {
  const bool fail = CountAndCheck(Operation::kSetPosition);
  Handle* handle = Find(file);
  if (handle == nullptr) return false;
  Log(*handle, Operation::kSetPosition, position);
  if (fail || !inner_.SetPosition(file, position)) return false;
  handle->position = position;
  return true;
}

std::uint32_t FaultFiles::Read(FileHandle file, void* buffer,
                               std::uint32_t size) {
  std::uint32_t allowed = size;
  CountAndCheck(Operation::kRead, &allowed);
  Handle* handle = Find(file);
  if (handle == nullptr) return 0;
  const std::uint32_t read =
      allowed == 0 ? 0 : inner_.Read(file, buffer, allowed);
  if (read > 0 && Calls(Operation::kRead) == changed_read_) {
    static_cast<unsigned char*>(buffer)[0] ^= 0xFF;
  }
  Log(*handle, Operation::kRead, handle->position, size, read);
  handle->position += read;
  return read;
}

std::uint32_t FaultFiles::Write(FileHandle file, const void* data,
                                std::uint32_t size) {
  std::uint32_t allowed = size;
  CountAndCheck(Operation::kWrite, &allowed);
  Handle* handle = Find(file);
  if (handle == nullptr) return 0;
  const std::uint32_t written =
      allowed == 0 ? 0 : inner_.Write(file, data, allowed);
  Log(*handle, Operation::kWrite, handle->position, size, written);
  handle->position += written;
  return written;
}

bool FaultFiles::Flush(FileHandle file) {
  const bool fail = CountAndCheck(Operation::kFlush);
  const Handle* handle = Find(file);
  if (handle == nullptr) return false;
  Log(*handle, Operation::kFlush, handle->position);
  return inner_.Flush(file) && !fail;
}

OpenStatus FaultFiles::OpenFolder(const char* path, FileHandle* folder) {
  if (CountAndCheck(Operation::kOpenFolder)) return OpenStatus::kFailed;
  const OpenStatus status = inner_.OpenFolder(path, folder);
  if (status == OpenStatus::kOpened) open_[*folder] = {path, 0};
  return status;
}

bool FaultFiles::IsOwnFile(FileHandle file, FileHandle folder,
                           const char* name) {
  const bool fail = CountAndCheck(Operation::kIsOwnFile);
  if (Find(file) == nullptr || Find(folder) == nullptr) return false;
  return inner_.IsOwnFile(file, folder, name) && !fail;
}

void FaultFiles::Close(FileHandle file) {
  CountAndCheck(Operation::kClose);
  const Handle* handle = Find(file);
  if (handle == nullptr) return;
  Note(journal, "close file " + handle->path);
  Log(*handle, Operation::kClose, handle->position);
  inner_.Close(file);
  open_.erase(file);
}

}  // namespace tavelon::fakes
