// The system's file operations on real files: native POSIX files, or the
// Win32 ones when built for Windows.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/memory_files.h"
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

// The file operations' contract, shown on the system's files (POSIX, or
// Win32 when built for Windows) and on the files held in memory, which the
// dry runs and the fault-injection tests stand on: the two must agree.
// Each backend names a file in a folder, puts bytes in it, makes a file
// that exists but cannot be opened, and reads a file back.
struct SystemBackend {
  test_support::TempFolder folder;
  Files& files = SystemFiles();
  std::string Path(const std::string& name) const {
    return folder.PathOf(name);
  }
  std::string Put(const std::string& name, const Bytes& bytes) {
    test_support::WriteBytes(folder.path() / name, bytes);
    return Path(name);
  }
  // A folder where a file is expected cannot be opened as one.
  std::string Unopenable(const std::string& name) {
    std::filesystem::create_directory(folder.path() / name);
    return Path(name);
  }
  Bytes Content(const std::string& path) const {
    return test_support::ReadBytes(path);
  }
};

struct MemoryBackend {
  MemoryFiles files;
  static std::string Path(const std::string& name) { return "C:\\T\\" + name; }
  std::string Put(const std::string& name, const Bytes& bytes) {
    files.Add(Path(name), bytes);
    return Path(name);
  }
  std::string Unopenable(const std::string& name) {
    files.AddLocked(Path(name));
    return Path(name);
  }
  Bytes Content(const std::string& path) const {
    const Bytes* bytes = files.Find(path);
    return bytes != nullptr ? *bytes : Bytes{};
  }
};

template <typename Backend>
class FilesContract : public ::testing::Test {
 protected:
  FileHandle Open(const std::string& path, FileAccess access) {
    FileHandle file = 0;
    EXPECT_EQ(backend_.files.OpenExisting(path.c_str(), access, &file),
              OpenStatus::kOpened)
        << path;
    return file;
  }
  Backend backend_;
};

using Backends = ::testing::Types<SystemBackend, MemoryBackend>;
TYPED_TEST_SUITE(FilesContract, Backends);

// A missing file or folder, or a name no file can have (a folder taken
// from the registry with its quotation marks), is not found; a file that
// exists but cannot be opened fails; names are found whatever their letter
// case, as on Windows. Nothing is ever created.
TYPED_TEST(FilesContract, OpenTellsMissingFilesFromOtherFailures) {
  auto& backend = this->backend_;
  const std::string file = backend.Put("file.dic", {1, 2, 3});
  struct Case {
    std::string path;
    OpenStatus status;
  };
  const std::vector<Case> cases = {
      {backend.Path("missing.dic"), OpenStatus::kNotFound},
      {backend.Path("missing") + "\\file.dic", OpenStatus::kNotFound},
      {"\"" + backend.Path("data") + "\"\\file.dic", OpenStatus::kNotFound},
      {backend.Unopenable("folder.dic"), OpenStatus::kFailed},
      {file, OpenStatus::kOpened},
      {backend.Path("FILE.DIC"), OpenStatus::kOpened},
  };
  for (const Case& c : cases) {
    for (const FileAccess access :
         {FileAccess::kRead, FileAccess::kReadWrite}) {
      SCOPED_TRACE(c.path);
      FileHandle handle = 0;
      const OpenStatus status =
          backend.files.OpenExisting(c.path.c_str(), access, &handle);
      EXPECT_EQ(status, c.status);
      if (status == OpenStatus::kOpened) backend.files.Close(handle);
    }
  }
  EXPECT_EQ(backend.Content(backend.Path("missing.dic")), Bytes{});
}

