// The system's file operations on real files: native POSIX files, or the
// Win32 ones when built for Windows.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tests/support/temp_folder.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tavelon::platform {
namespace {

using test_support::Bytes;

// Sets a file's length without writing its bytes (a sparse file).
bool Resize(const std::string& path, std::int64_t length) {
#if defined(_WIN32)
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER position;
  position.QuadPart = length;
  const bool ok = SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
                  SetEndOfFile(file);
  CloseHandle(file);
  return ok;
#else
  return truncate(path.c_str(), static_cast<off_t>(length)) == 0;
#endif
}

class FilesTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    test_support::WriteBytes(folder_.path() / name, bytes);
    return folder_.PathOf(name);
  }

  test_support::TempFolder folder_;
  Files& files_ = SystemFiles();
};

TEST_F(FilesTest, OpenTellsMissingFilesFromOtherFailures) {
  const std::string file = Write("file.dic", {1, 2, 3});
  std::filesystem::create_directory(folder_.path() / "folder.dic");
  struct Case {
    std::string path;
    OpenStatus status;
  };
  const std::vector<Case> cases = {
      {folder_.PathOf("missing.dic"), OpenStatus::kNotFound},
      {folder_.PathOf("missing") + "\\file.dic", OpenStatus::kNotFound},
      // A folder taken from the registry with its quotation marks: no file
      // can have that name, so it is as missing, not as unwritable.
      {"\"" + folder_.PathOf("data") + "\"\\file.dic", OpenStatus::kNotFound},
      {folder_.PathOf("folder.dic"), OpenStatus::kFailed},
      {file, OpenStatus::kOpened},
  };
  for (const Case& c : cases) {
    for (const FileAccess access :
         {FileAccess::kRead, FileAccess::kReadWrite}) {
      SCOPED_TRACE(c.path);
      FileHandle handle = 0;
      const OpenStatus status =
          files_.OpenExisting(c.path.c_str(), access, &handle);
      EXPECT_EQ(status, c.status);
      if (status == OpenStatus::kOpened) files_.Close(handle);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "missing.dic"));
}

