// An arbitrary pair of files, the update description "info.tmp" and one
// dictionary file, patched in memory, with one call of the file operations
// made to fail when the input asks for it. A small model of the patch, of
// its own, says what must come of it; after every run the target checks:
// the result (0, 1, 3 or 4), the message boxes (at most one warning per file),
// the dictionary's bytes (records before a stop written exactly, none after
// it), the calls made, no read or write outside the file's bytes as they
// were, no growth, the description never written, and every file closed.
// Without an injected failure it also checks tavpatch's dry run of the
// dictionary: its writes are the patcher's, and when it says that an update
// cut short heals, a whole run leaves the bytes of the uninterrupted run on
// a file cut short with any combination of the writes before the flush on
// the disk (bytes 2 and 3 choose it), and on the file the uninterrupted run
// left.
//
// Every input runs the patcher against the model, with every check above
// but the dry run's. The dry run's checks (its writes, and the reruns on
// the file cut short and on the file after) take time that grows with the
// square of the writes: some thirty times the rest of the run at 621
// records. They run on every input whose run wrote at most kDryRunWrites
// records; of the longer ones on one in (writes / kDryRunWrites, rounded
// up) squared, chosen by a hash of the input, so that no input spends much
// more on them than one of kDryRunWrites writes, and a saved input gets the
// same checks when it is run again. The files are held by RunFiles, which
// checks the calls as they come without logging them.
//
// Input: byte 0 chooses the dictionary's name, byte 1 the operation to fail
// (none, open, length, positioning, read, write), byte 2 the number of the
// failing call, byte 3 how many bytes a failing read or write still
// transfers, bytes 4 and 5 the description's length (little-endian); then
// the description, then the dictionary. Without a failure, bit k % 16 of
// bytes 2 and 3 (byte 2 first) tells whether write k reached the disk.
#include <strings.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "patch/dictionary_patcher.h"
#include "tests/support/box_recorder.h"
#include "tests/support/expected_texts.h"
#include "tools/tavpatch/dry_run.h"
#include "update/dictionary_warnings.h"

namespace {

using tavelon::fakes::BoxRecorder;
using tavelon::fakes::RecordedBox;
using tavelon::platform::FileAccess;
using tavelon::platform::FileHandle;
using tavelon::platform::OpenStatus;
using Bytes = std::vector<unsigned char>;

// The calls that an input can make fail, in the order of byte 1.
enum class Operation { kOpen, kLength, kSetPosition, kRead, kWrite };
constexpr int kOperations = 5;

constexpr char kFolder[] = "C:\\Tavelon\\";
using tavelon::expected::kCannotOpen;
using tavelon::expected::kSeekError;
constexpr std::uint32_t kWarning = 0x30;  // MB_OK | MB_ICONWARNING

// The dry run's checks run on every run of at most this many writes.
constexpr std::size_t kDryRunWrites = 16;

// The names a dictionary is looked for under, in order; "jap" only after
// "Jpn" could not be opened.
const char* const kNames[] = {"Eng", "Dut", "Fre", "Ger", "Heb",
                              "Ita", "Jpn", "jap", "Ptg", "Spa"};

std::string PathOf(const char* code) {
  return std::string(kFolder) + "data\\engto" + code + ".dic";
}

// Without regard to ASCII letter case, as on Windows.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The two files of a run, the description and the dictionary, in memory.
// The calls behave as the system's do for the calls the patcher makes:
// paths match without regard to letter case, reads stop at the end, a
// write past the end lengthens the file, a negative position is refused,
// and any folder opens. Call `number` (from 1) of one operation can be made
// to fail: a failing open reports kFailed, a failing length -1, a failing
// read or write transfers `transferred` bytes at most. The positions of
// the dictionary's writes are kept; reads and writes outside its bytes as
// they were, and writes to the description, are counted (and the latter
// not made).
//
// This is MemoryFiles cut down to two files and checked as the calls come.
// MemoryFiles under FaultFiles, which logs every call with a copy of the
// path, runs the target at about half the rate, and MemoryFiles under a
// counting wrapper at about seven tenths.
class RunFiles final : public tavelon::platform::Files {
 public:
  // `info` and `path` are held by reference; the dictionary is its own.
  RunFiles(const Bytes& info, const std::string& path, Bytes dictionary)
      : info_(info),
        dictionary_(std::move(dictionary)),
        paths_{"info.tmp", path},
        length_(static_cast<std::int64_t>(dictionary_.size())) {
    handles_.reserve(16);
  }

