#include "patch/patch_description.h"

#include <cstring>

#include "patch/little_endian.h"

namespace tavelon::patch {

DescriptionStatus ReadPatchDescriptionFile(platform::Files& files,
                                           const char* path,
                                           PatchDescription* description,
                                           std::int32_t* length,
                                           const ReleaseBinding& binding,
                                           platform::Sha256* sha256) {
  *length = 0;
  platform::FileHandle file = 0;
  if (files.OpenExisting(path, platform::FileAccess::kRead, &file) !=
      platform::OpenStatus::kOpened) {
    return DescriptionStatus::kCannotOpen;
  }

  // Read whole, in one read, from the start where a fresh open leaves the
  // position. A file longer than the buffer is refused like any other
  // invalid file, so nothing is read past the buffer.
  unsigned char content[kMaxDescriptionLength];
  *length = files.Length(file);
  DescriptionStatus status = DescriptionStatus::kValid;
  if (*length < kHeaderLength ||
      (*length - kHeaderLength) % kRecordLength != 0) {
    status = DescriptionStatus::kBadLength;
  } else if (*length > kMaxDescriptionLength) {
    status = DescriptionStatus::kTooLong;
  } else if (files.Read(file, content, static_cast<std::uint32_t>(*length)) !=
             static_cast<std::uint32_t>(*length)) {
    status = DescriptionStatus::kShortRead;
  } else if (std::memcmp(content, kHeaderText, kHeaderTextLength) != 0) {
    status = DescriptionStatus::kBadHeader;
  } else if (binding.bound) {
    platform::Sha256Digest digest;
    if (binding.info == nullptr || sha256 == nullptr ||
        !platform::DigestOf(*sha256, content,
                            static_cast<std::uint32_t>(*length), &digest) ||
        !platform::SameDigest(digest, *binding.info)) {
      status = DescriptionStatus::kNotReleased;
    }
  }
  if (status != DescriptionStatus::kValid) {
    files.Close(file);
    return status;
  }

  const std::int32_t count = (*length - kHeaderLength) / kRecordLength;
  for (std::int32_t i = 0; i < count; ++i) {
    const unsigned char* bytes = content + kHeaderLength + kRecordLength * i;
    PatchRecord& record = description->records[i];
    record.section =
        static_cast<std::int16_t>(DecodeSignedLittleEndian(bytes, 2));
    record.entry =
        static_cast<std::int16_t>(DecodeSignedLittleEndian(bytes + 2, 2));
    std::memcpy(record.value, bytes + 4, sizeof record.value);
  }
  description->count = count;
  description->file = file;
  return DescriptionStatus::kValid;
}

bool ReadPatchDescription(platform::Files& files, PatchDescription* description,
                          const ReleaseBinding& binding,
                          platform::Sha256* sha256) {
  std::int32_t length = 0;
  return ReadPatchDescriptionFile(files, kPatchDescriptionName, description,
                                  &length, binding,
                                  sha256) == DescriptionStatus::kValid;
}

}  // namespace tavelon::patch