TEST_F(FilesTest, ReadsAndWritesFourBytesAtAPosition) {
  const std::string path = Write("file.dic", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  FileHandle file = 0;
  ASSERT_EQ(files_.OpenExisting(path.c_str(), FileAccess::kReadWrite, &file),
            OpenStatus::kOpened);
  EXPECT_EQ(files_.Length(file), 10);

  unsigned char bytes[4] = {};
  ASSERT_TRUE(files_.SetPosition(file, 5));
  EXPECT_EQ(files_.Read(file, bytes, 4), 4u);
  EXPECT_EQ(bytes[0], 5);
  EXPECT_EQ(bytes[3], 8);
  ASSERT_TRUE(files_.SetPosition(file, 8));
  EXPECT_EQ(files_.Read(file, bytes, 4), 2u);
  EXPECT_TRUE(files_.SetPosition(file, 10));
  EXPECT_EQ(files_.Read(file, bytes, 4), 0u);
  EXPECT_TRUE(files_.SetPosition(file, 0x100000000LL));
  EXPECT_EQ(files_.Read(file, bytes, 4), 0u);
  EXPECT_FALSE(files_.SetPosition(file, -1));
  EXPECT_FALSE(files_.SetPosition(file, -4294967296LL));

  const unsigned char value[4] = {0xAA, 0xBB, 0xCC, 0xDD};
  ASSERT_TRUE(files_.SetPosition(file, 2));
  EXPECT_EQ(files_.Write(file, value, 4), 4u);
  EXPECT_EQ(files_.Length(file), 10);
  files_.Close(file);
  EXPECT_EQ(test_support::ReadBytes(path),
            (Bytes{0, 1, 0xAA, 0xBB, 0xCC, 0xDD, 6, 7, 8, 9}));
}

TEST_F(FilesTest, ReadOnlyFileRefusesWrites) {
  const std::string path = Write("info.tmp", {1, 2, 3, 4});
  FileHandle file = 0;
  ASSERT_EQ(files_.OpenExisting(path.c_str(), FileAccess::kRead, &file),
            OpenStatus::kOpened);
  const unsigned char value[4] = {9, 9, 9, 9};
  EXPECT_EQ(files_.Write(file, value, 4), 0u);
  files_.Close(file);
  EXPECT_EQ(test_support::ReadBytes(path), (Bytes{1, 2, 3, 4}));
}

TEST_F(FilesTest, SharesReadingAndWriting) {
  const std::string path = Write("file.dic", {1, 2, 3, 4});
  FileHandle first = 0;
  FileHandle second = 0;
  ASSERT_EQ(files_.OpenExisting(path.c_str(), FileAccess::kReadWrite, &first),
            OpenStatus::kOpened);
  EXPECT_EQ(files_.OpenExisting(path.c_str(), FileAccess::kReadWrite, &second),
            OpenStatus::kOpened);
  files_.Close(second);
  files_.Close(first);
}

#if defined(_WIN32)
// A file opened locked can still be read by others, but not written,
// renamed or deleted until it is closed.
TEST_F(FilesTest, ALockedFileStaysAsItIsWhileOpen) {
  const std::string path = Write("MSpchapi.exe", {1, 2, 3, 4});
  const std::string renamed = folder_.PathOf("other.exe");
  FileHandle locked = 0;
  ASSERT_EQ(files_.OpenExisting(path.c_str(), FileAccess::kReadLocked, &locked),
            OpenStatus::kOpened);
  FileHandle other = 0;
  EXPECT_EQ(files_.OpenExisting(path.c_str(), FileAccess::kReadWrite, &other),
            OpenStatus::kFailed);
  EXPECT_FALSE(MoveFileA(path.c_str(), renamed.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  ASSERT_EQ(files_.OpenExisting(path.c_str(), FileAccess::kRead, &other),
            OpenStatus::kOpened);
  files_.Close(other);
  files_.Close(locked);
  EXPECT_TRUE(MoveFileA(path.c_str(), renamed.c_str()));
}
#endif

// The system's SHA-256 (CryptoAPI, OpenSSL) gives the standard digests,
// also of content added in pieces.
TEST(Sha256Test, StandardDigests) {
  const std::string million(1000000, 'a');
  struct {
    std::string text;
    std::uint32_t piece;
    const char* hex;
  } const cases[] = {
      {"", 1,
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", 3,
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {million, 16384,
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  Sha256& sha256 = SystemSha256();
  for (const auto& c : cases) {
    ASSERT_TRUE(sha256.Begin());
    for (std::size_t at = 0; at < c.text.size(); at += c.piece) {
      const std::size_t size =
          std::min<std::size_t>(c.piece, c.text.size() - at);
      ASSERT_TRUE(
          sha256.Add(c.text.data() + at, static_cast<std::uint32_t>(size)));
    }
    Sha256Digest digest;
    ASSERT_TRUE(sha256.Finish(&digest));
    std::string hex;
    for (unsigned char byte : digest.bytes) {
      hex += "0123456789abcdef"[byte >> 4];
      hex += "0123456789abcdef"[byte & 15];
    }
    EXPECT_EQ(hex, c.hex) << c.text.substr(0, 8);
  }
}

// Paths are written with backslashes, and names are found whatever their
// letter case, as on Windows.
TEST_F(FilesTest, BackslashPathsAndNamesInAnyCase) {
  std::filesystem::create_directory(folder_.path() / "data");
  test_support::WriteBytes(folder_.path() / "data" / "ENGTOGER.DIC", {7, 7});
  const std::string path = folder_.PathOf("data") + "\\engtoGer.dic";
  FileHandle file = 0;
  ASSERT_EQ(files_.OpenExisting(path.c_str(), FileAccess::kReadWrite, &file),
            OpenStatus::kOpened);
  EXPECT_EQ(files_.Length(file), 2);
  files_.Close(file);
}

TEST_F(FilesTest, LengthOfTwoGibibytesOrMoreIsUnknown) {
  const std::string path = Write("large.dic", {});
  for (const std::int64_t length :
       {0x7FFFFFFFLL, 0x80000000LL, 0x100000010LL}) {
    SCOPED_TRACE(length);
    ASSERT_TRUE(Resize(path, length));
    FileHandle file = 0;
    ASSERT_EQ(files_.OpenExisting(path.c_str(), FileAccess::kRead, &file),
              OpenStatus::kOpened);
    EXPECT_EQ(files_.Length(file), length == 0x7FFFFFFFLL ? 0x7FFFFFFF : -1);
    files_.Close(file);
  }
}

}  // namespace
}  // namespace tavelon::platform
