// The run's folder on Windows: the security it is made with, read back
// from memory (Wine answers a folder's DACL from the Unix file mode), and a
// real folder made, filled and deleted under the Windows folder's Temp.
#if defined(_WIN32)

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/win32/win32_security.h"

namespace tavelon::platform {
namespace {

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  return IsWellKnownSid(sid, type) != FALSE;
}

TEST(SystemRunFolder, OnlySystemAndAdministratorsHaveAccess) {
  win32::AdministratorsOnlySecurity security;
  ASSERT_TRUE(win32::BuildRunFolderSecurity(&security));
  PSECURITY_DESCRIPTOR descriptor = &security.descriptor;
  ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));

  PSID owner = nullptr;
  BOOL defaulted = TRUE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
  EXPECT_TRUE(IsWellKnown(owner, WinBuiltinAdministratorsSid));
  EXPECT_FALSE(defaulted);

  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_NE(0, control & SE_DACL_PROTECTED);  // nothing from the parent

  BOOL present = FALSE;
  PACL acl = nullptr;
  ASSERT_TRUE(
      GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(nullptr, acl);
  ASSERT_EQ(2, acl->AceCount);
  std::set<std::string> trustees;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, i, &ace));
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, allowed->Header.AceType);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
              allowed->Header.AceFlags);
    EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), allowed->Mask);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if (IsWellKnown(sid, WinLocalSystemSid)) trustees.insert("system");
    if (IsWellKnown(sid, WinBuiltinAdministratorsSid)) {
      trustees.insert("administrators");
    }
  }
  EXPECT_EQ((std::set<std::string>{"administrators", "system"}), trustees);
}

// The folders named TavelonUpdate-* under the Windows folder's Temp.
std::set<std::wstring> RunFolders() {
  wchar_t pattern[MAX_PATH];
  const UINT length = GetSystemWindowsDirectoryW(pattern, MAX_PATH);
  lstrcpyW(pattern + length, L"\\Temp\\TavelonUpdate-*");
  std::set<std::wstring> found;
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    found.insert(std::wstring(pattern, length + 6) + entry.cFileName);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return found;
}

// The deletions scheduled for the next restart, in order: the names of
// PendingFileRenameOperations whose new name is empty, without "\??\".
std::vector<std::wstring> ScheduledDeletions() {
  static wchar_t pairs[32768];
  DWORD size = sizeof pairs - 2 * sizeof *pairs;
  std::vector<std::wstring> names;
  if (RegGetValueW(HKEY_LOCAL_MACHINE,
                   L"System\\CurrentControlSet\\Control\\Session Manager",
                   L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                   pairs, &size) != ERROR_SUCCESS) {
    return names;
  }
  pairs[size / sizeof *pairs] = pairs[size / sizeof *pairs + 1] = L'\0';
  for (const wchar_t* from = pairs; *from != L'\0';) {
    const wchar_t* to = from + lstrlenW(from) + 1;
    if (*to == L'\0') names.push_back(from + (from[0] == L'\\' ? 4 : 0));
    from = to + lstrlenW(to) + 1;
  }
  return names;
}

// A new folder each time, with a name of 128 random bits; new files only.
// At the end it is deleted with what the installers may have left in it;
// with an installer still running then, nothing is deleted, and all that
// the folder holds, then the folder, goes at the next restart.
TEST(SystemRunFolder, MakesFillsAndDeletesANewFolder) {
  for (const bool at_restart : {false, true}) {
    SCOPED_TRACE(at_restart);
    const std::set<std::wstring> before = RunFolders();
    RunFolder& folder = SystemRunFolder();
    ASSERT_TRUE(folder.Make());
    std::set<std::wstring> made = RunFolders();
    for (const std::wstring& path : before) made.erase(path);
    ASSERT_EQ(1u, made.size());
    const std::wstring path = *made.begin();
    const std::wstring name = path.substr(path.rfind(L'\\') + 1);
    ASSERT_EQ(14u + 32u, name.size());
    EXPECT_EQ(std::wstring::npos,
              name.find_first_not_of(L"0123456789abcdef", 14));

    ASSERT_TRUE(folder.CreateNewFile("MSpchapi.exe"));
    EXPECT_TRUE(folder.Append("MZ", 2));
    EXPECT_TRUE(folder.CloseFile());
    EXPECT_FALSE(folder.CreateNewFile("MSpchapi.exe"));  // never replaced
    EXPECT_FALSE(folder.Append("MZ", 2));                // nothing open
    // What an installer might unpack: a folder with a read-only file.
    const std::wstring unpacked = path + L"\\unpacked";
    const std::wstring inner = unpacked + L"\\setup.inf";
    ASSERT_TRUE(CreateDirectoryW(unpacked.c_str(), nullptr));
    const HANDLE file =
        CreateFileW(inner.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    const std::size_t scheduled_before = ScheduledDeletions().size();

    EXPECT_TRUE(folder.WaitForPrograms(0));  // none started
    folder.Remove(at_restart);
    std::vector<std::wstring> scheduled = ScheduledDeletions();
    scheduled.erase(
        scheduled.begin(),
        scheduled.begin() + static_cast<std::ptrdiff_t>(scheduled_before));
    if (!at_restart) {
      EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
      EXPECT_EQ(std::vector<std::wstring>{}, scheduled);
      EXPECT_EQ(before, RunFolders());
      continue;
    }
    const auto at = [&scheduled](const std::wstring& entry) {
      return std::find(scheduled.begin(), scheduled.end(), entry) -
             scheduled.begin();
    };
    EXPECT_EQ(4u, scheduled.size());
    EXPECT_LT(at(inner), at(unpacked));
    EXPECT_LT(at(unpacked), at(path));
    EXPECT_LT(at(path + L"\\MSpchapi.exe"), at(path));
    EXPECT_EQ(static_cast<std::ptrdiff_t>(scheduled.size()) - 1, at(path));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(inner.c_str()));
    // What the next restart would do, done now.
    SetFileAttributesW(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(inner.c_str());
    RemoveDirectoryW(unpacked.c_str());
    DeleteFileW((path + L"\\MSpchapi.exe").c_str());
    RemoveDirectoryW(path.c_str());
    EXPECT_EQ(before, RunFolders());
  }
}

}  // namespace
}  // namespace tavelon::platform

#endif  // defined(_WIN32)
