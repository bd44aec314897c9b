// Applies the update description to the dictionary file of every supported
// language in the installation's data folder, in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "patch/patch_description.h"
#include "platform/files.h"
#include "platform/path_text.h"

namespace tavelon::patch {

using platform::kPathBufferSize;

enum PatchResult : int {
  kSomeDictionaryPatched = 0,   // at least one file went through the records
  kDescriptionUnreadable = 1,   // "info.tmp" missing or invalid, no file opened
  kNoDictionaryPatched = 3,     // no file went through the records: all
                                // already patched, or no records
  kEveryDictionaryRefused = 4,  // files were found, and every one of them was
                                // refused: not to be opened for writing, or
                                // not the data folder's own file
  kNoDictionaryFound = 5,       // there were records, but no language's file
                                // exists under any of its names
};

// The language codes in the order they are taken up; a code whose third
// character is '_' has no dictionary file and is never opened.
inline constexpr int kLanguageCount = 20;
inline constexpr char kLanguageCodes[kLanguageCount][4] = {
    "Eng", "Ar_", "Ch_", "Da_", "Dut", "Fi_", "Fre", "Ger", "Gr_", "Heb",
    "Hu_", "Ita", "Jpn", "Ko_", "No_", "Po_", "Ptg", "Ru_", "Spa", "Sw_"};
// The Japanese dictionary may also be named with this code.
inline constexpr char kJapaneseCode[] = "Jpn";
inline constexpr char kJapaneseFallbackCode[] = "jap";

// The data folder: the installation folder, a backslash unless it already
// ends with one, then "data\". False when that exceeds 255 characters.
bool MakeDataFolder(const char* installation_folder,
                    char (&data_folder)[kPathBufferSize]);

// The dictionary file path "<data folder>engto<code>.dic". False when it
// exceeds 255 characters; such a file counts as not found.
bool MakeDictionaryPath(const char* data_folder, const char* code,
                        char (&path)[kPathBufferSize]);

// False for a language code whose third character is '_': such a language
// has no dictionary file, and none is opened for it.
bool HasDictionaryFile(const char* code);

// A language's dictionary file, opened for reading and writing as the
// patcher opens it.
struct DictionaryFile {
  // kOpened; kFailed when an attempt failed for a reason other than the file
  // not existing; otherwise kNotFound.
  platform::OpenStatus status;
  platform::FileHandle file;  // when opened; the caller closes it
  // The path opened; when not opened, the path of the first attempt that
  // failed for a reason other than the file not existing, else the first
  // path tried. Empty when no path within 255 characters could be formed.
  char path[kPathBufferSize];
};

// Opens "<data folder>engto<code>.dic"; for "Jpn", when that cannot be
// opened, "<data folder>engtojap.dic" instead. A path beyond 255 characters
// counts as a file that does not exist.
void OpenDictionaryFile(platform::Files& files, const char* data_folder,
                        const char* code, DictionaryFile* dictionary);

// Keeps an opened dictionary only if it is the data folder's own file
// (Files::IsOwnFile through the open `data_folder`; none is when that could
// not be opened, `have_folder` false): otherwise closes it unread and marks
// it kFailed, like a file that cannot be opened for writing.
void KeepOnlyOwnFile(platform::Files& files, bool have_folder,
                     platform::FileHandle data_folder,
                     std::size_t data_folder_length,
                     DictionaryFile* dictionary);

// Where in a record's lookup the application of a file stopped.
enum class FileStep {
  kSectionElement,  // the section table element giving the entry table
  kEntryElement,    // the entry table element giving the item
  kItemValue,       // the item value the record replaces
};

// What happened to one open dictionary file.
enum class FileOutcome {
  kAlreadyPatched,  // the check record's value is in place; nothing written
  kAllApplied,      // every record was written
  kOutOfBounds,     // stopped: a position outside the file's bytes
  kAccessFailed,    // stopped: a positioning, read or write failed or was short
};

struct FileReport {
  FileOutcome outcome;
  std::int32_t length;  // the length measured at opening, -1 if unknown
  // When stopped: the record that stopped the application (records before
  // it are written, it and the later ones are not) and the position that
  // was refused or whose positioning, read or write failed.
  std::int32_t record;
  std::int64_t position;
  // When stopped: the lookup or write that was refused or failed.
  FileStep step;
};

// True when the check record's value is in place, found through the file's
// tables without regard to its length: a chain that cannot be followed only
// means that the file is not patched. True with no records: there is
// nothing to do.
bool IsAlreadyPatched(platform::Files& files, platform::FileHandle file,
                      const PatchDescription& description);

// Writes the records in order, each looked up through the file's current
// section and entry tables, so that a value written by an earlier record can
// steer a later one. Each record makes two positioned reads and one
// positioned write, in that order; the writes before the check record's are
// flushed to the disk before it is written, as far as the system can (a
// failed flush stops nothing). A lookup or write is allowed
// only within `length`, so the file never grows. Records written before a
// stop stay written. Shows no message.
FileReport ApplyRecords(platform::Files& files, platform::FileHandle file,
                        const PatchDescription& description,
                        std::int32_t length);

// Measures the file, then, unless IsAlreadyPatched, ApplyRecords within
// that length.
FileReport PatchDictionaryFile(platform::Files& files,
                               platform::FileHandle file,
                               const PatchDescription& description);

// What became of one language's dictionary file.
enum class DictionaryOutcome {
  kNotPresent,      // no file for the language: passed over
  kRefused,         // the file exists but cannot be opened for writing, or is
                    // not the data folder's own: not written
  kAlreadyPatched,  // the check record's value is in place: nothing written
  kAllApplied,      // every record was written
  kStopped,         // the application stopped where the report says
};

// The caller's part of the loop over the languages: how an open dictionary
// file is patched (for real, or as a dry run that writes nothing), and what
// becomes of each language's outcome (the update program warns the user,
// tavpatch lists it).
class DictionaryVisitor {
 public:
  virtual FileReport Patch(platform::FileHandle file,
                           const PatchDescription& description) = 0;
  // Each language that has a dictionary file, in order, after Patch when
  // the file was patched. `path` is the file's path as DictionaryFile holds
  // it.
  virtual void Took(const char* code, const char* path,
                    DictionaryOutcome outcome) = 0;

 protected:
  ~DictionaryVisitor() = default;
};

// Takes up each language's dictionary file in the data folder, in order:
// opens it, keeps it only if it is the folder's own, has the visitor patch
// it, closes it and tells the visitor. Returns what the update made of the
// dictionaries: kSomeDictionaryPatched when a file went through the
// records, kNoDictionaryFound when no file exists, kEveryDictionaryRefused
// when files were found and every one was refused, else
// kNoDictionaryPatched. Without records no file is opened.
PatchResult PatchEachDictionary(platform::Files& files, const char* data_folder,
                                const PatchDescription& description,
                                DictionaryVisitor& visitor);

// Reads "info.tmp" from the current directory and patches each language's
// dictionary file that exists, is the data folder's own and is not yet
// patched (PatchEachDictionary). installation_folder: the product's folder,
// normally with a trailing backslash (one is added if missing). A bound
// program uses only the update description released with it (any other
// counts as unreadable), and none when its release shipped none: then no
// file is read or written. In an installation folder too long for any
// dictionary path no dictionary is found.
PatchResult PatchDictionaries(platform::Files& files,
                              DictionaryVisitor& visitor,
                              const char* installation_folder,
                              const ReleaseBinding& binding = kUnbound,
                              platform::Sha256* sha256 = nullptr);

}  // namespace tavelon::patch
