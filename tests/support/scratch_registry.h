// The system registry of the test process, with HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE redirected to two fresh scratch keys for the lifetime
// of the object, so that tests own every key they touch and leave nothing
// behind. Offers the same set-up and inspection calls as FakeRegistry, so
// that one table of cases runs against both.
#pragma once

#if defined(_WIN32)

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/registry.h"
#include "tests/support/fake_registry.h"

namespace tavelon::fakes {

class ScratchRegistry {
 public:
  ScratchRegistry();
  ~ScratchRegistry();
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

  // False when the redirection could not be set up; nothing else works then.
  bool ready() const { return ready_; }

  void AddKey(platform::RegistryRoot root, const std::string& path);
  // Stores exactly these bytes with this type (no terminator is added).
  void SetValue(platform::RegistryRoot root, const std::string& path,
                const std::string& name, std::uint32_t type, std::string data);
  bool HasKey(platform::RegistryRoot root, const std::string& path) const;
  std::optional<StoredValue> FindValue(platform::RegistryRoot root,
                                       const std::string& path,
                                       const std::string& name) const;
  std::size_t ValueCount(platform::RegistryRoot root,
                         const std::string& path) const;

 private:
  void* Base(platform::RegistryRoot root) const;

  std::string scratch_path_;
  void* user_ = nullptr;     // HKEY standing in for HKEY_CURRENT_USER
  void* machine_ = nullptr;  // HKEY standing in for HKEY_LOCAL_MACHINE
  bool ready_ = false;
};

}  // namespace tavelon::fakes

#endif
