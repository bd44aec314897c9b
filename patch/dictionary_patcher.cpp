#include "patch/dictionary_patcher.h"

#include <cstddef>
#include <cstring>

#include "patch/little_endian.h"
#include "platform/path_text.h"
#include "platform/text.h"

namespace tavelon::patch {
namespace {

using platform::FileHandle;
using platform::Files;

// The section table starts at this byte of every dictionary file.
constexpr std::int64_t kSectionTablePosition = 100;
constexpr std::uint32_t kValueSize = 4;
// No bound: the already-patched test follows the tables wherever they lead.
constexpr std::int64_t kNoLimit = INT64_MAX / 2;

// The four bytes at the position must lie within `limit` bytes.
bool Within(std::int64_t position, std::int64_t limit) {
  return position >= 0 && position + kValueSize <= limit;
}

// Follows a record's lookup through the file's current tables, as far as
// the position of the item value it replaces: the section table element
// gives the entry table, whose element gives the item, whose value follows
// its first byte. Each element is read only within `limit`. On success
// report->step is kItemValue and report->position the value's position,
// not yet tested; otherwise report->outcome says why it stopped, and
// report->step and report->position where.
bool LocateValue(Files& files, FileHandle file, const PatchRecord& record,
                 std::int64_t limit, FileReport* report) {
  const std::int64_t index[2] = {record.section, record.entry};
  std::int64_t table = kSectionTablePosition;
  for (int level = 0; level < 2; ++level) {
    report->step =
        level == 0 ? FileStep::kSectionElement : FileStep::kEntryElement;
    report->position = table + 4 * index[level];
    unsigned char element[kValueSize];
    if (!Within(report->position, limit)) {
      report->outcome = FileOutcome::kOutOfBounds;
      return false;
    }
    if (!files.SetPosition(file, report->position) ||
        files.Read(file, element, kValueSize) != kValueSize) {
      report->outcome = FileOutcome::kAccessFailed;
      return false;
    }
    table = DecodeSignedLittleEndian(element, kValueSize);
  }
  report->step = FileStep::kItemValue;
  report->position = table + 1;
  return true;
}

}  // namespace

bool MakeDataFolder(const char* installation_folder,
                    char (&data_folder)[kPathBufferSize]) {
  return platform::CopyToPath(data_folder, kPathBufferSize,
                              installation_folder) &&
         (platform::EndsWithBackslash(data_folder) ||
          platform::AppendToPath(data_folder, kPathBufferSize, "\\")) &&
         platform::AppendToPath(data_folder, kPathBufferSize, "data\\");
}

bool MakeDictionaryPath(const char* data_folder, const char* code,
                        char (&path)[kPathBufferSize]) {
  return platform::CopyToPath(path, kPathBufferSize, data_folder) &&
         platform::AppendToPath(path, kPathBufferSize, "engto") &&
         platform::AppendToPath(path, kPathBufferSize, code) &&
         platform::AppendToPath(path, kPathBufferSize, ".dic");
}

bool HasDictionaryFile(const char* code) { return code[2] != '_'; }

void OpenDictionaryFile(Files& files, const char* data_folder, const char* code,
                        DictionaryFile* dictionary) {
  using platform::OpenStatus;
  dictionary->file = 0;
  dictionary->status = OpenStatus::kNotFound;
  if (MakeDictionaryPath(data_folder, code, dictionary->path)) {
    dictionary->status = files.OpenExisting(
        dictionary->path, platform::FileAccess::kReadWrite, &dictionary->file);
  } else {
    dictionary->path[0] = '\0';
  }
  if (dictionary->status == OpenStatus::kOpened ||
      std::strcmp(code, kJapaneseCode) != 0) {
    return;
  }

  char fallback_path[kPathBufferSize];
  if (!MakeDictionaryPath(data_folder, kJapaneseFallbackCode, fallback_path)) {
    return;
  }
  const OpenStatus fallback_status = files.OpenExisting(
      fallback_path, platform::FileAccess::kReadWrite, &dictionary->file);
  // The first attempt that failed for a reason other than a missing file is
  // the one to name; a missing first file gives way to the fallback's path.
  if (fallback_status == OpenStatus::kOpened ||
      (fallback_status == OpenStatus::kFailed &&
       dictionary->status == OpenStatus::kNotFound)) {
    std::memcpy(dictionary->path, fallback_path,
                std::strlen(fallback_path) + 1);
    dictionary->status = fallback_status;
  }
}

void KeepOnlyOwnFile(Files& files, bool have_folder, FileHandle data_folder,
                     std::size_t data_folder_length,
                     DictionaryFile* dictionary) {
  if (dictionary->status != platform::OpenStatus::kOpened ||
      (have_folder && files.IsOwnFile(dictionary->file, data_folder,
                                      dictionary->path + data_folder_length))) {
    return;
  }
  files.Close(dictionary->file);
  dictionary->status = platform::OpenStatus::kFailed;
}

bool IsAlreadyPatched(Files& files, FileHandle file,
                      const PatchDescription& description) {
  if (description.count <= 0) return true;
  const PatchRecord& check = description.records[description.count - 1];
  FileReport report = {};
  unsigned char value[kValueSize];
  return LocateValue(files, file, check, kNoLimit, &report) &&
         Within(report.position, kNoLimit) &&
         files.SetPosition(file, report.position) &&
         files.Read(file, value, kValueSize) == kValueSize &&
         std::memcmp(value, check.value, kValueSize) == 0;
}

FileReport ApplyRecords(Files& files, FileHandle file,
                        const PatchDescription& description,
                        std::int32_t length) {
  FileReport report = {FileOutcome::kAllApplied, length, 0, 0,
                       FileStep::kSectionElement};
  const std::int32_t count = description.count;
  // Every lookup reads the file's current content: nothing is cached.
  for (std::int32_t i = 0; i < count; ++i) {
    const PatchRecord& record = description.records[i];
    report.record = i;
    if (!LocateValue(files, file, record, length, &report)) return report;
    if (!Within(report.position, length)) {
      report.outcome = FileOutcome::kOutOfBounds;
      return report;
    }
    // The check record's value goes to the disk only after the others: a
    // file cut short, by a power cut say, never holds it without them, so
    // the next run takes the file up again. A volume that cannot flush
    // still gets the update, in the same order.
    if (i == count - 1 && i > 0) files.Flush(file);
    if (!files.SetPosition(file, report.position) ||
        files.Write(file, record.value, kValueSize) != kValueSize) {
      report.outcome = FileOutcome::kAccessFailed;
      return report;
    }
  }
  report.record = count;
  report.position = 0;
  return report;
}

FileReport PatchDictionaryFile(Files& files, FileHandle file,
                               const PatchDescription& description) {
  const std::int32_t length = files.Length(file);
  if (IsAlreadyPatched(files, file, description)) {
    return {FileOutcome::kAlreadyPatched, length, 0, 0,
            FileStep::kSectionElement};
  }
  return ApplyRecords(files, file, description, length);
}

PatchResult PatchEachDictionary(Files& files, const char* data_folder,
                                const PatchDescription& description,
                                DictionaryVisitor& visitor) {
  // Without records there is nothing to write: no dictionary is opened.
  if (description.count <= 0) return kNoDictionaryPatched;
  // A dictionary is written only if it is the data folder's own file, so
  // that no link can point the writes at another file.
  FileHandle folder = 0;
  const bool have_folder =
      files.OpenFolder(data_folder, &folder) == platform::OpenStatus::kOpened;
  const std::size_t folder_length = std::strlen(data_folder);

  bool any_patched = false;
  int found = 0;
  int refused = 0;
  for (const char* code : kLanguageCodes) {
    if (!HasDictionaryFile(code)) continue;
    DictionaryFile dictionary;
    OpenDictionaryFile(files, data_folder, code, &dictionary);
    KeepOnlyOwnFile(files, have_folder, folder, folder_length, &dictionary);
    DictionaryOutcome outcome = DictionaryOutcome::kNotPresent;
    if (dictionary.status == platform::OpenStatus::kFailed) {
      outcome = DictionaryOutcome::kRefused;
      ++found;
      ++refused;
    } else if (dictionary.status == platform::OpenStatus::kOpened) {
      ++found;
      const FileOutcome patched =
          visitor.Patch(dictionary.file, description).outcome;
      files.Close(dictionary.file);
      outcome = patched == FileOutcome::kAlreadyPatched
                    ? DictionaryOutcome::kAlreadyPatched
                : patched == FileOutcome::kAllApplied
                    ? DictionaryOutcome::kAllApplied
                    : DictionaryOutcome::kStopped;
      any_patched =
          any_patched || outcome != DictionaryOutcome::kAlreadyPatched;
    }
    visitor.Took(code, dictionary.path, outcome);
  }
  if (have_folder) files.Close(folder);
  // No file at all is not "nothing to do": no installation lies there.
  if (found == 0) return kNoDictionaryFound;
  if (refused == found) return kEveryDictionaryRefused;
  return any_patched ? kSomeDictionaryPatched : kNoDictionaryPatched;
}

PatchResult PatchDictionaries(Files& files, DictionaryVisitor& visitor,
                              const char* installation_folder,
                              const ReleaseBinding& binding,
                              platform::Sha256* sha256) {
  if (binding.bound && binding.info == nullptr) return kNoDictionaryPatched;
  char data_folder[kPathBufferSize];
  // A data folder beyond 255 characters holds no file this program can name.
  const bool have_data_folder =
      MakeDataFolder(installation_folder, data_folder);

  PatchDescription description;
  if (!ReadPatchDescription(files, &description, binding, sha256)) {
    return kDescriptionUnreadable;
  }
  const PatchResult result =
      description.count <= 0 ? kNoDictionaryPatched
      : have_data_folder
          ? PatchEachDictionary(files, data_folder, description, visitor)
          : kNoDictionaryFound;
  files.Close(description.file);
  return result;
}

}  // namespace tavelon::patch
