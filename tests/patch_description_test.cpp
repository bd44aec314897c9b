#include "patch/patch_description.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tests/support/dictionary_builder.h"
#include "tests/support/fault_files.h"
#include "tests/support/temp_folder.h"

namespace tavelon::patch {
namespace {

using fakes::FaultFiles;
using test_support::Bytes;
using test_support::DescriptionBytes;
using test_support::Record;

// "info.tmp" is read from the current directory: each test works in a
// scratch folder made current.
class PatchDescriptionTest : public ::testing::Test {
 protected:
  PatchDescriptionTest() : guard_(folder_.path()) {}

  void WriteInfo(const Bytes& bytes) {
    test_support::WriteBytes(folder_.path() / "info.tmp", bytes);
  }

  // Reads the description; on success checks and closes the file it leaves
  // open. Every file the reader opened is closed afterwards in any case.
  bool Read() {
    const bool ok = ReadPatchDescription(files_, description_.get());
    if (ok) {
      EXPECT_EQ(files_.OpenHandles(), 1u);
      files_.Close(description_->file);
    }
    EXPECT_EQ(files_.OpenHandles(), 0u);
    return ok;
  }

  test_support::TempFolder folder_;
  test_support::CurrentDirectoryGuard guard_;
  FaultFiles files_{platform::SystemFiles()};
  std::unique_ptr<PatchDescription> description_ =
      std::make_unique<PatchDescription>();
};

TEST_F(PatchDescriptionTest, OpensInfoTmpReadOnlyByItsBareName) {
  WriteInfo(DescriptionBytes({{1, 2, 3}}));
  ASSERT_TRUE(Read());
  ASSERT_EQ(files_.opens().size(), 1u);
  EXPECT_EQ(files_.opens()[0].path, "info.tmp");
  EXPECT_EQ(files_.opens()[0].access, platform::FileAccess::kRead);
  EXPECT_EQ(files_.Calls(FaultFiles::Operation::kWrite), 0);
}

TEST_F(PatchDescriptionTest, AcceptsOnlyHeaderPlusWholeRecords) {
  const Bytes valid_one = DescriptionBytes({{7, 8, 9}});
  for (std::size_t length = 0; length <= 46; ++length) {
    SCOPED_TRACE(length);
    Bytes bytes = valid_one;
    bytes.resize(length, 0x55);
    WriteInfo(bytes);
    const bool expected = length == 30 || length == 38 || length == 46;
    ASSERT_EQ(Read(), expected);
    if (expected) {
      EXPECT_EQ(description_->count, static_cast<int>((length - 30) / 8));
    }
  }
}

TEST_F(PatchDescriptionTest, AcceptsTheLargestDescriptionAndRefusesLonger) {
  std::vector<Record> records;
  for (int i = 0; i < 622; ++i) {
    records.push_back(
        {static_cast<std::int16_t>(i), static_cast<std::int16_t>(-i),
         0x01000000u * static_cast<std::uint32_t>(i % 256) + 17u});
  }
  WriteInfo(DescriptionBytes(records));  // 5006 bytes
  EXPECT_FALSE(Read());

  Bytes too_long = DescriptionBytes(records);
  too_long.resize(5000);
  WriteInfo(too_long);
  EXPECT_FALSE(Read());

  records.pop_back();
  WriteInfo(DescriptionBytes(records));  // 4998 bytes, 621 records
  ASSERT_TRUE(Read());
  ASSERT_EQ(description_->count, 621);
  const PatchRecord& last = description_->records[620];
  EXPECT_EQ(last.section, 620);
  EXPECT_EQ(last.entry, -620);
  const unsigned char expected_value[4] = {17, 0, 0, 620 % 256};
  EXPECT_EQ(0, std::memcmp(last.value, expected_value, 4));
}

TEST_F(PatchDescriptionTest, DecodesLittleEndianSignedIndicesAndRawValues) {
  WriteInfo(DescriptionBytes({{-1, 0x7FFF, 0x04030201u},
                              {-32768, 256, 0xFFFFFFFFu},
                              {1, -2, 0x80000000u}}));
  ASSERT_TRUE(Read());
  ASSERT_EQ(description_->count, 3);
  const PatchRecord* records = description_->records;
  EXPECT_EQ(records[0].section, -1);
  EXPECT_EQ(records[0].entry, 32767);
  const unsigned char value0[4] = {1, 2, 3, 4};
  EXPECT_EQ(0, std::memcmp(records[0].value, value0, 4));
  EXPECT_EQ(records[1].section, -32768);
  EXPECT_EQ(records[1].entry, 256);
  EXPECT_EQ(records[2].section, 1);
  EXPECT_EQ(records[2].entry, -2);
  const unsigned char value2[4] = {0, 0, 0, 0x80};
  EXPECT_EQ(0, std::memcmp(records[2].value, value2, 4));
}

TEST_F(PatchDescriptionTest, HeaderTextMustMatchExactly) {
  struct Case {
    std::string header;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"Tavelon Translator - Update", true},
      {"tavelon Translator - Update", false},
      {"Tavelon Translator - UPDATE", false},
      {std::string("Tavelon Translator - Updat\0", 27), false},
      {"Tavelon Translator  Update-", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    WriteInfo(DescriptionBytes({{1, 1, 1}}, c.header));
    EXPECT_EQ(Read(), c.valid);
  }
}

TEST_F(PatchDescriptionTest, ReservedBytesAreNotExamined) {
  for (const std::string& reserved :
       {std::string("\0\0\0", 3), std::string("\xFF\xFF\xFF"),
        std::string("abc")}) {
    WriteInfo(
        DescriptionBytes({{1, 1, 1}}, "Tavelon Translator - Update", reserved));
    EXPECT_TRUE(Read());
  }
}

TEST_F(PatchDescriptionTest, MissingFileOrFolderOfThatNameFails) {
  EXPECT_FALSE(Read());
  std::filesystem::create_directory(folder_.path() / "info.tmp");
  EXPECT_FALSE(Read());
}

TEST_F(PatchDescriptionTest, ShortReadFailsAndClosesTheFile) {
  WriteInfo(DescriptionBytes({{1, 1, 1}}));
  files_.FailCall(FaultFiles::Operation::kRead, 1, 37);
  EXPECT_FALSE(Read());
}

TEST_F(PatchDescriptionTest, UnknownLengthFails) {
  WriteInfo(DescriptionBytes({{1, 1, 1}}));
  files_.ReportLength(-1, "info.tmp");
  EXPECT_FALSE(Read());
}

}  // namespace
}  // namespace tavelon::patch
