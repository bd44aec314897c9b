#include "patch/patch_description.h"

#include <cstring>

namespace tavelon::patch {
namespace {

// Little-endian, byte by byte, so that the host's byte order and alignment
// play no part; FF FF reads as -1.
std::int16_t DecodeInt16(const unsigned char* bytes) {
  const unsigned int raw = static_cast<unsigned int>(bytes[0]) |
                           (static_cast<unsigned int>(bytes[1]) << 8);
  const int value = static_cast<int>(raw);
  return static_cast<std::int16_t>(value >= 0x8000 ? value - 0x10000 : value);
}

bool IsValidLength(std::int32_t length) {
  return length >= kHeaderLength && length <= kMaxDescriptionLength &&
         (length - kHeaderLength) % kRecordLength == 0;
}

}  // namespace

bool ReadPatchDescription(platform::Files& files,
                          PatchDescription* description) {
  platform::FileHandle file = 0;
  if (files.OpenExisting(kPatchDescriptionName, platform::FileAccess::kRead,
                         &file) != platform::OpenStatus::kOpened) {
    return false;
  }

  // Read whole, in one read, from the start where a fresh open leaves the
  // position. A file longer than the buffer is refused like any other
  // invalid file, so nothing is read past the buffer.
  unsigned char content[kMaxDescriptionLength];
  const std::int32_t length = files.Length(file);
  const bool valid =
      IsValidLength(length) &&
      files.Read(file, content, static_cast<std::uint32_t>(length)) ==
          static_cast<std::uint32_t>(length) &&
      std::memcmp(content, kHeaderText, kHeaderTextLength) == 0;
  if (!valid) {
    files.Close(file);
    return false;
  }

  const std::int32_t count = (length - kHeaderLength) / kRecordLength;
  for (std::int32_t i = 0; i < count; ++i) {
    const unsigned char* bytes = content + kHeaderLength + kRecordLength * i;
    PatchRecord& record = description->records[i];
    record.section = DecodeInt16(bytes);
    record.entry = DecodeInt16(bytes + 2);
    std::memcpy(record.value, bytes + 4, sizeof record.value);
  }
  description->count = count;
  description->file = file;
  return true;
}

}  // namespace tavelon::patch
