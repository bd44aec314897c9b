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

}  // namespace tavelon::test_support
