// The file operations on files held in memory: the same contract as the
// system's, plus calls made to fail on purpose.
#include "platform/memory_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tavelon::platform {
namespace {

using Bytes = MemoryFiles::Bytes;
using Operation = MemoryFiles::Operation;

FileHandle OpenOrFail(MemoryFiles& files, const char* path,
                      FileAccess access = FileAccess::kReadWrite) {
  FileHandle file = 0;
  EXPECT_EQ(files.OpenExisting(path, access, &file), OpenStatus::kOpened)
      << path;
  return file;
}

// Beyond the contract that it shares with the system's files
// (files_test.cpp): a write that reaches past the end makes the file
// longer, as on disk, and one that would reach 2 GiB fails.
TEST(MemoryFilesTest, GrowsOnlyWhenWrittenPastTheEnd) {
  MemoryFiles files;
  files.Add("a.dic", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  const FileHandle file = OpenOrFail(files, "a.dic");
  const unsigned char value[4] = {0xAA, 0xBB, 0xCC, 0xDD};

  // A write that reaches past the end makes the file longer, as on disk; a
  // gap before it reads as zero bytes.
  ASSERT_TRUE(files.SetPosition(file, 12));
  EXPECT_EQ(files.Write(file, value, 2), 2u);
  EXPECT_EQ(files.Length(file), 14);
  EXPECT_EQ(*files.Find("a.dic"),
            (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0xAA, 0xBB}));
  // One that would reach 2 GiB fails, writing nothing.
  ASSERT_TRUE(files.SetPosition(file, 0x7FFFFFFE));
  EXPECT_EQ(files.Write(file, value, 4), 0u);
  EXPECT_EQ(files.Length(file), 14);
  files.Close(file);
  EXPECT_EQ(files.OpenHandles(), 0u);
}

TEST(MemoryFilesTest, CallsOnAHandleThatIsNotOpenAreCounted) {
  MemoryFiles files;
  files.Add("a.dic", {1, 2, 3, 4});
  const FileHandle file = OpenOrFail(files, "a.dic");
  files.Close(file);
  unsigned char bytes[4] = {};
  EXPECT_EQ(files.Length(file), -1);
  EXPECT_FALSE(files.SetPosition(file, 0));
  EXPECT_EQ(files.Read(file, bytes, 4), 0u);
  EXPECT_EQ(files.Write(file, bytes, 4), 0u);
  files.Close(file);
  files.Close(12345);
  EXPECT_EQ(files.BadHandleCalls(), 6);
  // A name matches only as a whole, letter case aside.
  FileHandle other = 0;
  EXPECT_EQ(files.OpenExisting("a.dic ", FileAccess::kRead, &other),
            OpenStatus::kNotFound);
  EXPECT_EQ(*files.Find("a.dic"), (Bytes{1, 2, 3, 4}));
}

// Each operation's calls are counted over the life of the object; the
// chosen one fails as the system's would, and only that one.
TEST(MemoryFilesTest, FailsTheChosenCallOfEachOperation) {
  const Bytes content = {10, 11, 12, 13, 14, 15, 16, 17};
  struct Case {
    Operation operation;
    std::uint32_t transferred;
  } const cases[] = {
      {Operation::kOpen, 0},        {Operation::kLength, 0},
      {Operation::kSetPosition, 0}, {Operation::kRead, 0},
      {Operation::kRead, 3},        {Operation::kWrite, 0},
      {Operation::kWrite, 2},       {Operation::kClose, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.operation) * 10 +
                 static_cast<int>(c.transferred));
    MemoryFiles files;
    files.Add("a.dic", content);
    files.FailCall(c.operation, 2, c.transferred);
    const unsigned char value[4] = {0xE0, 0xE1, 0xE2, 0xE3};
    unsigned char bytes[4] = {};

    // The first call of every operation succeeds.
    const FileHandle file = OpenOrFail(files, "a.dic");
    EXPECT_EQ(files.Length(file), 8);
    EXPECT_TRUE(files.SetPosition(file, 0));
    EXPECT_EQ(files.Read(file, bytes, 4), 4u);
    EXPECT_EQ(files.Write(file, value, 4), 4u);  // at 4
    files.Close(file);
    Bytes expected = {10, 11, 12, 13, 0xE0, 0xE1, 0xE2, 0xE3};
    EXPECT_EQ(*files.Find("a.dic"), expected);

    // The second.
    FileHandle again = 0;
    const OpenStatus status =
        files.OpenExisting("a.dic", FileAccess::kReadWrite, &again);
    if (c.operation == Operation::kOpen) {
      EXPECT_EQ(status, OpenStatus::kFailed);
      EXPECT_EQ(files.OpenHandles(), 0u);
      continue;
    }
    ASSERT_EQ(status, OpenStatus::kOpened);
    EXPECT_EQ(files.Length(again), c.operation == Operation::kLength ? -1 : 8);
    const bool positioned = files.SetPosition(again, 2);
    EXPECT_EQ(positioned, c.operation != Operation::kSetPosition);
    const std::uint32_t read = files.Read(again, bytes, 4);
    const std::uint32_t full_read =
        c.operation == Operation::kRead ? c.transferred : 4u;
    EXPECT_EQ(read, full_read);
    const std::uint32_t written = files.Write(again, value, 4);
    EXPECT_EQ(written, c.operation == Operation::kWrite ? c.transferred : 4u);
    files.Close(again);
    EXPECT_EQ(files.OpenHandles(), 0u);

    // What the write changed lies where the position had got to (a fresh
    // open starts at 0), and only
    // the bytes it reported.
    const std::int64_t start = (positioned ? 2 : 0) + read;
    for (std::uint32_t i = 0; i < written; ++i) {
      const std::size_t at = static_cast<std::size_t>(start) + i;
      if (at >= expected.size()) expected.resize(at + 1, 0);
      expected[at] = value[i];
    }
    EXPECT_EQ(*files.Find("a.dic"), expected);
    EXPECT_EQ(files.Calls(c.operation), 2);
  }
}

TEST(MemoryFilesTest, RecordsEachCallOnAnOpenFile) {
  MemoryFiles files;
  files.Add("a.dic", {1, 2, 3, 4, 5, 6});
  files.FailCall(Operation::kRead, 1, 1);
  const FileHandle file = OpenOrFail(files, "A.DIC");
  unsigned char bytes[4] = {};
  EXPECT_EQ(files.Length(file), 6);
  EXPECT_TRUE(files.SetPosition(file, 3));
  EXPECT_EQ(files.Read(file, bytes, 4), 1u);
  EXPECT_EQ(files.Write(file, bytes, 4), 4u);
  files.Close(file);

  struct Expected {
    Operation operation;
    std::int64_t position;
    std::uint32_t size, transferred;
  } const expected[] = {
      {Operation::kOpen, 0, 0, 0},        {Operation::kLength, 0, 0, 0},
      {Operation::kSetPosition, 3, 0, 0}, {Operation::kRead, 3, 4, 1},
      {Operation::kWrite, 4, 4, 4},       {Operation::kClose, 8, 0, 0},
  };
  const auto& accesses = files.accesses();
  ASSERT_EQ(accesses.size(), std::size(expected));
  for (std::size_t i = 0; i < accesses.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(accesses[i].path, "A.DIC");
    EXPECT_EQ(accesses[i].operation, expected[i].operation);
    EXPECT_EQ(accesses[i].position, expected[i].position);
    EXPECT_EQ(accesses[i].size, expected[i].size);
    EXPECT_EQ(accesses[i].transferred, expected[i].transferred);
  }
}

}  // namespace
}  // namespace tavelon::platform
