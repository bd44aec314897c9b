#include "patch/patch_description.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
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
    const bool ok = ReadPatchDescription(*files_, description_.get());
    if (ok) {
      EXPECT_EQ(files_->OpenHandles(), 1u);
      files_->Close(description_->file);
    }
    EXPECT_EQ(files_->OpenHandles(), 0u);
    return ok;
  }

  test_support::TempFolder folder_;
  test_support::CurrentDirectoryGuard guard_;
  std::unique_ptr<FaultFiles> files_ =
      std::make_unique<FaultFiles>(platform::SystemFiles());
  std::unique_ptr<PatchDescription> description_ =
      std::make_unique<PatchDescription>();
};

// A description is the header text exactly, three bytes not examined,
// and whole records, at most 621; anything else, a file that cannot be
// read whole or of unknown length included, is refused.
TEST_F(PatchDescriptionTest, AcceptsOnlyAWholeValidFile) {
  std::vector<Record> records;
  for (int i = 0; i < 622; ++i) {
    records.push_back(
        {static_cast<std::int16_t>(i), static_cast<std::int16_t>(-i),
         0x01000000u * static_cast<std::uint32_t>(i % 256) + 17u});
  }
  Bytes largest = DescriptionBytes(records);
  largest.resize(largest.size() - 8);  // 4998 bytes, 621 records
  Bytes cut_at_5000 = DescriptionBytes(records);
  cut_at_5000.resize(5000);
  const auto with_header = [](const std::string& header) {
    return DescriptionBytes({{1, 1, 1}}, header);
  };
  const Bytes one = DescriptionBytes({{1, 1, 1}});
  struct Case {
    std::string what;
    Bytes bytes;
    int records;  // -1: refused
    std::function<void(FaultFiles&)> fault = {};
  };
  std::vector<Case> cases = {
      {"621 records", largest, 621},
      {"622 records", DescriptionBytes(records), -1},
      {"5000 bytes", cut_at_5000, -1},
      {"header in another case", with_header("tavelon Translator - Update"),
       -1},
      {"header in capitals", with_header("Tavelon Translator - UPDATE"), -1},
      {"header with a zero",
       with_header(std::string("Tavelon Translator - Updat\0", 27)), -1},
      {"header reordered", with_header("Tavelon Translator  Update-"), -1},
      {"reserved zeros",
       DescriptionBytes({{1, 1, 1}}, "Tavelon Translator - Update",
                        std::string("\0\0\0", 3)),
       1},
      {"reserved 0xFF",
       DescriptionBytes({{1, 1, 1}}, "Tavelon Translator - Update",
                        "\xFF\xFF\xFF"),
       1},
      {"short read", one, -1,
       [](FaultFiles& files) {
         files.FailCall(FaultFiles::Operation::kRead, 1, 37);
       }},
      {"unknown length", one, -1,
       [](FaultFiles& files) { files.ReportLength(-1, "info.tmp"); }},
  };
  // Every length up to two records: only the header and whole records.
  for (std::size_t length = 0; length <= 46; ++length) {
    Bytes bytes = DescriptionBytes({{7, 8, 9}});
    bytes.resize(length, 0x55);
    const bool whole = length == 30 || length == 38 || length == 46;
    cases.push_back({"length " + std::to_string(length), bytes,
                     whole ? static_cast<int>(length - 30) / 8 : -1});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteInfo(c.bytes);
    files_ = std::make_unique<FaultFiles>(platform::SystemFiles());
    if (c.fault) c.fault(*files_);
    ASSERT_EQ(Read(), c.records >= 0);
    if (c.records >= 0) {
      EXPECT_EQ(description_->count, c.records);
    }
    if (c.records == 621) {
      const PatchRecord& last = description_->records[620];
      EXPECT_EQ(last.section, 620);
      EXPECT_EQ(last.entry, -620);
      const unsigned char expected_value[4] = {17, 0, 0, 620 % 256};
      EXPECT_EQ(0, std::memcmp(last.value, expected_value, 4));
    }
  }
}

TEST_F(PatchDescriptionTest, MissingFileOrFolderOfThatNameFails) {
  EXPECT_FALSE(Read());
  std::filesystem::create_directory(folder_.path() / "info.tmp");
  EXPECT_FALSE(Read());
}

// "info.tmp" is opened by its bare name, for reading only; its indices are
// signed and little-endian, its values raw bytes.
TEST_F(PatchDescriptionTest, OpensInfoTmpReadOnlyAndDecodesItsRecords) {
  WriteInfo(DescriptionBytes({{-1, 0x7FFF, 0x04030201u},
                              {-32768, 256, 0xFFFFFFFFu},
                              {1, -2, 0x80000000u}}));
  ASSERT_TRUE(Read());
  ASSERT_EQ(files_->opens().size(), 1u);
  EXPECT_EQ(files_->opens()[0].path, "info.tmp");
  EXPECT_EQ(files_->opens()[0].access, platform::FileAccess::kRead);
  EXPECT_EQ(files_->Calls(FaultFiles::Operation::kWrite), 0);
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

}  // namespace
}  // namespace tavelon::patch