TYPED_TEST(FilesContract, ReadsAndWritesFourBytesAtAPosition) {
  auto& files = this->backend_.files;
  const std::string path =
      this->backend_.Put("file.dic", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  const FileHandle file = this->Open(path, FileAccess::kReadWrite);
  EXPECT_EQ(files.Length(file), 10);

  unsigned char bytes[4] = {};
  ASSERT_TRUE(files.SetPosition(file, 5));
  EXPECT_EQ(files.Read(file, bytes, 4), 4u);
  EXPECT_EQ(bytes[0], 5);
  EXPECT_EQ(bytes[3], 8);
  EXPECT_EQ(files.Read(file, bytes, 4), 1u);  // the position moved to 9
  EXPECT_EQ(bytes[0], 9);
  ASSERT_TRUE(files.SetPosition(file, 8));
  EXPECT_EQ(files.Read(file, bytes, 4), 2u);
  EXPECT_TRUE(files.SetPosition(file, 10));
  EXPECT_EQ(files.Read(file, bytes, 4), 0u);
  EXPECT_TRUE(files.SetPosition(file, 0x100000000LL));
  EXPECT_EQ(files.Read(file, bytes, 4), 0u);
  EXPECT_FALSE(files.SetPosition(file, -1));
  EXPECT_FALSE(files.SetPosition(file, -4294967296LL));
  EXPECT_EQ(files.Length(file), 10);  // reading past the end grows nothing

  const unsigned char value[4] = {0xAA, 0xBB, 0xCC, 0xDD};
  ASSERT_TRUE(files.SetPosition(file, 2));
  EXPECT_EQ(files.Write(file, value, 4), 4u);
  EXPECT_EQ(files.Length(file), 10);
  files.Close(file);
  EXPECT_EQ(this->backend_.Content(path),
            (Bytes{0, 1, 0xAA, 0xBB, 0xCC, 0xDD, 6, 7, 8, 9}));
}

TYPED_TEST(FilesContract, ReadOnlyFileRefusesWrites) {
  auto& files = this->backend_.files;
  const std::string path = this->backend_.Put("info.tmp", {1, 2, 3, 4});
  const FileHandle file = this->Open(path, FileAccess::kRead);
  const unsigned char value[4] = {9, 9, 9, 9};
  EXPECT_EQ(files.Write(file, value, 4), 0u);
  files.Close(file);
  EXPECT_EQ(this->backend_.Content(path), (Bytes{1, 2, 3, 4}));
}

// Reading and writing are shared with other handles, each with a position
// of its own.
TYPED_TEST(FilesContract, SharesTheFileEachHandleWithItsOwnPosition) {
  auto& files = this->backend_.files;
  const std::string path =
      this->backend_.Put("a.dic", {1, 2, 3, 4, 5, 6, 7, 8});
  const FileHandle first = this->Open(path, FileAccess::kReadWrite);
  const FileHandle second = this->Open(path, FileAccess::kReadWrite);
  EXPECT_NE(first, second);
  unsigned char bytes[4] = {};
  ASSERT_TRUE(files.SetPosition(first, 4));
  EXPECT_EQ(files.Read(second, bytes, 4), 4u);
  EXPECT_EQ(bytes[0], 1);
  files.Close(first);
  files.Close(second);
}

#if defined(_WIN32)
// A file opened locked can still be read by others, but not written,
// renamed or deleted until it is closed.
TEST(SystemFilesTest, ALockedFileStaysAsItIsWhileOpen) {
  SystemBackend backend;
  Files& files_ = backend.files;
  const std::string path = backend.Put("MSpchapi.exe", {1, 2, 3, 4});
  const std::string renamed = backend.Path("other.exe");
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

// Paths are written with backslashes, also into folders.
TEST(SystemFilesTest, BackslashPathsIntoFolders) {
  SystemBackend backend;
  std::filesystem::create_directory(backend.folder.path() / "data");
  test_support::WriteBytes(backend.folder.path() / "data" / "ENGTOGER.DIC",
                           {7, 7});
  const std::string path = backend.Path("data") + "\\engtoGer.dic";
  FileHandle file = 0;
  ASSERT_EQ(
      backend.files.OpenExisting(path.c_str(), FileAccess::kReadWrite, &file),
      OpenStatus::kOpened);
  EXPECT_EQ(backend.files.Length(file), 2);
  backend.files.Close(file);
}

TEST(SystemFilesTest, LengthOfTwoGibibytesOrMoreIsUnknown) {
  SystemBackend backend;
  Files& files_ = backend.files;
  const std::string path = backend.Put("large.dic", {});
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
