// The registry through the ANSI entry points, each key opened with the one
// access right its step needs.
#include <windows.h>

#include <cstring>

#include "platform/registry.h"
#include "platform/system.h"

namespace tavelon::platform {
namespace {

HKEY RootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kCurrentUser:
      return HKEY_CURRENT_USER;
    case RegistryRoot::kUsers:
      return HKEY_USERS;
    case RegistryRoot::kLocalMachine:
      break;
  }
  return HKEY_LOCAL_MACHINE;
}

HKEY ToHkey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

RegistryKey FromHkey(HKEY key) { return reinterpret_cast<RegistryKey>(key); }

// True when the key holds a value "SymbolicLinkValue" of type REG_LINK: a
// link key, or a plain key with such a value, which is as good a reason to
// leave it alone.
bool IsLink(HKEY key) {
  DWORD type = REG_NONE;
  return RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr,
                          nullptr) == ERROR_SUCCESS &&
         type == REG_LINK;
}

// The key `name` under `parent`, one name only, to set values in, always
// opened as itself (REG_OPTION_OPEN_LINK: a link key is not followed) and
// refused when it is a link. An absent key is created first and then
// opened so: a link that another program put in its place in between is
// found there and refused, never written through. nullptr when the key is
// refused or cannot be had.
HKEY OpenOrCreateOwnKey(HKEY parent, const char* name) {
  constexpr REGSAM kAccess =
      KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;
  for (int attempt = 0; attempt < 2; ++attempt) {
    HKEY key = nullptr;
    const LONG opened =
        RegOpenKeyExA(parent, name, REG_OPTION_OPEN_LINK, kAccess, &key);
    if (opened == ERROR_SUCCESS) {
      if (!IsLink(key)) return key;
      RegCloseKey(key);
      return nullptr;
    }
    if (opened != ERROR_FILE_NOT_FOUND || attempt > 0 ||
        RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        kAccess, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return nullptr;
    }
    RegCloseKey(key);
  }
  return nullptr;
}

class Win32Registry final : public Registry {
 public:
  bool OpenForQuery(RegistryRoot root, const char* subkey,
                    RegistryKey* key) override {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(RootKey(root), subkey, 0, KEY_QUERY_VALUE, &opened) !=
        ERROR_SUCCESS) {
      return false;
    }
    *key = FromHkey(opened);
    return true;
  }

  QueryStatus Query(RegistryKey key, const char* name, unsigned char* data,
                    std::uint32_t* size) override {
    DWORD length = *size;
    const LONG result =
        RegQueryValueExA(ToHkey(key), name, nullptr, nullptr, data, &length);
    if (result == ERROR_MORE_DATA) return QueryStatus::kMoreData;
    if (result != ERROR_SUCCESS) return QueryStatus::kFailed;
    *size = length;
    return QueryStatus::kOk;
  }

  bool CreateForSet(RegistryRoot root, const char* subkey,
                    RegistryKey* key) override {
    HKEY parent = RootKey(root);
    bool own_parent = false;
    for (const char* name = subkey; *name != '\0';) {
      const char* end = name;
      while (*end != '\0' && *end != '\\') ++end;
      char one[256];
      const std::size_t length = static_cast<std::size_t>(end - name);
      HKEY child = nullptr;
      if (length > 0 && length < sizeof one) {
        std::memcpy(one, name, length);
        one[length] = '\0';
        child = OpenOrCreateOwnKey(parent, one);
      }
      if (own_parent) RegCloseKey(parent);
      if (child == nullptr) return false;
      parent = child;
      own_parent = true;
      name = *end == '\\' ? end + 1 : end;
    }
    if (!own_parent) return false;
    *key = FromHkey(parent);
    return true;
  }

  bool SetDword(RegistryKey key, const char* name,
                std::uint32_t value) override {
    const DWORD data = value;
    return RegSetValueExA(ToHkey(key), name, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data),
                          sizeof data) == ERROR_SUCCESS;
  }

  void Close(RegistryKey key) override { RegCloseKey(ToHkey(key)); }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace tavelon::platform
