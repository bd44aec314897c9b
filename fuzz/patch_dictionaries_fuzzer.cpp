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
// Input: byte 0 chooses the dictionary's name, byte 1 the operation to fail
// (none, open, length, positioning, read, write), byte 2 the number of the
// failing call, byte 3 how many bytes a failing read or write still
// transfers, bytes 4 and 5 the description's length (little-endian); then
// the description, then the dictionary. Without a failure, bit k % 16 of
// bytes 2 and 3 (byte 2 first) tells whether write k reached the disk.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "patch/dictionary_patcher.h"
#include "platform/memory_files.h"
#include "platform/message_boxes.h"
#include "tools/tavpatch/dry_run.h"

namespace {

using tavelon::platform::MemoryFiles;
using Bytes = MemoryFiles::Bytes;
using Operation = MemoryFiles::Operation;

constexpr char kFolder[] = "C:\\Tavelon\\";
constexpr char kSeekError[] = "Seek error in this file. Skipping...";
constexpr char kCannotOpen[] = "Cannot open this file for writing. Skipping...";
constexpr std::uint32_t kWarning = 0x30;  // MB_OK | MB_ICONWARNING

// The names a dictionary is looked for under, in order; "jap" only after
// "Jpn" could not be opened.
const char* const kNames[] = {"Eng", "Dut", "Fre", "Ger", "Heb",
                              "Ita", "Jpn", "jap", "Ptg", "Spa"};

std::string PathOf(const char* code) {
  return std::string(kFolder) + "data\\engto" + code + ".dic";
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

struct Box {
  std::string text;
  std::string caption;
  std::uint32_t flags;
};

class Recorder final : public tavelon::platform::MessageBoxes {
 public:
  void Show(const char* text, const char* caption,
            std::uint32_t flags) override {
    boxes.push_back({text, caption, flags});
  }
  std::vector<Box> boxes;
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
  Model(Bytes info, Bytes dictionary_bytes, std::string dictionary_path,
        int fail_operation, int fail_number, std::uint32_t transferred)
      : dictionary(std::move(dictionary_bytes)),
        info_(std::move(info)),
        path_(std::move(dictionary_path)),
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
  std::vector<Box> boxes;

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

  Bytes info_;
  std::string path_;
  int fail_operation_;
  int fail_number_;
  std::uint32_t transferred_;
  std::vector<Record> records_;
  std::int64_t position_ = 0;
};

// Runs the whole patch step on the one dictionary and returns its bytes
// after.
Bytes PatchOnce(const Bytes& info, const std::string& path,
                const Bytes& dictionary) {
  MemoryFiles files;
  files.Add("info.tmp", info);
  files.Add(path, dictionary);
  Recorder boxes;
  tavelon::patch::PatchDictionaries(files, boxes, kFolder);
  return *files.Find(path);
}

// `written`: where the patcher wrote, one write per record in order.
void CheckDryRun(unsigned reached, const Bytes& info, const std::string& path,
                 const Bytes& dictionary, const Bytes& after,
                 const std::vector<std::int64_t>& written) {
  using tavelon::tavpatch::Healing;
  MemoryFiles files;
  files.Add("info.tmp", info);
  files.Add(path, dictionary);
  tavelon::patch::PatchDescription description;
  std::int32_t length = 0;
  FUZZ_CHECK(tavelon::patch::ReadPatchDescriptionFile(files, "info.tmp",
                                                      &description, &length) ==
             tavelon::patch::DescriptionStatus::kValid);
  tavelon::platform::FileHandle file = 0;
  FUZZ_CHECK(files.OpenExisting(
                 path.c_str(), tavelon::platform::FileAccess::kReadWrite,
                 &file) == tavelon::platform::OpenStatus::kOpened);
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
  FUZZ_CHECK(PatchOnce(info, path, cut) == after);
  FUZZ_CHECK(PatchOnce(info, path, after) == after);
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

  MemoryFiles files;
  files.Add("info.tmp", info);
  files.Add(path, dictionary);
  if (fail_operation >= 0) {
    files.FailCall(static_cast<Operation>(fail_operation), fail_number,
                   transferred);
  }
  Recorder boxes;
  const int result = tavelon::patch::PatchDictionaries(files, boxes, kFolder);

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
  FUZZ_CHECK(std::count_if(
                 boxes.boxes.begin(), boxes.boxes.end(),
                 [](const Box& box) { return box.text == kSeekError; }) <= 1);

  const Bytes& after = *files.Find(path);
  FUZZ_CHECK(after.size() == dictionary.size());
  FUZZ_CHECK(after == model.dictionary);
  FUZZ_CHECK(*files.Find("info.tmp") == info);
  for (int operation = 0; operation < 5; ++operation) {
    FUZZ_CHECK(files.Calls(static_cast<Operation>(operation)) ==
               model.calls[operation]);
  }

  const std::int64_t length = static_cast<std::int64_t>(dictionary.size());
  for (const MemoryFiles::Access& access : files.accesses()) {
    if (access.operation == Operation::kWrite) {
      FUZZ_CHECK(access.path != "info.tmp");
      FUZZ_CHECK(access.position >= 0 &&
                 access.position + access.size <= length);
    }
    // A read at or past the end transfers nothing: the already-patched
    // test may try one.
    if (access.operation == Operation::kRead && access.path != "info.tmp" &&
        access.transferred > 0) {
      FUZZ_CHECK(access.position >= 0 &&
                 access.position + access.transferred <= length);
    }
  }
  FUZZ_CHECK(files.OpenHandles() == 0);
  FUZZ_CHECK(files.BadHandleCalls() == 0);

  if (fail_operation < 0 && result == 0) {
    std::vector<std::int64_t> written;
    for (const MemoryFiles::Access& access : files.accesses()) {
      if (access.operation == Operation::kWrite) {
        written.push_back(access.position);
      }
    }
    CheckDryRun(static_cast<unsigned>(data[2] | data[3] << 8), info, path,
                dictionary, after, written);
  }
  return 0;
}
