#include "tools/tavpatch/dry_run.h"

#include <algorithm>
#include <cstring>

namespace tavelon::tavpatch {
namespace {

// True when `write` puts, on a byte that `read` delivered, another value
// than the one read there.
bool Changes(const OverlayFile::Written& write,
             const OverlayFile::Access& read) {
  const std::int64_t from = std::max(write.position, read.position);
  const std::int64_t to =
      std::min(write.position + static_cast<std::int64_t>(write.bytes.size()),
               read.position + static_cast<std::int64_t>(read.bytes.size()));
  for (std::int64_t at = from; at < to; ++at) {
    if (write.bytes[static_cast<std::size_t>(at - write.position)] !=
        read.bytes[static_cast<std::size_t>(at - read.position)]) {
      return true;
    }
  }
  return false;
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
// reads and then one write per record; `check_reads` are the reads of the
// check test on the file as it was. `all_applied`: the last write is the
// check record's, made after the flush; the others may reach the disk in
// any combination.
Healing CheckHealing(OverlayFile& file,
                     const std::vector<OverlayFile::Access>& check_reads,
                     const patch::PatchDescription& description,
                     bool all_applied) {
  Healing healing;
  const std::vector<OverlayFile::Written> writes = file.writes();
  const std::vector<OverlayFile::Access> reads = file.reads();

  // The next run writes a record's table elements again only after its
  // lookup: a write that changes an element that the same or an earlier
  // record read sends that lookup elsewhere when it reached the disk.
  for (std::size_t w = 0; w < writes.size(); ++w) {
    for (std::size_t r = 0; r < reads.size() && r / 2 <= w; ++r) {
      if (Changes(writes[w], reads[r])) {
        healing.verdict = Healing::Verdict::kWritesWhatIsRead;
        healing.writer = static_cast<std::int32_t>(w);
        healing.reader = static_cast<std::int32_t>(r / 2);
        healing.position = reads[r].position;
        return healing;
      }
    }
  }

  // A file cut short in order must not pass the check test, unless it
  // already holds what a whole run leaves. Only a write found by the next
  // loop can make it pass; this names the cut when one in order shows it.
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
  if (healing.verdict != Healing::Verdict::kHeals) return healing;

  // The check test reads a file cut short before any of its own writes.
  // Where none of the writes before the flush changes what it read in the
  // file as it was, it reads the same in every combination of them and
  // finds the file unpatched again; otherwise a combination may lead it to
  // the check record's value (one written by an earlier record, say) in a
  // file that lacks other writes.
  const std::size_t before_flush =
      all_applied ? writes.size() - 1 : writes.size();
  for (std::size_t w = 0; w < before_flush; ++w) {
    for (const OverlayFile::Access& read : check_reads) {
      if (Changes(writes[w], read)) {
        healing.verdict = Healing::Verdict::kWritesCheckLookup;
        healing.writer = static_cast<std::int32_t>(w);
        healing.position = read.position;
        return healing;
      }
    }
  }
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
  reads_.push_back({position_, size, {}});
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
  reads_.back().bytes.assign(bytes, bytes + got);
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
  const std::vector<OverlayFile::Access> check_reads = overlay.reads();
  overlay.ForgetReads();
  run.report = patch::ApplyRecords(overlay, file, description, length);
  run.healing =
      CheckHealing(overlay, check_reads, description,
                   run.report.outcome == patch::FileOutcome::kAllApplied);
  run.writes = overlay.writes();
  return run;
}

}  // namespace tavelon::tavpatch