  void FailCall(Operation operation, int number, std::uint32_t transferred) {
    fail_operation_ = static_cast<int>(operation);
    fail_number_ = number;
    transferred_ = transferred;
  }
  const Bytes& dictionary() const { return dictionary_; }
  int Calls(Operation operation) const {
    return calls_[static_cast<int>(operation)];
  }
  // Where the writes to the dictionary went, in order.
  const std::vector<std::int64_t>& written() const { return written_; }
  // Writes to the description, or not wholly within the dictionary's
  // bytes as they were.
  int StrayWrites() const { return stray_writes_; }
  // Reads of the dictionary that delivered a byte outside them. A read at
  // or past the end delivers nothing: the already-patched test may try
  // one.
  int StrayReads() const { return stray_reads_; }
  int OpenHandles() const {
    return static_cast<int>(
        std::count_if(handles_.begin(), handles_.end(),
                      [](const Handle& handle) { return handle.open; }));
  }
  // Calls with a handle that is not open (never opened, or closed already).
  int BadHandleCalls() const { return bad_handle_calls_; }

  OpenStatus OpenExisting(const char* path, FileAccess access,
                          FileHandle* file) override {
    if (Fails(Operation::kOpen)) return OpenStatus::kFailed;
    for (int index = 0; index < 2; ++index) {
      if (SameName(path, paths_[index])) {
        *file = Add({index, access == FileAccess::kReadWrite, 0, true, ""});
        return OpenStatus::kOpened;
      }
    }
    return OpenStatus::kNotFound;
  }
  std::int32_t Length(FileHandle file) override {
    const bool fail = Fails(Operation::kLength);
    const Handle* handle = File(file);
    if (handle == nullptr || fail) return -1;
    return static_cast<std::int32_t>(Content(*handle).size());
  }
  bool SetPosition(FileHandle file, std::int64_t position) override {
    const bool fail = Fails(Operation::kSetPosition);
    Handle* handle = File(file);
    if (handle == nullptr || fail || position < 0) return false;
    handle->position = position;
    return true;
  }
  std::uint32_t Read(FileHandle file, void* buffer,
                     std::uint32_t size) override {
    const std::uint32_t allowed = Allowed(Operation::kRead, size);
    Handle* handle = File(file);
    if (handle == nullptr) return 0;
    const Bytes& bytes = Content(*handle);
    const std::int64_t length = static_cast<std::int64_t>(bytes.size());
    const std::uint32_t count =
        static_cast<std::uint32_t>(std::min<std::int64_t>(
            allowed, std::max<std::int64_t>(0, length - handle->position)));
    if (count > 0) {
      std::memcpy(buffer,
                  bytes.data() + static_cast<std::size_t>(handle->position),
                  count);
    }
    if (handle->file == kDictionary && count > 0 &&
        !Within(handle->position, count)) {
      ++stray_reads_;
    }
    handle->position += count;
    return count;
  }
  std::uint32_t Write(FileHandle file, const void* data,
                      std::uint32_t size) override {
    std::uint32_t count = Allowed(Operation::kWrite, size);
    Handle* handle = File(file);
    if (handle == nullptr) return 0;
    if (handle->file != kDictionary) {
      ++stray_writes_;
      return 0;
    }
    written_.push_back(handle->position);
    if (!Within(handle->position, size)) ++stray_writes_;
    // Only a file opened for writing takes writes; none makes it 2 GiB.
    if (!handle->writable || handle->position + count > 0x7FFFFFFF) count = 0;
    if (count > 0) {
      const std::size_t at = static_cast<std::size_t>(handle->position);
      if (at + count > dictionary_.size()) dictionary_.resize(at + count, 0);
      std::memcpy(dictionary_.data() + at, data, count);
    }
    handle->position += count;
    return count;
  }
  bool Flush(FileHandle file) override { return File(file) != nullptr; }
  // Any folder opens, but for a path that names one of the files.
  OpenStatus OpenFolder(const char* path, FileHandle* folder) override {
    std::string name = path;
    if (!name.empty() && name.back() == '\\') name.pop_back();
    if (SameName(name, paths_[0]) || SameName(name, paths_[1])) {
      return OpenStatus::kFailed;
    }
    *folder = Add({kDataFolder, false, 0, true, name + '\\'});
    return OpenStatus::kOpened;
  }
  bool IsOwnFile(FileHandle file, FileHandle folder,
                 const char* name) override {
    const Handle* opened = File(file);
    const Handle* holder = File(folder);
    if (opened == nullptr || holder == nullptr || opened->file == kDataFolder) {
      return false;
    }
    const std::string_view path = paths_[opened->file];
    const std::size_t split = holder->folder.size();
    return path.size() >= split &&
           SameName(path.substr(0, split), holder->folder) &&
           SameName(path.substr(split), name);
  }
  void Close(FileHandle file) override {
    Handle* handle = File(file);
    if (handle != nullptr) handle->open = false;
  }

