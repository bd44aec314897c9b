// An in-memory registry that behaves like the system's for the operations
// the program uses: keys and values looked up without regard to case, keys
// that must exist to be opened, access rights checked per handle, data that
// does not fit the caller's buffer, and every opened handle tracked so that a
// test can check that each one was closed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "tests/support/journal.h"

namespace tavelon::fakes {

// Value types with the numbers the system gives them.
enum ValueType : std::uint32_t {
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegLink = 6,
  kRegMultiSz = 7,
};

enum class KeyAccess { kQuery, kSet };

struct StoredValue {
  std::uint32_t type = kRegSz;
  std::string data;  // the stored bytes, exactly as long as stored
};

// One attempt to open or create a key, successful or not.
struct KeyAttempt {
  platform::RegistryRoot root;
  std::string path;
  KeyAccess access;
  bool opened;
};

class FakeRegistry final : public platform::Registry {
 public:
  // Byte the unused rest of a query buffer is filled with, so that code
  // reading past the delivered bytes finds something other than a zero.
  static constexpr unsigned char kPoison = '\\';

  // Creates the key and its missing parents.
  void AddKey(platform::RegistryRoot root, const std::string& path);
  // Stores a value (creating its key), replacing one of the same name.
  void SetValue(platform::RegistryRoot root, const std::string& path,
                const std::string& name, std::uint32_t type, std::string data);
  // Opening or creating this key is refused, as for a key the user may not
  // access.
  void DenyAccess(platform::RegistryRoot root, const std::string& path);
  // Every value write fails.
  void set_fail_writes(bool fail) { fail_writes_ = fail; }

  // The operations whose calls are counted and can be made to fail.
  enum class Operation { kOpenForQuery, kQuery, kCreateForSet, kSetDword };
  // Makes call number `number` (from 1, counted per operation over the life
  // of this object) of the operation fail: an open or create is refused, a
  // write fails, a query reports `query_status` (kFailed or kMoreData) and
  // leaves only filler in the buffer.
  void FailCall(
      Operation operation, int number,
      platform::QueryStatus query_status = platform::QueryStatus::kFailed);
  int Calls(Operation operation) const {
    return counter_.Calls(static_cast<int>(operation));
  }

  bool HasKey(platform::RegistryRoot root, const std::string& path) const;
  // nullptr when the key or the value does not exist.
  const StoredValue* FindValue(platform::RegistryRoot root,
                               const std::string& path,
                               const std::string& name) const;
  std::size_t ValueCount(platform::RegistryRoot root,
                         const std::string& path) const;

  const std::vector<KeyAttempt>& attempts() const { return attempts_; }
  // True when some attempt named this key (opened or not).
  bool WasAttempted(platform::RegistryRoot root, const std::string& path) const;
  // Handles opened and not yet closed.
  std::size_t open_handles() const;
  // Close calls on handles that were never opened or already closed.
  int bad_closes() const { return bad_closes_; }

  bool OpenForQuery(platform::RegistryRoot root, const char* subkey,
                    platform::RegistryKey* key) override;
  platform::QueryStatus Query(platform::RegistryKey key, const char* name,
                              unsigned char* data,
                              std::uint32_t* size) override;
  bool CreateForSet(platform::RegistryRoot root, const char* subkey,
                    platform::RegistryKey* key) override;
  bool SetDword(platform::RegistryKey key, const char* name,
                std::uint32_t value) override;
  void Close(platform::RegistryKey key) override;

  // Notes each key opened for reading or created for writing.
  Journal* journal = nullptr;

 private:
  using KeyId = std::pair<platform::RegistryRoot, std::string>;
  struct Key {
    std::map<std::string, StoredValue> values;  // by lower-case name
  };
  struct Handle {
    KeyId key;
    KeyAccess access;
    bool open;
  };

  static KeyId Id(platform::RegistryRoot root, const std::string& path);
  const Handle* OpenHandle(platform::RegistryKey key) const;
  // Counts a call of the operation; true when it is the one to fail.
  bool CountAndCheck(Operation operation);
  platform::RegistryKey NewHandle(const KeyId& id, KeyAccess access);

  std::map<KeyId, Key> keys_;
  std::map<KeyId, bool> denied_;
  std::map<platform::RegistryKey, Handle> handles_;
  std::vector<KeyAttempt> attempts_;
  platform::RegistryKey next_handle_ = 0x1000;
  int bad_closes_ = 0;
  bool fail_writes_ = false;
  CallCounter<4> counter_;
  platform::QueryStatus failed_query_status_ = platform::QueryStatus::kFailed;
};

}  // namespace tavelon::fakes
