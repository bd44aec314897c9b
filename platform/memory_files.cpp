// The file operations on files held in memory. They behave as the system's
// do for the calls the patcher makes: files are only opened, never created;
// reads stop at the end of the file; a write past the end makes the file
// longer (a gap reads as zero bytes); a negative position is refused.
#include "platform/memory_files.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace tavelon::platform {
namespace {

// The largest length the file operations report; a write that would make a
// file longer fails as a full disk would, so memory stays bounded.
constexpr std::int64_t kMaxLength = 0x7FFFFFFF;

std::string Lower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

}  // namespace

void MemoryFiles::Add(const std::string& path, Bytes bytes) {
  File& file = files_[Lower(path)];
  file.bytes = std::move(bytes);
  file.locked = false;
}

void MemoryFiles::AddForeign(const std::string& path, Bytes bytes) {
  Add(path, std::move(bytes));
  files_[Lower(path)].foreign = true;
}

void MemoryFiles::AddLocked(const std::string& path) {
  files_[Lower(path)].locked = true;
}

const MemoryFiles::Bytes* MemoryFiles::Find(const std::string& path) const {
  const auto found = files_.find(Lower(path));
  return found == files_.end() ? nullptr : &found->second.bytes;
}

void MemoryFiles::FailCall(Operation operation, int number,
                           std::uint32_t transferred) {
  failures_[static_cast<int>(operation)] = {number, transferred};
}

int MemoryFiles::Calls(Operation operation) const {
  return calls_[static_cast<int>(operation)];
}

std::size_t MemoryFiles::OpenHandles() const { return handles_.size(); }

bool MemoryFiles::CountAndCheck(Operation operation,
                                std::uint32_t* transferred) {
  const int index = static_cast<int>(operation);
  const int number = ++calls_[index];
  const auto failure = failures_.find(index);
  if (failure == failures_.end() || failure->second.first != number) {
    return false;
  }
  if (transferred != nullptr) *transferred = failure->second.second;
  return true;
}

MemoryFiles::Handle* MemoryFiles::Open(FileHandle file) {
  const auto found = handles_.find(file);
  if (found == handles_.end()) {
    ++bad_handle_calls_;
    return nullptr;
  }
  return &found->second;
}

OpenStatus MemoryFiles::OpenExisting(const char* path, FileAccess access,
                                     FileHandle* file) {
  if (CountAndCheck(Operation::kOpen, nullptr)) return OpenStatus::kFailed;
  const std::string key = Lower(path);
  const auto found = files_.find(key);
  if (found == files_.end()) return OpenStatus::kNotFound;
  if (found->second.locked) return OpenStatus::kFailed;

  const FileHandle handle = next_handle_++;
  handles_[handle] = Handle{key, path, access, 0};
  accesses_.push_back(Access{path, Operation::kOpen, 0, 0, 0});
  *file = handle;
  return OpenStatus::kOpened;
}

std::int32_t MemoryFiles::Length(FileHandle file) {
  const bool fail = CountAndCheck(Operation::kLength, nullptr);
  Handle* handle = Open(file);
  if (handle == nullptr) return -1;
  accesses_.push_back(
      Access{handle->path, Operation::kLength, handle->position, 0, 0});
  if (fail) return -1;
  const std::size_t size = files_[handle->key].bytes.size();
  return size > static_cast<std::size_t>(kMaxLength)
             ? -1
             : static_cast<std::int32_t>(size);
}

bool MemoryFiles::SetPosition(FileHandle file, std::int64_t position) {
  const bool fail = CountAndCheck(Operation::kSetPosition, nullptr);
  Handle* handle = Open(file);
  if (handle == nullptr) return false;
  accesses_.push_back(
      Access{handle->path, Operation::kSetPosition, position, 0, 0});
  if (fail || position < 0) return false;
  handle->position = position;
  return true;
}

std::uint32_t MemoryFiles::Read(FileHandle file, void* buffer,
                                std::uint32_t size) {
  std::uint32_t allowed = size;
  if (CountAndCheck(Operation::kRead, &allowed)) {
    allowed = std::min(allowed, size);
  }
  Handle* handle = Open(file);
  if (handle == nullptr) return 0;
  const Bytes& bytes = files_[handle->key].bytes;
  const std::int64_t length = static_cast<std::int64_t>(bytes.size());
  const std::int64_t available =
      handle->position < length ? length - handle->position : 0;
  const std::uint32_t count =
      static_cast<std::uint32_t>(std::min<std::int64_t>(allowed, available));
  if (count > 0) {
    std::memcpy(buffer,
                bytes.data() + static_cast<std::size_t>(handle->position),
                count);
  }
  accesses_.push_back(
      Access{handle->path, Operation::kRead, handle->position, size, count});
  handle->position += count;
  return count;
}

std::uint32_t MemoryFiles::Write(FileHandle file, const void* data,
                                 std::uint32_t size) {
  std::uint32_t allowed = size;
  if (CountAndCheck(Operation::kWrite, &allowed)) {
    allowed = std::min(allowed, size);
  }
  Handle* handle = Open(file);
  if (handle == nullptr) return 0;
  Bytes& bytes = files_[handle->key].bytes;
  std::uint32_t count = allowed;
  if (handle->access != FileAccess::kReadWrite ||
      handle->position + count > kMaxLength) {
    count = 0;
  }
  if (count > 0) {
    const std::size_t end = static_cast<std::size_t>(handle->position) + count;
    if (end > bytes.size()) bytes.resize(end, 0);
    std::memcpy(bytes.data() + static_cast<std::size_t>(handle->position), data,
                count);
  }
  accesses_.push_back(
      Access{handle->path, Operation::kWrite, handle->position, size, count});
  handle->position += count;
  return count;
}

bool MemoryFiles::Flush(FileHandle file) {
  const bool fail = CountAndCheck(Operation::kFlush, nullptr);
  Handle* handle = Open(file);
  if (handle == nullptr) return false;
  accesses_.push_back(
      Access{handle->path, Operation::kFlush, handle->position, 0, 0});
  return !fail;
}

OpenStatus MemoryFiles::OpenFolder(const char* path, FileHandle* folder) {
  if (CountAndCheck(Operation::kOpenFolder, nullptr)) {
    return OpenStatus::kFailed;
  }
  std::string key = Lower(path);
  if (key.empty() || key.back() != '\\') key += '\\';
  if (files_.count(key.substr(0, key.size() - 1)) != 0) {
    return OpenStatus::kFailed;
  }
  const FileHandle handle = next_handle_++;
  handles_[handle] = Handle{key, path, FileAccess::kRead, 0};
  *folder = handle;
  return OpenStatus::kOpened;
}

bool MemoryFiles::IsOwnFile(FileHandle file, FileHandle folder,
                            const char* name) {
  const bool fail = CountAndCheck(Operation::kIsOwnFile, nullptr);
  const Handle* opened = Open(file);
  const Handle* holder = Open(folder);
  if (fail || opened == nullptr || holder == nullptr) return false;
  const auto found = files_.find(opened->key);
  return found != files_.end() && !found->second.foreign &&
         opened->key == holder->key + Lower(name);
}

void MemoryFiles::Close(FileHandle file) {
  // A failing close is counted like any call; the file is released all the
  // same, as the system releases a handle whatever CloseHandle reports.
  CountAndCheck(Operation::kClose, nullptr);
  Handle* handle = Open(file);
  if (handle == nullptr) return;
  accesses_.push_back(
      Access{handle->path, Operation::kClose, handle->position, 0, 0});
  handles_.erase(file);
}

}  // namespace tavelon::platform
