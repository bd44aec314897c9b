#include "tests/support/fake_registry.h"

#include <algorithm>
#include <cstring>

namespace tavelon::fakes {

FakeRegistry::KeyId FakeRegistry::Id(platform::RegistryRoot root,
                                     const std::string& path) {
  return {root, Lower(path)};
}

void FakeRegistry::AddKey(platform::RegistryRoot root,
                          const std::string& path) {
  const std::string lower = Lower(path);
  for (std::size_t at = lower.find('\\'); at != std::string::npos;
       at = lower.find('\\', at + 1)) {
    keys_[{root, lower.substr(0, at)}];
  }
  keys_[{root, lower}];
}

void FakeRegistry::SetValue(platform::RegistryRoot root,
                            const std::string& path, const std::string& name,
                            std::uint32_t type, std::string data) {
  AddKey(root, path);
  keys_[Id(root, path)].values[Lower(name)] =
      StoredValue{type, std::move(data)};
}

void FakeRegistry::DenyAccess(platform::RegistryRoot root,
                              const std::string& path) {
  denied_[Id(root, path)] = true;
}

void FakeRegistry::FailCall(Operation operation, int number,
                            platform::QueryStatus query_status) {
  counter_.Fail(static_cast<int>(operation), number);
  if (operation == Operation::kQuery) failed_query_status_ = query_status;
}

bool FakeRegistry::CountAndCheck(Operation operation) {
  return counter_.Count(static_cast<int>(operation));
}

bool FakeRegistry::HasKey(platform::RegistryRoot root,
                          const std::string& path) const {
  return keys_.count(Id(root, path)) != 0;
}

const StoredValue* FakeRegistry::FindValue(platform::RegistryRoot root,
                                           const std::string& path,
                                           const std::string& name) const {
  const auto key = keys_.find(Id(root, path));
  if (key == keys_.end()) return nullptr;
  const auto value = key->second.values.find(Lower(name));
  return value == key->second.values.end() ? nullptr : &value->second;
}

std::size_t FakeRegistry::ValueCount(platform::RegistryRoot root,
                                     const std::string& path) const {
  const auto key = keys_.find(Id(root, path));
  return key == keys_.end() ? 0 : key->second.values.size();
}

bool FakeRegistry::WasAttempted(platform::RegistryRoot root,
                                const std::string& path) const {
  const KeyId id = Id(root, path);
  return std::any_of(attempts_.begin(), attempts_.end(),
                     [&](const KeyAttempt& attempt) {
                       return Id(attempt.root, attempt.path) == id;
                     });
}

std::size_t FakeRegistry::open_handles() const {
  return static_cast<std::size_t>(
      std::count_if(handles_.begin(), handles_.end(),
                    [](const auto& entry) { return entry.second.open; }));
}

const FakeRegistry::Handle* FakeRegistry::OpenHandle(
    platform::RegistryKey key) const {
  const auto handle = handles_.find(key);
  if (handle == handles_.end() || !handle->second.open) return nullptr;
  return &handle->second;
}

platform::RegistryKey FakeRegistry::NewHandle(const KeyId& id,
                                              KeyAccess access) {
  const platform::RegistryKey key = next_handle_;
  next_handle_ += 4;
  handles_[key] = Handle{id, access, true};
  return key;
}

bool FakeRegistry::OpenForQuery(platform::RegistryRoot root, const char* subkey,
                                platform::RegistryKey* key) {
  Note(journal, std::string("registry query ") + subkey);
  const bool fail = CountAndCheck(Operation::kOpenForQuery);
  const KeyId id = Id(root, subkey);
  const bool opens = !fail && keys_.count(id) != 0 && denied_.count(id) == 0;
  attempts_.push_back(KeyAttempt{root, subkey, KeyAccess::kQuery, opens});
  if (!opens) return false;
  *key = NewHandle(id, KeyAccess::kQuery);
  return true;
}

platform::QueryStatus FakeRegistry::Query(platform::RegistryKey key,
                                          const char* name, unsigned char* data,
                                          std::uint32_t* size) {
  if (CountAndCheck(Operation::kQuery)) {
    std::memset(data, kPoison, *size);
    return failed_query_status_;
  }
  const Handle* handle = OpenHandle(key);
  if (handle == nullptr || handle->access != KeyAccess::kQuery) {
    return platform::QueryStatus::kFailed;
  }
  const Key& stored = keys_.at(handle->key);
  const auto value = stored.values.find(Lower(name));
  if (value == stored.values.end()) return platform::QueryStatus::kFailed;
  const std::string& bytes = value->second.data;
  const std::uint32_t capacity = *size;
  if (bytes.size() > capacity) {
    // The system may leave part of the data in the buffer; code that uses
    // it anyway would see a plausible text.
    std::memcpy(data, bytes.data(), capacity);
    return platform::QueryStatus::kMoreData;
  }
  std::memcpy(data, bytes.data(), bytes.size());
  std::memset(data + bytes.size(), kPoison, capacity - bytes.size());
  *size = static_cast<std::uint32_t>(bytes.size());
  return platform::QueryStatus::kOk;
}

bool FakeRegistry::CreateForSet(platform::RegistryRoot root, const char* subkey,
                                platform::RegistryKey* key) {
  Note(journal, std::string("registry set ") + subkey);
  const bool fail = CountAndCheck(Operation::kCreateForSet);
  const KeyId id = Id(root, subkey);
  const bool opens = !fail && denied_.count(id) == 0;
  attempts_.push_back(KeyAttempt{root, subkey, KeyAccess::kSet, opens});
  if (!opens) return false;
  // One name at a time, as the system's: a link key on the path ends the
  // walk, with nothing created behind it.
  const std::string path = subkey;
  for (std::size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
    const std::string walked = path.substr(0, end);
    AddKey(root, walked);
    const StoredValue* link = FindValue(root, walked, "SymbolicLinkValue");
    if (link != nullptr && link->type == kRegLink) return false;
    if (end == std::string::npos) break;
  }
  *key = NewHandle(id, KeyAccess::kSet);
  return true;
}

bool FakeRegistry::SetDword(platform::RegistryKey key, const char* name,
                            std::uint32_t value) {
  const bool fail = CountAndCheck(Operation::kSetDword);
  const Handle* handle = OpenHandle(key);
  if (handle == nullptr || handle->access != KeyAccess::kSet || fail_writes_ ||
      fail) {
    return false;
  }
  std::string data(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) {
    data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  keys_.at(handle->key).values[Lower(name)] = StoredValue{kRegDword, data};
  return true;
}

void FakeRegistry::Close(platform::RegistryKey key) {
  const auto handle = handles_.find(key);
  if (handle == handles_.end() || !handle->second.open) {
    ++bad_closes_;
    return;
  }
  handle->second.open = false;
}

}  // namespace tavelon::fakes
