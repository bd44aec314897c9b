#include "settings/options_update.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_registry.h"
#include "tests/support/scratch_registry.h"

#if defined(_WIN32)
#include <windows.h>
// sddl.h needs the definitions of windows.h.
#include <sddl.h>

#include "platform/system.h"
#endif

namespace tavelon::settings {
namespace {

using fakes::FakeRegistry;
using fakes::KeyAccess;
using platform::RegistryRoot;

constexpr char kOptionsKey[] = "Software\\Tavelon\\Tavelon Translator\\Options";
constexpr char kProductKey[] = "Software\\Tavelon\\Tavelon Translator";
const std::string kDwordOne("\x01\0\0\0", 4);

struct NamedValue {
  const char* name;
  std::uint32_t type;
  std::string data;
};

// The options key as found before the update; other values must survive.
struct OptionsCase {
  const char* name;
  bool key_exists;
  std::vector<NamedValue> before;
  std::vector<NamedValue> kept;
};

const std::vector<OptionsCase>& Cases() {
  // clang-format off
  static const std::vector<OptionsCase> cases = {
      {"NoProductKeys", false, {}, {}},
      {"EmptyOptionsKey", true, {}, {}},
      {"TextZeroReplaced", true,
       {{"EnableExpressions", fakes::kRegSz, std::string("0\0", 2)}}, {}},
      // As a second run finds it.
      {"DwordOneKept", true,
       {{"EnableExpressions", fakes::kRegDword, kDwordOne}}, {}},
      {"DwordZeroReplaced", true,
       {{"EnableExpressions", fakes::kRegDword, std::string(4, '\0')}}, {}},
      {"BinaryOfOtherCaseReplaced", true,
       {{"enableexpressions", fakes::kRegBinary, "\x07\x07"}}, {}},
      {"OtherValuesUntouched", true,
       {{"Language", fakes::kRegSz, std::string("Jpn\0", 4)},
        {"EnableExpressions", fakes::kRegSz, std::string("no\0", 3)},
        {"WindowWidth", fakes::kRegDword, std::string("\x80\x02\0\0", 4)}},
       {{"Language", fakes::kRegSz, std::string("Jpn\0", 4)},
        {"WindowWidth", fakes::kRegDword, std::string("\x80\x02\0\0", 4)}}},
  };
  // clang-format on
  return cases;
}

template <typename Backend>
void StoreCase(Backend& store, const OptionsCase& c) {
  if (c.key_exists) store.AddKey(RegistryRoot::kCurrentUser, kOptionsKey);
  for (const NamedValue& value : c.before) {
    store.SetValue(RegistryRoot::kCurrentUser, kOptionsKey, value.name,
                   value.type, value.data);
  }
}

// After the update the key holds the option as REG_DWORD 1 and the kept
// values exactly as they were, and nothing else.
template <typename Backend>
void CheckOptions(const Backend& store, const OptionsCase& c) {
  const auto option = store.FindValue(RegistryRoot::kCurrentUser, kOptionsKey,
                                      "EnableExpressions");
  ASSERT_TRUE(static_cast<bool>(option));
  EXPECT_EQ(option->type, fakes::kRegDword);
  EXPECT_EQ(option->data, kDwordOne);
  for (const NamedValue& kept : c.kept) {
    const auto value =
        store.FindValue(RegistryRoot::kCurrentUser, kOptionsKey, kept.name);
    ASSERT_TRUE(static_cast<bool>(value)) << kept.name;
    EXPECT_EQ(value->type, kept.type) << kept.name;
    EXPECT_EQ(value->data, kept.data) << kept.name;
  }
  EXPECT_EQ(store.ValueCount(RegistryRoot::kCurrentUser, kOptionsKey),
            c.kept.size() + 1);
}

TEST(OptionsUpdate, CasesOnStandInRegistry) {
  for (const OptionsCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    FakeRegistry registry;
    StoreCase(registry, c);

    UpdateOptions(registry);

    CheckOptions(registry, c);
    EXPECT_TRUE(registry.HasKey(RegistryRoot::kCurrentUser, kProductKey));
    EXPECT_EQ(registry.open_handles(), 0u);
    EXPECT_EQ(registry.bad_closes(), 0);
    ASSERT_EQ(registry.attempts().size(), 1u);
    EXPECT_EQ(registry.attempts()[0].access, KeyAccess::kSet);
    EXPECT_EQ(registry.attempts()[0].root, RegistryRoot::kCurrentUser);
    EXPECT_EQ(registry.attempts()[0].path, kOptionsKey);
  }
}

// A key on the options path that is a registry link (another program of
// the user may have made it point anywhere) gets no write, and nothing is
// created behind it; the keys before it may be created. No box either way.
TEST(OptionsUpdate, ARegistryLinkOnThePathStopsTheWrite) {
  for (const char* link : {"Software\\Tavelon", kProductKey, kOptionsKey}) {
    SCOPED_TRACE(link);
    FakeRegistry registry;
    registry.SetValue(RegistryRoot::kCurrentUser, link, "SymbolicLinkValue",
                      fakes::kRegLink, "\\Registry\\Machine\\Software\\X");

    UpdateOptions(registry);

    EXPECT_EQ(registry.FindValue(RegistryRoot::kCurrentUser, kOptionsKey,
                                 "EnableExpressions"),
              nullptr);
    EXPECT_EQ(registry.HasKey(RegistryRoot::kCurrentUser, kOptionsKey),
              std::string(link) == kOptionsKey);
    EXPECT_EQ(registry.open_handles(), 0u);
  }
}

#if defined(_WIN32)
// The same cases against the system registry, redirected to scratch keys.
TEST(OptionsUpdate, CasesOnSystemRegistry) {
  for (const OptionsCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    fakes::ScratchRegistry scratch;
    ASSERT_TRUE(scratch.ready());
    StoreCase(scratch, c);

    UpdateOptions(platform::SystemRegistry());

    CheckOptions(scratch, c);
  }
}

// The options key made a registry link to another key: the system would
// follow it when writing; the update writes nothing there.
TEST(OptionsUpdate, ARegistryLinkIsNotFollowedOnTheSystemRegistry) {
  fakes::ScratchRegistry scratch;
  ASSERT_TRUE(scratch.ready());
  scratch.AddKey(RegistryRoot::kCurrentUser, "Target");
  // The registry's own path of the scratch key: its user's SID, then the
  // path under that user's settings.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD user[64];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
  CloseHandle(token);
  char* sid = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidA(
      reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
  const std::string target_path =
      std::string("\\Registry\\User\\") + sid + "\\Software\\TavelonTests\\" +
      std::to_string(GetCurrentProcessId()) + "\\user\\Target";
  LocalFree(sid);
  const std::wstring target(target_path.begin(), target_path.end());
  HKEY link = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kOptionsKey, 0,
                                           nullptr, REG_OPTION_CREATE_LINK,
                                           KEY_ALL_ACCESS | KEY_CREATE_LINK,
                                           nullptr, &link, nullptr));
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                           reinterpret_cast<const BYTE*>(target.c_str()),
                           static_cast<DWORD>(target.size() * 2)));
  // A write by the path lands in the target: the link works.
  HKEY followed = nullptr;
  const DWORD probe = 7;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(HKEY_CURRENT_USER, kOptionsKey, 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &followed, nullptr));
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExA(followed, "Probe", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&probe), 4));
  RegCloseKey(followed);
  EXPECT_TRUE(scratch.FindValue(RegistryRoot::kCurrentUser, "Target", "Probe"));

  UpdateOptions(platform::SystemRegistry());

  EXPECT_FALSE(scratch.FindValue(RegistryRoot::kCurrentUser, "Target",
                                 "EnableExpressions"));
  // The link itself goes, not what it points at: deleting by name would
  // follow it.
  using DeleteKeyFunction = LONG(WINAPI*)(HANDLE);
  const auto delete_key =
      reinterpret_cast<DeleteKeyFunction>(reinterpret_cast<void (*)()>(
          GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
  ASSERT_NE(nullptr, delete_key);
  EXPECT_EQ(0, delete_key(link));
  RegCloseKey(link);
  // A key that is not a link on the same path is written as ever.
  HKEY opened = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0,
                                         KEY_ALL_ACCESS, &opened));
  RegDeleteKeyA(opened, "Options");
  RegCloseKey(opened);
  UpdateOptions(platform::SystemRegistry());
  EXPECT_TRUE(scratch.FindValue(RegistryRoot::kCurrentUser, kOptionsKey,
                                "EnableExpressions"));
}
#endif

}  // namespace
}  // namespace tavelon::settings
