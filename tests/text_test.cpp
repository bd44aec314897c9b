#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

#if defined(_WIN32)
#include <windows.h>

#include "platform/win32/win32_text.h"
#endif

namespace tavelon::platform {
namespace {

// Where the last backslash character of a text lies: in single-byte text
// the same on every code page (kAny); in double-byte text only where it is
// not the trail byte of a character. Natively every byte is a character, as
// on a Western code page.
constexpr unsigned int kAny = 0;
constexpr unsigned int kJapanese = 932;
constexpr unsigned int kWestern = 1252;

struct TextCase {
  const char* text;
  unsigned int code_page;
  int last_backslash;  // offset, -1 for none
  bool ends_with_backslash;
} const kCases[] = {
    {"", kAny, -1, false},
    {"tavelon.exe", kAny, -1, false},
    {"\\", kAny, 0, true},
    {"C:\\Tavelon\\tavelon.exe", kAny, 10, false},
    {"C:\\Tavelon\\", kAny, 10, true},
    {"\\\\server\\share", kAny, 8, false},
    {"a\\b\\\\", kAny, 4, true},
    // 0x95 0x5C is one Japanese character; its 0x5C is no backslash.
    {"C:\\\x95\x5C", kJapanese, 2, false},
    {"C:\\\x95\x5C", kWestern, 4, true},
    {"C:\\\x95\x5C\\t.exe", kJapanese, 5, false},
    {"\x95\x5C", kJapanese, -1, false},
    // Lead-byte values as trail bytes: 0x81 0x81 is one character.
    {"\x81\x81\x5C", kJapanese, 2, true},
    {"\x81\x81\x81\x5C", kJapanese, -1, false},
    // A half-width katakana is a single byte.
    {"C:\\\xB1\\", kJapanese, 4, true},
    // A lead byte right before the end is a character of its own.
    {"C:\\dir\x95", kJapanese, 2, false},
};

int Offset(const char* text, const char* found) {
  return found == nullptr ? -1 : static_cast<int>(found - text);
}

TEST(Text, FindsTheLastBackslashCharacter) {
  for (const TextCase& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.text << " on " << c.code_page);
#if defined(_WIN32)
    const unsigned int code_page = c.code_page == kAny ? GetACP() : c.code_page;
    EXPECT_EQ(
        Offset(c.text, win32::FindLastBackslashInCodePage(c.text, code_page)),
        c.last_backslash);
    EXPECT_EQ(win32::EndsWithBackslashInCodePage(c.text, code_page),
              c.ends_with_backslash);
    // The system functions read text on the ANSI code page, whichever it is.
    EXPECT_EQ(FindLastBackslash(c.text),
              win32::FindLastBackslashInCodePage(c.text, GetACP()));
    EXPECT_EQ(EndsWithBackslash(c.text),
              win32::EndsWithBackslashInCodePage(c.text, GetACP()));
#else
    if (c.code_page == kJapanese) continue;
    EXPECT_EQ(Offset(c.text, FindLastBackslash(c.text)), c.last_backslash);
    EXPECT_EQ(EndsWithBackslash(c.text), c.ends_with_backslash);
#endif
  }
}

#if defined(_WIN32)
// A path that the ANSI code page writes comes back as it stands; one with a
// character outside it in its short form, which exists and opens. Neither
// ever in a best-fit form ("Lukasz" for "\u0141ukasz").
TEST(Text, PathsInTheAnsiCodePage) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring inside = std::wstring(temp) + L"tavelon Update";
  const std::wstring outside = std::wstring(temp) + L"tavelon \u0141ukasz";
  for (const std::wstring& folder : {inside, outside}) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    const HANDLE file =
        CreateFileW((folder + L"\\info.tmp").c_str(), GENERIC_WRITE, 0, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
  }
  const std::wstring inside_file = inside + L"\\info.tmp";
  char path[256];
  const std::uint32_t length =
      win32::PathInAnsiCodePage(inside_file.c_str(), path, sizeof path);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::string(path),
            std::string(inside_file.begin(), inside_file.end()));
  EXPECT_EQ(0u, win32::PathInAnsiCodePage(inside_file.c_str(), path,
                                          length));  // does not fit

  // The program's own path, on a plain ASCII path, is GetModuleFileNameA's.
  char own[256];
  char expected[256];
  ASSERT_GT(win32::ModulePathInAnsiCodePage(own, sizeof own), 0u);
  ASSERT_GT(GetModuleFileNameA(nullptr, expected, sizeof expected), 0u);
  EXPECT_STREQ(expected, own);

  if (GetACP() == CP_UTF8) GTEST_SKIP() << "UTF-8 writes every character";
  const std::wstring outside_file = outside + L"\\info.tmp";
  ASSERT_GT(win32::PathInAnsiCodePage(outside_file.c_str(), path, sizeof path),
            0u);
  EXPECT_EQ(std::string(path).find("Lukasz"), std::string::npos) << path;
  EXPECT_NE(std::string(path).find('~'), std::string::npos) << path;
  const HANDLE opened =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(opened, INVALID_HANDLE_VALUE) << path;
  if (opened != INVALID_HANDLE_VALUE) CloseHandle(opened);
}
#endif

}  // namespace
}  // namespace tavelon::platform
