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
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"
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
// Win32 when built for Windows) and on the files held in memory behind the
// fault-injecting wrapper, which the other tests stand on: they must agree.
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
  fakes::MemoryFiles memory;
  fakes::FaultFiles files{memory};
  static std::string Path(const std::string& name) { return "C:\\T\\" + name; }
  std::string Put(const std::string& name, const Bytes& bytes) {
    memory.Add(Path(name), bytes);
    return Path(name);
  }
  std::string Unopenable(const std::string& name) {
    memory.AddLocked(Path(name));
    return Path(name);
  }
  Bytes Content(const std::string& path) const {
    const Bytes* bytes = memory.Find(path);
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
  // A write that reaches past the end makes the file longer; a gap before
  // it reads as zero bytes.
  ASSERT_TRUE(files.SetPosition(file, 12));
  EXPECT_EQ(files.Write(file, value, 2), 2u);
  EXPECT_EQ(files.Length(file), 14);
  files.Close(file);
  EXPECT_EQ(
      this->backend_.Content(path),
      (Bytes{0, 1, 0xAA, 0xBB, 0xCC, 0xDD, 6, 7, 8, 9, 0, 0, 0xAA, 0xBB}));
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

// The wrapper: each operation's calls are counted over its life; the chosen
// one fails as the system's would, and only that one; a read can deliver
// changed bytes; every call on an open file is logged as it reached the
// file, and calls on handles that are not open are counted. In memory, a
// write that would make a file reach 2 GiB fails.
TEST(FaultFilesTest, FailsTheChosenCallAndLogsWhatReachedTheFile) {
  using Operation = fakes::FaultFiles::Operation;
  struct Case {
    Operation operation;
    std::uint32_t transferred;
  } const cases[] = {
      {Operation::kOpen, 0},        {Operation::kLength, 0},
      {Operation::kSetPosition, 0}, {Operation::kRead, 0},
      {Operation::kRead, 3},        {Operation::kWrite, 0},
      {Operation::kWrite, 2},       {Operation::kClose, 0},
  };
  const unsigned char value[4] = {0xE0, 0xE1, 0xE2, 0xE3};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.operation) * 10 +
                 static_cast<int>(c.transferred));
    fakes::MemoryFiles memory;
    memory.Add("a.dic", {10, 11, 12, 13, 14, 15, 16, 17});
    fakes::FaultFiles files(memory);
    files.FailCall(c.operation, 2, c.transferred);
    unsigned char bytes[4] = {};
    FileHandle file = 0;
    // The first call of every operation succeeds.
    ASSERT_EQ(files.OpenExisting("a.dic", FileAccess::kReadWrite, &file),
              OpenStatus::kOpened);
    EXPECT_EQ(files.Length(file), 8);
    EXPECT_TRUE(files.SetPosition(file, 0));
    EXPECT_EQ(files.Read(file, bytes, 4), 4u);
    EXPECT_EQ(files.Write(file, value, 4), 4u);  // at 4
    files.Close(file);
    Bytes expected = {10, 11, 12, 13, 0xE0, 0xE1, 0xE2, 0xE3};

    // The second.
    const OpenStatus status =
        files.OpenExisting("A.DIC", FileAccess::kReadWrite, &file);
    if (c.operation == Operation::kOpen) {
      EXPECT_EQ(status, OpenStatus::kFailed);
      EXPECT_EQ(files.OpenHandles(), 0u);
      continue;
    }
    ASSERT_EQ(status, OpenStatus::kOpened);
    EXPECT_EQ(files.Length(file), c.operation == Operation::kLength ? -1 : 8);
    const bool positioned = files.SetPosition(file, 2);
    EXPECT_EQ(positioned, c.operation != Operation::kSetPosition);
    const std::uint32_t read = files.Read(file, bytes, 4);
    EXPECT_EQ(read, c.operation == Operation::kRead ? c.transferred : 4u);
    const std::uint32_t written = files.Write(file, value, 4);
    EXPECT_EQ(written, c.operation == Operation::kWrite ? c.transferred : 4u);
    files.Close(file);
    EXPECT_EQ(files.OpenHandles(), 0u);
    EXPECT_EQ(files.Calls(c.operation), 2);

    // What the write changed lies where the position had got to (a fresh
    // open starts at 0), and only the bytes it reported.
    const std::int64_t start = (positioned ? 2 : 0) + read;
    for (std::uint32_t i = 0; i < written; ++i) {
      const std::size_t at = static_cast<std::size_t>(start) + i;
      if (at >= expected.size()) expected.resize(at + 1, 0);
      expected[at] = value[i];
    }
    EXPECT_EQ(*memory.Find("a.dic"), expected);
    // The second round's log: open, length, positioning (as asked), read,
    // write, close, each where the file's position was.
    const std::vector<std::int64_t> positions = {
        0, 0, 2, positioned ? 2 : 0, start, start + written};
    const auto& log = files.accesses();
    ASSERT_EQ(log.size(), 12u);
    for (std::size_t i = 6; i < log.size(); ++i) {
      EXPECT_EQ(log[i].path, "A.DIC");
      EXPECT_EQ(log[i].operation, log[i - 6].operation);
      EXPECT_EQ(log[i].position, positions[i - 6]);
    }
    EXPECT_EQ(log[9].transferred, read);
    EXPECT_EQ(log[10].transferred, written);
  }

  fakes::MemoryFiles memory;
  memory.Add("a.dic", {1, 2, 3, 4});
  fakes::FaultFiles files(memory);
  files.ChangeRead(1);
  FileHandle file = 0;
  ASSERT_EQ(files.OpenExisting("a.dic", FileAccess::kReadWrite, &file),
            OpenStatus::kOpened);
  unsigned char bytes[4] = {};
  EXPECT_EQ(files.Read(file, bytes, 4), 4u);
  EXPECT_NE(bytes[0], 1);
  ASSERT_TRUE(files.SetPosition(file, 0x7FFFFFFE));
  EXPECT_EQ(files.Write(file, value, 4), 0u);
  EXPECT_EQ(files.Length(file), 4);
  files.Close(file);
  EXPECT_EQ(files.Length(file), -1);
  EXPECT_FALSE(files.SetPosition(file, 0));
  EXPECT_EQ(files.Read(file, bytes, 4), 0u);
  EXPECT_EQ(files.Write(file, bytes, 4), 0u);
  files.Close(file);
  files.Close(12345);
  EXPECT_EQ(files.BadHandleCalls(), 6);
  EXPECT_EQ(*memory.Find("a.dic"), (Bytes{1, 2, 3, 4}));
}

}  // namespace
}  // namespace tavelon::platform