 private:
  enum { kDataFolder = -1, kDescription, kDictionary };
  struct Handle {
    int file;  // kDescription, kDictionary or kDataFolder
    bool writable;
    std::int64_t position;
    bool open;
    std::string folder;  // a folder's path, ending in '\\'
  };

  // Counts a call; true when it is the one to fail.
  bool Fails(Operation operation) {
    const int index = static_cast<int>(operation);
    return ++calls_[index] == fail_number_ && index == fail_operation_;
  }
  std::uint32_t Allowed(Operation operation, std::uint32_t size) {
    return Fails(operation) ? std::min(transferred_, size) : size;
  }
  // A folder reads as an empty file.
  const Bytes& Content(const Handle& handle) const {
    static const Bytes kNothing;
    return handle.file == kDictionary    ? dictionary_
           : handle.file == kDescription ? info_
                                         : kNothing;
  }
  bool Within(std::int64_t position, std::uint32_t size) const {
    return position >= 0 && position + size <= length_;
  }
  FileHandle Add(Handle handle) {
    handles_.push_back(std::move(handle));
    return static_cast<FileHandle>(handles_.size());
  }
  // The open file or folder behind a handle, or nullptr (a bad call).
  Handle* File(FileHandle file) {
    if (file >= 1 && static_cast<std::size_t>(file) <= handles_.size() &&
        handles_[static_cast<std::size_t>(file) - 1].open) {
      return &handles_[static_cast<std::size_t>(file) - 1];
    }
    ++bad_handle_calls_;
    return nullptr;
  }

  const Bytes& info_;
  Bytes dictionary_;
  std::string_view paths_[2];    // by kDescription, kDictionary
  std::vector<Handle> handles_;  // handle h is handles_[h - 1]
  std::int64_t length_;          // the dictionary's, as it was
  std::vector<std::int64_t> written_;
  int stray_writes_ = 0;
  int stray_reads_ = 0;
  int calls_[kOperations] = {};
  int fail_operation_ = -1;
  int fail_number_ = 0;
  std::uint32_t transferred_ = 0;
  int bad_handle_calls_ = 0;
};

struct Record {
  std::int64_t section;
  std::int64_t entry;
  std::uint8_t value[4];
};

std::int64_t Signed32(const Bytes& bytes, std::int64_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value * 256 + bytes[static_cast<std::size_t>(at + i)];
  }
  return value < 0x80000000u ? static_cast<std::int64_t>(value)
                             : static_cast<std::int64_t>(value) - 0x100000000LL;
}

// The patch as the product's update is meant to work, on the bytes in
// memory, counting the calls it makes so that the failing one is known.
class Model {
 public:
  Model(const Bytes& info, Bytes dictionary_bytes,
        const std::string& dictionary_path, int fail_operation, int fail_number,
        std::uint32_t transferred)
      : dictionary(std::move(dictionary_bytes)),
        info_(info),
        path_(dictionary_path),
        fail_operation_(fail_operation),
        fail_number_(fail_number),
        transferred_(transferred) {}

