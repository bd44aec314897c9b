// The text list from which `tavpatch make` builds an update description: one
// record per line, "section entry value", numbers in decimal or 0x hex,
// '#' starting a comment, blank lines ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavelon::tavpatch {

struct ListRecord {
  std::int16_t section;
  std::int16_t entry;
  std::uint32_t value;
};

struct ListProblem {
  int line;  // from 1
  std::string message;
};

struct RecordList {
  std::vector<ListRecord> records;
  std::vector<ListProblem> problems;  // the list is usable only when empty
};

// Reads every line of the list. A line that is malformed or holds a number
// out of range is a problem; so is the first record beyond the largest
// number an update description can hold.
RecordList ParseRecordList(const std::string& text);

// The bytes of the update description holding the records: the header text,
// three zero bytes, then each record little-endian.
std::vector<unsigned char> EncodeDescription(
    const std::vector<ListRecord>& records);

}  // namespace tavelon::tavpatch
