// Builders for the files of the dictionary patching: update descriptions
// ("info.tmp") and dictionary files with their section table, entry tables
// and items, all as plain bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace tavelon::test_support {

struct Record {
  std::int16_t section;
  std::int16_t entry;
  std::uint32_t value;
};

inline void PutUint16(Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes.at(at) = static_cast<unsigned char>(value & 0xFF);
  bytes.at(at + 1) = static_cast<unsigned char>(value >> 8);
}

inline void PutUint32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes.at(at + i) = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
  }
}

inline std::uint32_t GetUint32(const Bytes& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(bytes.at(at + i)) << (8 * i);
  }
  return value;
}

// An update description: the header text, three reserved bytes, records.
inline Bytes DescriptionBytes(
    const std::vector<Record>& records,
    const std::string& header = "Tavelon Translator - Update",
    const std::string& reserved = "\x01\x02\x03") {
  Bytes bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), reserved.begin(), reserved.end());
  for (const Record& record : records) {
    const std::size_t at = bytes.size();
    bytes.resize(at + 8);
    PutUint16(bytes, at, static_cast<std::uint16_t>(record.section));
    PutUint16(bytes, at + 2, static_cast<std::uint16_t>(record.entry));
    PutUint32(bytes, at + 4, record.value);
  }
  return bytes;
}

// A dictionary file of a given length, filled with a recognisable pattern,
// in which the tests place table elements and item values by position.
class DictionaryBuilder {
 public:
  static constexpr std::int64_t kSectionTable = 100;

  explicit DictionaryBuilder(std::size_t length) : bytes_(length) {
    for (std::size_t i = 0; i < length; ++i) {
      bytes_[i] = static_cast<unsigned char>(0xA0 ^ (i * 7));
    }
  }

  // The section table element of section s: the entry table's position.
  DictionaryBuilder& Section(std::int64_t s, std::int32_t entry_table) {
    return Put(kSectionTable + 4 * s, static_cast<std::uint32_t>(entry_table));
  }
  // The element of entry e in the entry table at t: the item's position.
  DictionaryBuilder& Entry(std::int32_t entry_table, std::int64_t e,
                           std::int32_t item) {
    return Put(entry_table + 4 * e, static_cast<std::uint32_t>(item));
  }
  // The value of the item at p, which lies in bytes p+1 to p+4.
  DictionaryBuilder& Item(std::int32_t item, std::uint32_t value) {
    return Put(static_cast<std::int64_t>(item) + 1, value);
  }
  // Whether four bytes at the position lie within the file.
  bool Fits(std::int64_t at) const {
    return at >= 0 && at + 4 <= static_cast<std::int64_t>(bytes_.size());
  }
  DictionaryBuilder& Put(std::int64_t at, std::uint32_t value) {
    PutUint32(bytes_, static_cast<std::size_t>(at), value);
    return *this;
  }

  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// The tests' dictionaries: sections 0 to sections - 1, the entry table of
// section s at table + table_step * s with entries 0 to entries - 1, the
// item of entry e at item + item_step * s + 5 * e.
struct DictionaryLayout {
  std::size_t length = 1000;
  int sections = 5, entries = 10;
  std::int32_t table = 200, table_step = 40;
  std::int32_t item = 500, item_step = 50;

  DictionaryBuilder Build() const {
    DictionaryBuilder builder(length);
    for (int s = 0; s < sections; ++s) {
      builder.Section(s, table + table_step * s);
      for (int e = 0; e < entries; ++e) {
        builder.Entry(table + table_step * s, e, item + item_step * s + 5 * e);
      }
    }
    return builder;
  }
  Bytes Clean() const { return Build().bytes(); }
  // Where the value of entry e of section s lies.
  std::size_t ValueAt(int s, int e) const {
    return static_cast<std::size_t>(item + item_step * s + 5 * e + 1);
  }
};

// What the update should make of a dictionary file, worked out on a copy:
// the check test follows the check record's chain within the bytes; the
// records then go in order, each position allowed only when its four
// bytes lie within the original length.
struct PatchModel {
  Bytes bytes;
  bool patched = false;  // went through record application
  bool stopped = false;  // a position was out of bounds
};

inline PatchModel Model(const Bytes& file, const std::vector<Record>& records) {
  PatchModel expected{file};
  Bytes& bytes = expected.bytes;
  const std::int64_t length = static_cast<std::int64_t>(bytes.size());
  const auto within = [&](std::int64_t p) { return p >= 0 && p + 4 <= length; };
  // The position of a record's value, or -1 when its chain leaves the file.
  const auto value_at = [&](const Record& record) -> std::int64_t {
    std::int64_t p = DictionaryBuilder::kSectionTable + 4 * record.section;
    for (int level = 0; level < 3; ++level) {
      if (!within(p)) return -1;
      if (level == 2) return p;
      const std::int64_t element = static_cast<std::int32_t>(
          GetUint32(bytes, static_cast<std::size_t>(p)));
      p = level == 0 ? element + 4 * record.entry : element + 1;
    }
    return -1;
  };
  const Record& check = records.back();
  const std::int64_t check_at = value_at(check);
  if (check_at >= 0 &&
      GetUint32(bytes, static_cast<std::size_t>(check_at)) == check.value) {
    return expected;
  }
  expected.patched = true;
  for (const Record& record : records) {
    const std::int64_t position = value_at(record);
    if (position < 0) {
      expected.stopped = true;
      break;
    }
    PutUint32(bytes, static_cast<std::size_t>(position), record.value);
  }
  return expected;
}

}  // namespace tavelon::test_support