  int Run() {
    if (Fails(Operation::kOpen)) return 1;
    const std::int64_t length = Fails(Operation::kLength)
                                    ? -1
                                    : static_cast<std::int64_t>(info_.size());
    if (length < 30 || length > 5000 || (length - 30) % 8 != 0) return 1;
    const std::uint32_t asked = static_cast<std::uint32_t>(length);
    const std::uint32_t allowed =
        Fails(Operation::kRead) ? std::min(transferred_, asked) : asked;
    if (std::min<std::size_t>(allowed, info_.size()) != asked) return 1;
    if (std::memcmp(info_.data(), "Tavelon Translator - Update", 27) != 0) {
      return 1;
    }
    records_.reserve(static_cast<std::size_t>((length - 30) / 8));
    for (std::int64_t at = 30; at < length; at += 8) {
      const std::uint8_t* bytes = info_.data() + at;
      Record record;
      record.section = static_cast<std::int16_t>(bytes[0] | bytes[1] << 8);
      record.entry = static_cast<std::int16_t>(bytes[2] | bytes[3] << 8);
      std::memcpy(record.value, bytes + 4, 4);
      records_.push_back(record);
    }
    if (records_.empty()) return 3;

    bool any = false;
    int found = 0;
    int refused = 0;
    for (const char* code : kNames) {
      if (std::strcmp(code, "jap") == 0) continue;  // only as the fallback
      std::string opened = PathOf(code);
      int status = Open(opened);
      std::string failed = status == kFailed ? opened : "";
      if (status != kOpened && std::strcmp(code, "Jpn") == 0) {
        opened = PathOf("jap");
        status = Open(opened);
        if (status == kFailed && failed.empty()) failed = opened;
      }
      if (status != kOpened) {
        if (!failed.empty()) {
          boxes.push_back({kCannotOpen, failed, kWarning});
          ++found;
          ++refused;
        }
        continue;
      }
      ++found;
      const int outcome = Patch();
      if (outcome != kAlreadyPatched) any = true;
      if (outcome == kStopped) boxes.push_back({kSeekError, opened, kWarning});
    }
    // Every dictionary found refused: nothing could be written.
    if (found > 0 && refused == found) return 4;
    return any ? 0 : 3;
  }

  int calls[6] = {};
  Bytes dictionary;
  std::vector<RecordedBox> boxes;

 private:
  enum { kOpened, kNotFound, kFailed };
  enum { kAlreadyPatched, kAllApplied, kStopped };

  bool Fails(Operation operation) {
    const int index = static_cast<int>(operation);
    return ++calls[index] == fail_number_ && index == fail_operation_;
  }
  int Open(const std::string& path) {
    if (Fails(Operation::kOpen)) return kFailed;
    return SameName(path, path_) ? kOpened : kNotFound;
  }
  // Positionings of negative positions are refused before any call.
  bool SetPosition(std::int64_t at) {
    if (at < 0 || Fails(Operation::kSetPosition)) return false;
    position_ = at;
    return true;
  }
  // Reads four bytes at the position: the number read, the value in *out.
  bool Read(std::int64_t* out) {
    const std::uint32_t allowed =
        Fails(Operation::kRead) ? std::min<std::uint32_t>(transferred_, 4) : 4;
    const std::int64_t size = static_cast<std::int64_t>(dictionary.size());
    const std::int64_t got = std::min<std::int64_t>(
        allowed, std::max<std::int64_t>(0, size - position_));
    if (got < 4) return false;
    *out = Signed32(dictionary, position_);
    return true;
  }
  bool Write(const std::uint8_t (&value)[4]) {
    const std::uint32_t allowed =
        Fails(Operation::kWrite) ? std::min<std::uint32_t>(transferred_, 4) : 4;
    for (std::uint32_t i = 0; i < allowed; ++i) {
      dictionary[static_cast<std::size_t>(position_) + i] = value[i];
    }
    return allowed == 4;
  }
  // Follows the record's chain: the position of its item value, or -1 when
  // the chain cannot be followed. With bounds, each position must leave
  // four bytes within the length.
  bool Lookup(const Record& record, bool bounded, std::int64_t length,
              std::int64_t* position, bool* out_of_bounds) {
    const auto within = [&](std::int64_t at) {
      return !bounded || (at >= 0 && at + 4 <= length);
    };
    std::int64_t at = 100 + 4 * record.section;
    std::int64_t element = 0;
    for (int step = 0; step < 2; ++step) {
      if (!within(at)) {
        *out_of_bounds = true;
        return false;
      }
      if (!SetPosition(at) || !Read(&element)) return false;
      at = element + (step == 0 ? 4 * record.entry : 1);
    }
    if (!within(at)) {
      *out_of_bounds = true;
      return false;
    }
    *position = at;
    return true;
  }

