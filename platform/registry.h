// Registry operations used by the installation lookup and the options update.
#pragma once

#include <cstdint>

#include "platform/path_text.h"

namespace tavelon::platform {

enum class RegistryRoot {
  kCurrentUser,   // HKEY_CURRENT_USER
  kLocalMachine,  // HKEY_LOCAL_MACHINE
  kUsers,         // HKEY_USERS
};

// Whose settings are read and written: those of HKEY_CURRENT_USER, or of
// another user, under HKEY_USERS\<that user's SID>.
struct UserSettings {
  RegistryRoot root = RegistryRoot::kCurrentUser;
  const char* sid = "";  // with kUsers only
};

// The path of a key of the user's settings (`subkey` as under
// HKEY_CURRENT_USER) from the settings' root; false when it does not fit.
inline bool UserKeyPath(const UserSettings& user, const char* subkey,
                        char* path, std::size_t size) {
  if (user.root != RegistryRoot::kUsers) return CopyToPath(path, size, subkey);
  return CopyToPath(path, size, user.sid) && AppendToPath(path, size, "\\") &&
         AppendToPath(path, size, subkey);
}

using RegistryKey = std::uintptr_t;

enum class QueryStatus {
  kOk,
  kMoreData,  // the data does not fit the buffer; nothing usable was read
  kFailed,    // missing value, access refused, any other failure
};

class Registry {
 public:
  // Opens an existing key with KEY_QUERY_VALUE access only.
  virtual bool OpenForQuery(RegistryRoot root, const char* subkey,
                            RegistryKey* key) = 0;
  // Queries a value's data, whatever its type. On entry *size is the
  // buffer's capacity; on kOk it is the number of bytes delivered.
  virtual QueryStatus Query(RegistryKey key, const char* name,
                            unsigned char* data, std::uint32_t* size) = 0;
  // Creates or opens a key (and its missing parents), non-volatile, to set
  // its values. The path is walked one name at a time, each key opened
  // relative to the one before without following a registry link: a key on
  // the path that is a link (it holds a REG_LINK "SymbolicLinkValue") ends
  // the walk with false, and nothing is created behind it. So no program of
  // the user can point the write at another key.
  virtual bool CreateForSet(RegistryRoot root, const char* subkey,
                            RegistryKey* key) = 0;
  // Sets a REG_DWORD value.
  virtual bool SetDword(RegistryKey key, const char* name,
                        std::uint32_t value) = 0;
  virtual void Close(RegistryKey key) = 0;

 protected:
  ~Registry() = default;
};

}  // namespace tavelon::platform
