// Finds the installation folder from the product's start-up entry, else from
// its application path entry. Both are written by the product's own setup and
// are read as narrow text, whatever type they were stored with.
#include "update/installation_lookup.h"

#include <cstdint>
#include <cstring>

#include "platform/text.h"
#include "update/messages.h"

namespace tavelon::update {
namespace {

using platform::QueryStatus;
using platform::RegistryKey;
using platform::RegistryRoot;

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunValue[] = "Tavelon Translator";
constexpr char kAppPathsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\tavelon.exe";
constexpr char kAppPathsValue[] = "Path";

// Registry data is read into one fixed buffer; a usable text, its
// terminating zero included, fits in it.
constexpr std::uint32_t kValueBufferSize = 128;

// Queries a value into the buffer and makes it a zero-terminated text.
// Data that does not fit, or fills the whole buffer without a terminating
// zero, counts as missing. Shorter data without a terminator ends where the
// delivered bytes end; nothing past them is looked at.
bool QueryText(platform::Registry& registry, RegistryKey key, const char* name,
               char (&text)[kValueBufferSize]) {
  std::uint32_t size = kValueBufferSize;
  if (registry.Query(key, name, reinterpret_cast<unsigned char*>(text),
                     &size) != QueryStatus::kOk) {
    return false;
  }
  if (size > kValueBufferSize) return false;
  if (std::memchr(text, '\0', size) != nullptr) return true;
  if (size == kValueBufferSize) return false;
  text[size] = '\0';
  return true;
}

// The Run entry holds the command that starts the product; the folder is
// the path of its program up to (without) the last backslash. A command in
// quotation marks names the program between them, and what follows the
// closing mark is ignored. A command that leaves no folder gives nothing.
// A quotation mark is never the second byte of a double-byte character, so
// it is looked for byte by byte.
const char* FolderFromRunEntry(char* command) {
  char* program = command;
  if (command[0] == '"') {
    program = command + 1;
    char* closing = std::strchr(program, '"');
    if (closing == nullptr) return nullptr;
    *closing = '\0';
  }
  const char* backslash = platform::FindLastBackslash(program);
  if (backslash == nullptr || backslash == program) return nullptr;
  program[backslash - program] = '\0';
  return program;
}

// A folder from a drive letter's root, "X:\..." or the root itself "X:",
// on a local fixed disk.
bool OnLocalFixedDrive(const char* folder, platform::Drives& drives) {
  const char letter = folder[0];
  return ((letter >= 'A' && letter <= 'Z') ||
          (letter >= 'a' && letter <= 'z')) &&
         folder[1] == ':' && (folder[2] == '\\' || folder[2] == '\0') &&
         drives.IsLocalFixed(letter);
}

// Reads the Run entry into text and returns the folder it gives, or nullptr.
const char* ReadRunEntry(platform::Registry& registry,
                         const platform::UserSettings& user,
                         platform::Drives* local_only,
                         char (&text)[kValueBufferSize]) {
  char path[platform::kPathBufferSize];
  RegistryKey key = 0;
  if (!platform::UserKeyPath(user, kRunKey, path, sizeof path) ||
      !registry.OpenForQuery(user.root, path, &key)) {
    return nullptr;
  }
  const char* folder = nullptr;
  if (QueryText(registry, key, kRunValue, text)) {
    folder = FolderFromRunEntry(text);
  }
  registry.Close(key);
  if (folder != nullptr && local_only != nullptr &&
      !OnLocalFixedDrive(folder, *local_only)) {
    return nullptr;
  }
  return folder;
}

// Reads the App Paths entry into text; its whole text, taken literally, is
// the folder. An empty text gives nothing.
const char* ReadAppPathsEntry(platform::Registry& registry,
                              char (&text)[kValueBufferSize]) {
  RegistryKey key = 0;
  if (!registry.OpenForQuery(RegistryRoot::kLocalMachine, kAppPathsKey, &key)) {
    return nullptr;
  }
  const char* folder = nullptr;
  if (QueryText(registry, key, kAppPathsValue, text) && text[0] != '\0') {
    folder = text;
  }
  registry.Close(key);
  return folder;
}

}  // namespace

bool FindInstallationFolder(platform::Registry& registry,
                            platform::MessageBoxes& boxes, char* folder,
                            const platform::UserSettings& user,
                            platform::Drives* local_only) {
  char text[kValueBufferSize];
  const char* found = ReadRunEntry(registry, user, local_only, text);
  if (found == nullptr) found = ReadAppPathsEntry(registry, text);
  if (found == nullptr) {
    boxes.Show(kNotFoundText, kCaption,
               platform::kMbOk | platform::kMbIconWarning);
    return false;
  }
  // The folder is shorter than the value buffer, so it always fits.
  std::memcpy(folder, found, std::strlen(found) + 1);
  return true;
}

}  // namespace tavelon::update
