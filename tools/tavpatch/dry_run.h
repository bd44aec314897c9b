// What the updater's patcher would do to one dictionary file, worked out
// without writing it: the patcher's own check test and record application
// run on an overlay of the file, which reads the file itself and keeps the
// writes in memory. Memory grows with the records, not with the file.
//
// It also tells whether an update of the file that is cut short (a power
// cut, a full disk) is healed by the next run, which applies the whole set
// again. The writes before the flush may reach the disk in any combination,
// not only in order; the check record's write reaches it only after all of
// them. The next run leaves the bytes of one uninterrupted run when both of
// its lookups see what the uninterrupted run's saw:
// - its check test reads the file as it was wherever no write before the
//   flush changes a byte that the test read there;
// - each record's lookup reads what it read in the uninterrupted run
//   wherever no write of that record or a later one changes a byte of the
//   table elements it read (the earlier records write theirs again first).
// A write that puts back the bytes already there changes nothing and is
// never blamed.
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
// past the file's end are not seen by reads. Every positioned read (with
// the bytes it delivered) and write is kept in order. Opening is refused;
// the other calls take the one file whatever handle they are given.
class OverlayFile final : public platform::Files {
 public:
  struct Access {
    std::int64_t position;
    std::uint32_t size;                // asked for
    std::vector<unsigned char> bytes;  // delivered
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
  platform::OpenStatus OpenFolder(const char*, platform::FileHandle*) override {
    return platform::OpenStatus::kFailed;
  }
  bool IsOwnFile(platform::FileHandle, platform::FileHandle,
                 const char*) override {
    return false;
  }
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
    kWritesWhatIsRead,   // record `writer` changes bytes of the table
                         // element at `position` that record `reader`
                         // (<= writer) reads
    kTakenAsPatched,     // cut short after record `cut_after`, the next run's
                         // check test finds the check record's value
    kWritesCheckLookup,  // record `writer`, written before the flush,
                         // changes bytes that the check test reads at
                         // `position` in the file as it was
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
