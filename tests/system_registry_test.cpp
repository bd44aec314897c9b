// The system registry operations, on scratch keys: each key is opened with
// the one access right its step needs, and query results map as the lookup
// expects.
#if defined(_WIN32)

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/system.h"
#include "tests/support/scratch_registry.h"

namespace tavelon::platform {
namespace {

constexpr char kKey[] = "Software\\Tavelon\\Scratch";

HKEY Hkey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

TEST(SystemRegistry, QueryKeyCannotBeWritten) {
  fakes::ScratchRegistry scratch;
  ASSERT_TRUE(scratch.ready());
  scratch.SetValue(RegistryRoot::kLocalMachine, kKey, "Text", REG_SZ,
                   std::string("abc\0", 4));
  Registry& registry = SystemRegistry();

  RegistryKey key = 0;
  ASSERT_TRUE(registry.OpenForQuery(RegistryRoot::kLocalMachine, kKey, &key));
  unsigned char data[128];
  std::uint32_t size = sizeof data;
  EXPECT_EQ(registry.Query(key, "Text", data, &size), QueryStatus::kOk);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 4),
            std::string("abc\0", 4));
  EXPECT_FALSE(registry.SetDword(key, "Number", 1));
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(Hkey(key), "Number", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&one), sizeof one),
            ERROR_ACCESS_DENIED);
  registry.Close(key);
  EXPECT_EQ(scratch.ValueCount(RegistryRoot::kLocalMachine, kKey), 1u);
}

TEST(SystemRegistry, SetKeyWritesADword) {
  fakes::ScratchRegistry scratch;
  ASSERT_TRUE(scratch.ready());
  Registry& registry = SystemRegistry();

  RegistryKey key = 0;
  ASSERT_TRUE(registry.CreateForSet(RegistryRoot::kCurrentUser, kKey, &key));
  EXPECT_TRUE(registry.SetDword(key, "Number", 0x01020304));
  registry.Close(key);

  const auto value =
      scratch.FindValue(RegistryRoot::kCurrentUser, kKey, "Number");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, static_cast<std::uint32_t>(REG_DWORD));
  EXPECT_EQ(value->data, std::string("\x04\x03\x02\x01", 4));
}

TEST(SystemRegistry, QueryStatuses) {
  fakes::ScratchRegistry scratch;
  ASSERT_TRUE(scratch.ready());
  scratch.SetValue(RegistryRoot::kCurrentUser, kKey, "Long", REG_SZ,
                   std::string(128, 'x') + std::string(1, '\0'));
  Registry& registry = SystemRegistry();

  RegistryKey key = 0;
  EXPECT_FALSE(registry.OpenForQuery(RegistryRoot::kCurrentUser,
                                     "Software\\Tavelon\\Missing", &key));
  ASSERT_TRUE(registry.OpenForQuery(RegistryRoot::kCurrentUser, kKey, &key));
  unsigned char data[128];
  std::uint32_t size = sizeof data;
  EXPECT_EQ(registry.Query(key, "Long", data, &size), QueryStatus::kMoreData);
  size = sizeof data;
  EXPECT_EQ(registry.Query(key, "Missing", data, &size), QueryStatus::kFailed);
  registry.Close(key);
}

}  // namespace
}  // namespace tavelon::platform

#endif
