// The update description "info.tmp": a 30-byte header followed by 8-byte
// patch records, read whole from the current directory.
#pragma once

#include <cstdint>

#include "patch/release_binding.h"
#include "platform/digest.h"
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

// The outcome of reading an update description: valid, or the first rule
// that the file breaks, in the order in which the rules are tested.
enum class DescriptionStatus {
  kValid,
  kCannotOpen,   // missing, or cannot be opened for reading
  kBadLength,    // not 30 + 8 N bytes long, or the length cannot be determined
  kTooLong,      // longer than kMaxDescriptionLength (more than 621 records)
  kShortRead,    // the one read delivered fewer bytes than the length
  kBadHeader,    // the first 27 bytes are not the header text
  kNotReleased,  // valid, but not the bytes the program was released with
};

// Opens, reads and validates the update description at `path`. When valid,
// the file stays open in description->file and the caller closes it;
// otherwise nothing is left open. *length is the length measured (-1 when
// unknown, 0 when the file could not be opened). A bound program's valid
// file must also be the one released (its digest, by `sha256`, of the
// bytes read, the file being read whole in one read). Never shows a
// message.
DescriptionStatus ReadPatchDescriptionFile(
    platform::Files& files, const char* path, PatchDescription* description,
    std::int32_t* length, const ReleaseBinding& binding = kUnbound,
    platform::Sha256* sha256 = nullptr);

// Reads "info.tmp" from the current directory as above; true when valid.
bool ReadPatchDescription(platform::Files& files, PatchDescription* description,
                          const ReleaseBinding& binding = kUnbound,
                          platform::Sha256* sha256 = nullptr);

}  // namespace tavelon::patch
