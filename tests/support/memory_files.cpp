// Reads stop at the end of the file; a write past the end makes the file
// longer (a gap reads as zero bytes); a negative position is refused.
#include "tests/support/memory_files.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "tests/support/journal.h"

namespace tavelon::fakes {
namespace {

using platform::FileAccess;
using platform::FileHandle;
using platform::OpenStatus;

// The largest length the file operations report; a write that would make a
// file longer fails as a full disk would, so memory stays bounded.
constexpr std::int64_t kMaxLength = 0x7FFFFFFF;

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

MemoryFiles::Handle* MemoryFiles::Open(FileHandle file) {
  const auto found = handles_.find(file);
  return found == handles_.end() ? nullptr : &found->second;
}

OpenStatus MemoryFiles::OpenExisting(const char* path, FileAccess access,
                                     FileHandle* file) {
  const std::string key = Lower(path);
  const auto found = files_.find(key);
  if (found == files_.end()) return OpenStatus::kNotFound;
  if (found->second.locked) return OpenStatus::kFailed;
  *file = next_handle_++;
  handles_[*file] = Handle{key, access, 0};
  return OpenStatus::kOpened;
}

std::int32_t MemoryFiles::Length(FileHandle file) {
  const Handle* handle = Open(file);
  if (handle == nullptr) return -1;
  const std::size_t size = files_[handle->key].bytes.size();
  return size > static_cast<std::size_t>(kMaxLength)
             ? -1
             : static_cast<std::int32_t>(size);
}

bool MemoryFiles::SetPosition(FileHandle file, std::int64_t position) {
  Handle* handle = Open(file);
  if (handle == nullptr || position < 0) return false;
  handle->position = position;
  return true;
}

std::uint32_t MemoryFiles::Read(FileHandle file, void* buffer,
                                std::uint32_t size) {
  Handle* handle = Open(file);
  if (handle == nullptr) return 0;
  const Bytes& bytes = files_[handle->key].bytes;
  const std::int64_t length = static_cast<std::int64_t>(bytes.size());
  const std::int64_t available =
      handle->position < length ? length - handle->position : 0;
  const std::uint32_t count =
      static_cast<std::uint32_t>(std::min<std::int64_t>(size, available));
  if (count > 0) {
    std::memcpy(buffer,
                bytes.data() + static_cast<std::size_t>(handle->position),
                count);
  }
  handle->position += count;
  return count;
}

std::uint32_t MemoryFiles::Write(FileHandle file, const void* data,
                                 std::uint32_t size) {
  Handle* handle = Open(file);
  if (handle == nullptr || handle->access != FileAccess::kReadWrite ||
      handle->position + size > kMaxLength) {
    return 0;
  }
  Bytes& bytes = files_[handle->key].bytes;
  if (size > 0) {
    const std::size_t end = static_cast<std::size_t>(handle->position) + size;
    if (end > bytes.size()) bytes.resize(end, 0);
    std::memcpy(bytes.data() + static_cast<std::size_t>(handle->position), data,
                size);
  }
  handle->position += size;
  return size;
}

bool MemoryFiles::Flush(FileHandle file) { return Open(file) != nullptr; }

OpenStatus MemoryFiles::OpenFolder(const char* path, FileHandle* folder) {
  std::string key = Lower(path);
  if (key.empty() || key.back() != '\\') key += '\\';
  if (files_.count(key.substr(0, key.size() - 1)) != 0) {
    return OpenStatus::kFailed;
  }
  *folder = next_handle_++;
  handles_[*folder] = Handle{key, FileAccess::kRead, 0};
  return OpenStatus::kOpened;
}

bool MemoryFiles::IsOwnFile(FileHandle file, FileHandle folder,
                            const char* name) {
  const Handle* opened = Open(file);
  const Handle* holder = Open(folder);
  if (opened == nullptr || holder == nullptr) return false;
  const auto found = files_.find(opened->key);
  return found != files_.end() && !found->second.foreign &&
         opened->key == holder->key + Lower(name);
}

void MemoryFiles::Close(FileHandle file) { handles_.erase(file); }

}  // namespace tavelon::fakes
