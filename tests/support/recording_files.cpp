#include "tests/support/recording_files.h"

#include <algorithm>
#include <stdexcept>

namespace tavelon::fakes {

void RecordingFiles::FailCall(Operation operation, int number,
                              std::uint32_t transferred) {
  fail_ = true;
  fail_operation_ = operation;
  fail_number_ = number;
  fail_transferred_ = transferred;
}

std::vector<std::string> RecordingFiles::OpenedPaths() const {
  std::vector<std::string> paths;
  for (const OpenCall& call : opens_) paths.push_back(call.path);
  return paths;
}

bool RecordingFiles::CountAndCheck(Operation operation) {
  const int number = ++calls_[static_cast<int>(operation)];
  return fail_ && operation == fail_operation_ && number == fail_number_;
}

platform::OpenStatus RecordingFiles::OpenExisting(const char* path,
                                                  platform::FileAccess access,
                                                  platform::FileHandle* file) {
  Note(journal, std::string("open file ") + path);
  const platform::OpenStatus status = inner_.OpenExisting(path, access, file);
  opens_.push_back(OpenCall{path, access, status});
  if (status == platform::OpenStatus::kOpened) open_[*file] = path;
  return status;
}

std::int32_t RecordingFiles::Length(platform::FileHandle file) {
  const auto found = open_.find(file);
  if (found == open_.end()) throw std::logic_error("length of a closed file");
  const std::string& path = found->second;
  const std::int32_t length = inner_.Length(file);
  const bool override = length_override_ &&
                        path.size() >= length_name_.size() &&
                        path.compare(path.size() - length_name_.size(),
                                     std::string::npos, length_name_) == 0;
  return override ? length_ : length;
}

bool RecordingFiles::SetPosition(platform::FileHandle file,
                                 std::int64_t position) {
  if (open_.count(file) == 0) throw std::logic_error("seek in a closed file");
  if (CountAndCheck(Operation::kSetPosition)) return false;
  return inner_.SetPosition(file, position);
}

std::uint32_t RecordingFiles::Read(platform::FileHandle file, void* buffer,
                                   std::uint32_t size) {
  if (open_.count(file) == 0) throw std::logic_error("read of a closed file");
  if (CountAndCheck(Operation::kRead)) {
    const std::uint32_t part = std::min(size, fail_transferred_);
    return part == 0 ? 0 : inner_.Read(file, buffer, part);
  }
  return inner_.Read(file, buffer, size);
}

std::uint32_t RecordingFiles::Write(platform::FileHandle file, const void* data,
                                    std::uint32_t size) {
  if (open_.count(file) == 0) throw std::logic_error("write to a closed file");
  if (CountAndCheck(Operation::kWrite)) {
    const std::uint32_t part = std::min(size, fail_transferred_);
    return part == 0 ? 0 : inner_.Write(file, data, part);
  }
  return inner_.Write(file, data, size);
}

bool RecordingFiles::Flush(platform::FileHandle file) {
  if (open_.count(file) == 0) throw std::logic_error("flush of a closed file");
  if (CountAndCheck(Operation::kFlush)) return false;
  return inner_.Flush(file);
}

void RecordingFiles::Close(platform::FileHandle file) {
  const auto found = open_.find(file);
  if (found == open_.end()) throw std::logic_error("close of a closed file");
  Note(journal, "close file " + found->second);
  open_.erase(found);
  inner_.Close(file);
}

}  // namespace tavelon::fakes