  int Patch() {
    const std::int64_t length =
        Fails(Operation::kLength)
            ? -1
            : static_cast<std::int64_t>(dictionary.size());
    const Record& check = records_.back();
    std::int64_t at = 0;
    std::int64_t value = 0;
    bool ignored = false;
    if (Lookup(check, false, length, &at, &ignored) && SetPosition(at) &&
        Read(&value)) {
      std::uint8_t bytes[4];
      std::memcpy(bytes, dictionary.data() + at, 4);
      if (std::memcmp(bytes, check.value, 4) == 0) return kAlreadyPatched;
    }
    for (const Record& record : records_) {
      bool out_of_bounds = false;
      if (!Lookup(record, true, length, &at, &out_of_bounds) ||
          !SetPosition(at) || !Write(record.value)) {
        return kStopped;
      }
    }
    return kAllApplied;
  }

  const Bytes& info_;
  const std::string& path_;
  int fail_operation_;
  int fail_number_;
  std::uint32_t transferred_;
  std::vector<Record> records_;
  std::int64_t position_ = 0;
};

// What a whole run does to the one dictionary, given the description it
// reads: its bytes after. Only the file's own step is made, as the rest of
// a run, reading the description and finding the file by its name, does
// not depend on the dictionary's bytes.
Bytes PatchFile(const Bytes& info, const std::string& path,
                const tavelon::patch::PatchDescription& description,
                Bytes dictionary) {
  RunFiles files(info, path, std::move(dictionary));
  FileHandle file = 0;
  FUZZ_CHECK(files.OpenExisting(path.c_str(), FileAccess::kReadWrite, &file) ==
             OpenStatus::kOpened);
  tavelon::patch::PatchDictionaryFile(files, file, description);
  return files.dictionary();
}

// `written`: where the patcher wrote, one write per record in order.
void CheckDryRun(unsigned reached, const Bytes& info, const std::string& path,
                 const Bytes& dictionary, const Bytes& after,
                 const std::vector<std::int64_t>& written) {
  using tavelon::tavpatch::Healing;
  RunFiles files(info, path, dictionary);
  tavelon::patch::PatchDescription description;
  std::int32_t length = 0;
  FUZZ_CHECK(tavelon::patch::ReadPatchDescriptionFile(files, "info.tmp",
                                                      &description, &length) ==
             tavelon::patch::DescriptionStatus::kValid);
  FileHandle file = 0;
  FUZZ_CHECK(files.OpenExisting(path.c_str(), FileAccess::kReadWrite, &file) ==
             OpenStatus::kOpened);
  const tavelon::tavpatch::DryRun run =
      tavelon::tavpatch::DryRunDictionary(files, file, description);
  FUZZ_CHECK(files.Calls(Operation::kWrite) == 0);

  Bytes predicted = dictionary;
  FUZZ_CHECK(run.writes.size() == written.size());
  for (std::size_t k = 0; k < run.writes.size(); ++k) {
    const auto& write = run.writes[k];
    FUZZ_CHECK(write.position == written[k]);
    FUZZ_CHECK(write.position >= 0 &&
               write.position + 4 <=
                   static_cast<std::int64_t>(predicted.size()));
    std::copy(write.bytes.begin(), write.bytes.end(),
              predicted.begin() + static_cast<std::ptrdiff_t>(write.position));
  }
  FUZZ_CHECK(predicted == after);

  if (run.healing.verdict != Healing::Verdict::kHeals) return;
  // The check record's write, the last when all were made, reaches the
  // disk only after the others: with it the file is the one after.
  const std::size_t before_flush =
      written.size() -
      (written.size() == static_cast<std::size_t>(description.count) ? 1 : 0);
  Bytes cut = dictionary;
  for (std::size_t k = 0; k < before_flush; ++k) {
    if ((reached >> (k % 16) & 1) == 0) continue;
    const std::uint8_t* value = description.records[k].value;
    std::copy(value, value + 4,
              cut.begin() + static_cast<std::ptrdiff_t>(written[k]));
  }
  FUZZ_CHECK(PatchFile(info, path, description, cut) == after);
  FUZZ_CHECK(PatchFile(info, path, description, after) == after);
}

