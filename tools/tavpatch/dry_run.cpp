#include "tools/tavpatch/dry_run.h"

#include <algorithm>
#include <cstring>

namespace tavelon::tavpatch {
namespace {

bool Overlap(std::int64_t a, std::int64_t a_size, std::int64_t b,
             std::int64_t b_size) {
  return a < b + b_size && b < a + a_size;
}

// The bytes that a write covered, as the file reads with only the first
// `seen` writes made.
std::vector<unsigned char> BytesUnder(OverlayFile& file,
                                      const OverlayFile::Written& write,
                                      std::size_t seen) {
  std::vector<unsigned char> bytes(write.bytes.size());
  file.SeeWrites(seen);
  if (!file.SetPosition(0, write.position) ||
      file.Read(0, bytes.data(), static_cast<std::uint32_t>(bytes.size())) !=
          bytes.size()) {
    bytes.clear();
  }
  return bytes;
}

// `file` holds the reads and writes of one ApplyRecords, which makes two
// reads and then one write per record.
Healing CheckHealing(OverlayFile& file,
                     const patch::PatchDescription& description) {
  Healing healing;
  const std::vector<OverlayFile::Written> writes = file.writes();
  const std::vector<OverlayFile::Access> reads = file.reads();

  // A rerun reads a record's table elements after the cut run made writes
  // of that record and the later ones: none may lie on an element read.
  for (std::size_t w = 0; w < writes.size(); ++w) {
    for (std::size_t r = 0; r < reads.size() && r / 2 <= w; ++r) {
      if (Overlap(writes[w].position,
                  static_cast<std::int64_t>(writes[w].bytes.size()),
                  reads[r].position, reads[r].size)) {
        healing.verdict = Healing::Verdict::kWritesWhatIsRead;
        healing.writer = static_cast<std::int32_t>(w);
        healing.reader = static_cast<std::int32_t>(r / 2);
        healing.position = reads[r].position;
        return healing;
      }
    }
  }

  // A file cut short must not pass the check test, unless it already holds
  // what a whole run leaves.
  for (std::size_t cut = 1; cut < writes.size(); ++cut) {
    file.SeeWrites(cut);
    if (!patch::IsAlreadyPatched(file, 0, description)) continue;
    bool whole = true;
    for (std::size_t w = cut; w < writes.size() && whole; ++w) {
      whole = BytesUnder(file, writes[w], cut) ==
              BytesUnder(file, writes[w], writes.size());
    }
    if (!whole) {
      healing.verdict = Healing::Verdict::kTakenAsPatched;
      healing.cut_after = static_cast<std::int32_t>(cut - 1);
      break;
    }
  }
  file.SeeWrites(writes.size());
  return healing;
}

}  // namespace

platform::OpenStatus OverlayFile::OpenExisting(const char*,
                                               platform::FileAccess,
                                               platform::FileHandle*) {
  return platform::OpenStatus::kFailed;
}

std::int32_t OverlayFile::Length(platform::FileHandle) {
  return inner_.Length(file_);
}

bool OverlayFile::SetPosition(platform::FileHandle, std::int64_t position) {
  if (position < 0) return false;
  position_ = position;
  return true;
}

std::uint32_t OverlayFile::Read(platform::FileHandle, void* buffer,
                                std::uint32_t size) {
  reads_.push_back({position_, size});
  if (!inner_.SetPosition(file_, position_)) return 0;
  const std::uint32_t got = inner_.Read(file_, buffer, size);
  if (got > size) return 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  const std::size_t seen = std::min(seen_, writes_.size());
  for (std::size_t w = 0; w < seen; ++w) {
    const Written& write = writes_[w];
    const std::int64_t end =
        write.position + static_cast<std::int64_t>(write.bytes.size());
    const std::int64_t from = std::max(position_, write.position);
    const std::int64_t to = std::min(position_ + got, end);
    for (std::int64_t at = from; at < to; ++at) {
      bytes[at - position_] =
          write.bytes[static_cast<std::size_t>(at - write.position)];
    }
  }
  position_ += got;
  return got;
}

std::uint32_t OverlayFile::Write(platform::FileHandle, const void* data,
                                 std::uint32_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  writes_.push_back(
      {position_, std::vector<unsigned char>(bytes, bytes + size)});
  position_ += size;
  return size;
}

void OverlayFile::Close(platform::FileHandle) {}

DryRun DryRunDictionary(platform::Files& files, platform::FileHandle file,
                        const patch::PatchDescription& description) {
  // The same calls in the same order as PatchDictionaryFile.
  OverlayFile overlay(files, file);
  DryRun run;
  const std::int32_t length = overlay.Length(file);
  run.report = {patch::FileOutcome::kAlreadyPatched, length, 0, 0,
                patch::FileStep::kSectionElement};
  if (patch::IsAlreadyPatched(overlay, file, description)) return run;
  overlay.ForgetReads();
  run.report = patch::ApplyRecords(overlay, file, description, length);
  run.healing = CheckHealing(overlay, description);
  run.writes = overlay.writes();
  return run;
}

}  // namespace tavelon::tavpatch
