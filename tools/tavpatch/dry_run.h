// What the updater's patcher would do to one dictionary file, worked out
// without writing it: the patcher's own check test and record application
// run on an overlay of the file, which reads the file itself and keeps the
// writes in memory. Memory grows with the records, not with the file.
//
// It also tells whether an update of the file that is cut short (a power
// cut after any of its writes) is healed by the next run, which applies the
// whole set again: the next run leaves the bytes of one uninterrupted run
// unless a record writes a table element that it or an earlier record reads
// (the next run then follows the changed tables and writes elsewhere), or
// the check record already finds its value in a file cut short. The first
// holds whichever of the writes reached the disk; the second is examined
// for the writes reaching it in order. The patcher flushes the others before
// the check record's write, so that one is never on the disk without them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "patch/dictionary_patcher.h"
#include "patch/patch_description.h"
#include "platform/files.h"

namespace tavelon::tavpatch {

// One open file with writes laid over it. Reads come from the file, with
// the writes seen so far laid over the bytes delivered; writes never reach
// the file. The patcher never writes past the length it measured, so writes
// past the file's end are not seen by reads. Every positioned read and
// write is kept in order. Opening is refused; the other calls take the one
// file whatever handle they are given.
class OverlayFile final : public platform::Files {
 public:
  struct Access {
    std::int64_t position;
    std::uint32_t size;  // asked for
  };
  struct Written {
    std::int64_t position;
    std::vector<unsigned char> bytes;
  };

  OverlayFile(platform::Files& inner, platform::FileHandle file)
      : inner_(inner), file_(file) {}

  const std::vector<Written>& writes() const { return writes_; }
  const std::vector<Access>& reads() const { return reads_; }
  void ForgetReads() { reads_.clear(); }
  // Reads see only the first `count` writes from now on.
  void SeeWrites(std::size_t count) { seen_ = count; }

  platform::OpenStatus OpenExisting(const char* path,
                                    platform::FileAccess access,
                                    platform::FileHandle* file) override;
  std::int32_t Length(platform::FileHandle file) override;
  bool SetPosition(platform::FileHandle file, std::int64_t position) override;
  std::uint32_t Read(platform::FileHandle file, void* buffer,
                     std::uint32_t size) override;
  std::uint32_t Write(platform::FileHandle file, const void* data,
                      std::uint32_t size) override;
  bool Flush(platform::FileHandle) override { return true; }
  void Close(platform::FileHandle file) override;

 private:
  platform::Files& inner_;
  platform::FileHandle file_;
  std::int64_t position_ = 0;
  std::vector<Written> writes_;
  std::vector<Access> reads_;
  std::size_t seen_ = static_cast<std::size_t>(-1);
};

struct Healing {
  enum class Verdict {
    kHeals,
    kWritesWhatIsRead,  // record `writer` writes the table element at
                        // `position` that record `reader` (<= writer) reads
    kTakenAsPatched,    // cut short after record `cut_after`, the next run's
                        // check test finds the check record's value
  };
  Verdict verdict = Verdict::kHeals;
  std::int32_t writer = 0;
  std::int32_t reader = 0;
  std::int64_t position = 0;
  std::int32_t cut_after = 0;
};

struct DryRun {
  patch::FileReport report;  // as PatchDictionaryFile would give it
  std::vector<OverlayFile::Written> writes;  // in the order made
  Healing healing;
};

// The dry run of an open dictionary file, read through `files`, which is
// never asked to write.
DryRun DryRunDictionary(platform::Files& files, platform::FileHandle file,
                        const patch::PatchDescription& description);

}  // namespace tavelon::tavpatch
