// The registry through the ANSI entry points, each key opened with the one
// access right its step needs.
#include <windows.h>

#include "platform/registry.h"
#include "platform/system.h"

namespace tavelon::platform {
namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::kCurrentUser ? HKEY_CURRENT_USER
                                            : HKEY_LOCAL_MACHINE;
}

HKEY ToHkey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

RegistryKey FromHkey(HKEY key) { return reinterpret_cast<RegistryKey>(key); }

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
    char no_class[] = "";
    HKEY created = nullptr;
    if (RegCreateKeyExA(RootKey(root), subkey, 0, no_class,
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &created, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    *key = FromHkey(created);
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
