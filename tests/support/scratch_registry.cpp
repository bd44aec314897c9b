#if defined(_WIN32)

#include "tests/support/scratch_registry.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tavelon::fakes {
namespace {

constexpr char kScratchParent[] = "Software\\TavelonTests";

HKEY Hkey(void* key) { return static_cast<HKEY>(key); }

HKEY CreateScratchKey(const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

}  // namespace

ScratchRegistry::ScratchRegistry() {
  scratch_path_ = std::string(kScratchParent) + "\\" +
                  std::to_string(GetCurrentProcessId());
  RegDeleteTreeA(HKEY_CURRENT_USER, scratch_path_.c_str());
  user_ = CreateScratchKey(scratch_path_ + "\\user");
  machine_ = CreateScratchKey(scratch_path_ + "\\machine");
  if (user_ == nullptr || machine_ == nullptr) return;
  if (RegOverridePredefKey(HKEY_LOCAL_MACHINE, Hkey(machine_)) !=
          ERROR_SUCCESS ||
      RegOverridePredefKey(HKEY_CURRENT_USER, Hkey(user_)) != ERROR_SUCCESS) {
    return;
  }
  // The redirection is only trusted once a key made through the scratch
  // handle is seen through the predefined one.
  HKEY probe = nullptr;
  if (RegCreateKeyExA(Hkey(user_), "probe", 0, nullptr, 0, KEY_READ, nullptr,
                      &probe, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegCloseKey(probe);
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "probe", 0, KEY_READ, &probe) ==
      ERROR_SUCCESS) {
    RegCloseKey(probe);
    ready_ = true;
  }
  RegDeleteKeyA(Hkey(user_), "probe");
}

ScratchRegistry::~ScratchRegistry() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  if (user_ != nullptr) RegCloseKey(Hkey(user_));
  if (machine_ != nullptr) RegCloseKey(Hkey(machine_));
  RegDeleteTreeA(HKEY_CURRENT_USER, scratch_path_.c_str());
  // Removed only when no other test process still has its scratch key here.
  RegDeleteKeyA(HKEY_CURRENT_USER, kScratchParent);
}

void* ScratchRegistry::Base(platform::RegistryRoot root) const {
  return root == platform::RegistryRoot::kCurrentUser ? user_ : machine_;
}

void ScratchRegistry::AddKey(platform::RegistryRoot root,
                             const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(Hkey(Base(root)), path.c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegCloseKey(key);
  }
}

void ScratchRegistry::SetValue(platform::RegistryRoot root,
                               const std::string& path, const std::string& name,
                               std::uint32_t type, std::string data) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(Hkey(Base(root)), path.c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  // The system counts a terminator that the length leaves out when a zero
  // follows text data; a non-zero byte after the data keeps the length as
  // given.
  const DWORD length = static_cast<DWORD>(data.size());
  data.push_back('X');
  RegSetValueExA(key, name.c_str(), 0, type,
                 reinterpret_cast<const BYTE*>(data.data()), length);
  RegCloseKey(key);
}

bool ScratchRegistry::HasKey(platform::RegistryRoot root,
                             const std::string& path) const {
  HKEY key = nullptr;
  if (RegOpenKeyExA(Hkey(Base(root)), path.c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

std::optional<StoredValue> ScratchRegistry::FindValue(
    platform::RegistryRoot root, const std::string& path,
    const std::string& name) const {
  HKEY key = nullptr;
  if (RegOpenKeyExA(Hkey(Base(root)), path.c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<BYTE> data(4096);
  DWORD type = 0;
  DWORD length = static_cast<DWORD>(data.size());
  const LONG result =
      RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &length);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return std::nullopt;
  return StoredValue{
      type, std::string(data.begin(),
                        data.begin() + static_cast<std::ptrdiff_t>(length))};
}

std::size_t ScratchRegistry::ValueCount(platform::RegistryRoot root,
                                        const std::string& path) const {
  HKEY key = nullptr;
  if (RegOpenKeyExA(Hkey(Base(root)), path.c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return 0;
  }
  DWORD values = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return values;
}

}  // namespace tavelon::fakes

#endif
