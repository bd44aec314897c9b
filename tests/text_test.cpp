#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>

#include "platform/win32/win32_text.h"
#endif

namespace tavelon::platform {
namespace {

struct TextCase {
  const char* text;
  int last_backslash;  // offset, -1 for none
  bool ends_with_backslash;
};

int Offset(const char* text, const char* found) {
  return found == nullptr ? -1 : static_cast<int>(found - text);
}

// Single-byte text reads the same on every code page.
const std::vector<TextCase>& SingleByteCases() {
  static const std::vector<TextCase> cases = {
      {"", -1, false},
      {"tavelon.exe", -1, false},
      {"\\", 0, true},
      {"C:\\Tavelon\\tavelon.exe", 10, false},
      {"C:\\Tavelon\\", 10, true},
      {"\\\\server\\share", 8, false},
      {"a\\b\\\\", 4, true},
  };
  return cases;
}

TEST(Text, SingleByteText) {
  for (const TextCase& c : SingleByteCases()) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Offset(c.text, FindLastBackslash(c.text)), c.last_backslash);
    EXPECT_EQ(EndsWithBackslash(c.text), c.ends_with_backslash);
  }
}

#if !defined(_WIN32)
TEST(Text, EveryByteIsACharacter) {
  const char text[] = "C:\\\x95\x5C";
  EXPECT_EQ(Offset(text, FindLastBackslash(text)), 4);
  EXPECT_TRUE(EndsWithBackslash(text));
}
#else
struct CodePageCase {
  const char* text;
  unsigned int code_page;
  int last_backslash;
  bool ends_with_backslash;
};

constexpr unsigned int kJapanese = 932;
constexpr unsigned int kWestern = 1252;

const std::vector<CodePageCase>& CodePageCases() {
  static const std::vector<CodePageCase> cases = {
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
  return cases;
}

TEST(Text, CodePageCharacters) {
  for (const CodePageCase& c : CodePageCases()) {
    SCOPED_TRACE(testing::Message() << c.text << " on " << c.code_page);
    EXPECT_EQ(
        Offset(c.text, win32::FindLastBackslashInCodePage(c.text, c.code_page)),
        c.last_backslash);
    EXPECT_EQ(win32::EndsWithBackslashInCodePage(c.text, c.code_page),
              c.ends_with_backslash);
  }
}

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

// The system functions read text on the ANSI code page, whichever it is.
TEST(Text, SystemCodePage) {
  for (const CodePageCase& c : CodePageCases()) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FindLastBackslash(c.text),
              win32::FindLastBackslashInCodePage(c.text, GetACP()));
    EXPECT_EQ(EndsWithBackslash(c.text),
              win32::EndsWithBackslashInCodePage(c.text, GetACP()));
  }
}
#endif

}  // namespace
}  // namespace tavelon::platform
