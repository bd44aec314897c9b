// The update description "info.tmp": a 30-byte header followed by 8-byte
// patch records, read whole from the current directory.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace tavelon::patch {

inline constexpr char kPatchDescriptionName[] = "info.tmp";
inline constexpr char kHeaderText[] = "Tavelon Translator - Update";
inline constexpr int kHeaderTextLength = 27;
inline constexpr int kHeaderLength = 30;
inline constexpr int kRecordLength = 8;
// The file is read whole into a buffer of this size.
inline constexpr int kMaxDescriptionLength = 5000;
inline constexpr int kMaxRecords =
    (kMaxDescriptionLength - kHeaderLength) / kRecordLength;  // 621

struct PatchRecord {
  std::int16_t section;    // index into the section table
  std::int16_t entry;      // index into that section's entry table
  unsigned char value[4];  // written as they stand over one item value
};

struct PatchDescription {
  PatchRecord records[kMaxRecords];
  std::int32_t count;         // N; records[count - 1] is the check record
  platform::FileHandle file;  // "info.tmp", still open read-only
};

// Opens, reads and validates "info.tmp". On success the file stays open in
// description->file and the caller closes it; on failure nothing is left
// open. Never shows a message.
bool ReadPatchDescription(platform::Files& files,
                          PatchDescription* description);

}  // namespace tavelon::patch