// Whether this input's run, of `writes` writes, gets the dry run's checks:
// always up to kDryRunWrites, then one in (writes / kDryRunWrites, rounded
// up) squared, by an FNV-1a hash of the input.
bool ChosenForDryRun(const std::uint8_t* data, std::size_t size,
                     std::size_t writes) {
  if (writes <= kDryRunWrites) return true;
  const std::uint64_t ratio = (writes + kDryRunWrites - 1) / kDryRunWrites;
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = 0; i < size; ++i) {
    hash = (hash ^ data[i]) * 16777619u;
  }
  return hash % (ratio * ratio) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 6) return 0;
  const std::string path = PathOf(kNames[data[0] % 10]);
  const int fail_operation = data[1] % 6 - 1;  // -1: none
  const int fail_number = data[2] + 1;
  const std::uint32_t transferred = data[3] % 5u;
  const std::size_t info_length = std::min<std::size_t>(
      static_cast<std::size_t>(data[4] | data[5] << 8), size - 6);
  const Bytes info(data + 6, data + 6 + info_length);
  const Bytes dictionary(data + 6 + info_length, data + size);

  RunFiles files(info, path, dictionary);
  if (fail_operation >= 0) {
    files.FailCall(static_cast<Operation>(fail_operation), fail_number,
                   transferred);
  }
  BoxRecorder boxes;
  const int result =
      tavelon::update::PatchDictionariesWithWarnings(files, boxes, kFolder);

  Model model(info, dictionary, path, fail_operation, fail_number, transferred);
  const int expected = model.Run();

  FUZZ_CHECK(result == 0 || result == 1 || result == 3 || result == 4);
  FUZZ_CHECK(result == expected);
  FUZZ_CHECK(boxes.boxes.size() == model.boxes.size());
  for (std::size_t i = 0; i < boxes.boxes.size(); ++i) {
    FUZZ_CHECK(boxes.boxes[i].text == model.boxes[i].text);
    FUZZ_CHECK(boxes.boxes[i].caption == model.boxes[i].caption);
    FUZZ_CHECK(boxes.boxes[i].flags == model.boxes[i].flags);
  }
  // Only one dictionary exists: it gets at most one warning.
  FUZZ_CHECK(std::count_if(boxes.boxes.begin(), boxes.boxes.end(),
                           [](const RecordedBox& box) {
                             return box.text == kSeekError;
                           }) <= 1);

  const Bytes& after = files.dictionary();
  FUZZ_CHECK(after.size() == dictionary.size());
  FUZZ_CHECK(after == model.dictionary);
  for (int operation = 0; operation < kOperations; ++operation) {
    FUZZ_CHECK(files.Calls(static_cast<Operation>(operation)) ==
               model.calls[operation]);
  }

  FUZZ_CHECK(files.StrayWrites() == 0);
  FUZZ_CHECK(files.StrayReads() == 0);
  FUZZ_CHECK(files.OpenHandles() == 0);
  FUZZ_CHECK(files.BadHandleCalls() == 0);

  if (fail_operation < 0 && result == 0) {
    const std::vector<std::int64_t>& written = files.written();
    if (!ChosenForDryRun(data, size, written.size())) return 0;
    CheckDryRun(static_cast<unsigned>(data[2] | data[3] << 8), info, path,
                dictionary, after, written);
  }
  return 0;
}
