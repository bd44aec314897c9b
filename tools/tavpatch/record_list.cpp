#include "tools/tavpatch/record_list.h"

#include <cstddef>

#include "patch/little_endian.h"
#include "patch/patch_description.h"

namespace tavelon::tavpatch {
namespace {

// Numbers beyond this are only ever out of range; accumulating stops there
// so that nothing overflows.
constexpr std::int64_t kSaturated = 0x1000000000LL;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

int DigitValue(char c, int base) {
  int digit = 99;
  if (c >= '0' && c <= '9') digit = c - '0';
  if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
  return digit < base ? digit : -1;
}

// Decimal with an optional minus sign, or 0x followed by hex digits.
bool ParseNumber(const std::string& token, std::int64_t* value, bool* hex) {
  std::size_t at = 0;
  const bool negative = !token.empty() && token[0] == '-';
  if (negative) at = 1;
  *hex = token.size() > at + 1 && token[at] == '0' &&
         (token[at + 1] == 'x' || token[at + 1] == 'X');
  if (*hex) {
    if (negative) return false;  // negative numbers are written in decimal
    at += 2;
  }
  if (at >= token.size()) return false;
  const int base = *hex ? 16 : 10;
  std::int64_t number = 0;
  for (; at < token.size(); ++at) {
    const int digit = DigitValue(token[at], base);
    if (digit < 0) return false;
    number = number * base + digit;
    if (number > kSaturated) number = kSaturated;
  }
  *value = negative ? -number : number;
  return true;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsSpace(line[at])) ++at;
    const std::size_t start = at;
    while (at < line.size() && !IsSpace(line[at])) ++at;
    if (at > start) fields.push_back(line.substr(start, at - start));
  }
  return fields;
}

// Reads one index field; false with a message when it is not a number in
// -32768..32767.
bool ParseIndex(const std::string& name, const std::string& token,
                std::int16_t* index, std::string* message) {
  std::int64_t value = 0;
  bool hex = false;
  if (!ParseNumber(token, &value, &hex)) {
    *message = name + " \"" + token + "\" is not a number";
    return false;
  }
  if (value < -32768 || value > 32767) {
    *message = name + " " + token + " is out of range -32768..32767";
    if (hex && value <= 0xFFFF) {
      *message += "; negative indices are written in decimal (-1 for FFFF)";
    }
    return false;
  }
  *index = static_cast<std::int16_t>(value);
  return true;
}

bool ParseValue(const std::string& token, std::uint32_t* value,
                std::string* message) {
  std::int64_t number = 0;
  bool hex = false;
  if (!ParseNumber(token, &number, &hex)) {
    *message = "value \"" + token + "\" is not a number";
    return false;
  }
  if (number < 0 || number > 0xFFFFFFFFLL) {
    *message = "value " + token + " is out of range 0..0xFFFFFFFF";
    return false;
  }
  *value = static_cast<std::uint32_t>(number);
  return true;
}

void PutLittleEndian(std::vector<unsigned char>* bytes, std::uint32_t value,
                     int size) {
  unsigned char encoded[4];
  patch::EncodeLittleEndian(value, encoded, size);
  bytes->insert(bytes->end(), encoded, encoded + size);
}

}  // namespace

RecordList ParseRecordList(const std::string& text) {
  RecordList list;
  bool over_limit = false;
  int line_number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++line_number;

    const std::size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    const std::vector<std::string> fields = SplitFields(line);
    if (fields.empty()) continue;

    std::string message;
    ListRecord record = {0, 0, 0};
    if (fields.size() != 3) {
      message = "expected three numbers (section entry value), found " +
                std::to_string(fields.size()) +
                (fields.size() == 1 ? " field" : " fields");
    } else if (ParseIndex("section", fields[0], &record.section, &message) &&
               ParseIndex("entry", fields[1], &record.entry, &message) &&
               ParseValue(fields[2], &record.value, &message)) {
      if (list.records.size() < static_cast<std::size_t>(patch::kMaxRecords)) {
        list.records.push_back(record);
        continue;
      }
      if (over_limit) continue;
      over_limit = true;
      message = "more than " + std::to_string(patch::kMaxRecords) +
                " records; an update description holds at most " +
                std::to_string(patch::kMaxRecords);
    }
    list.problems.push_back(ListProblem{line_number, message});
  }
  return list;
}

std::vector<unsigned char> EncodeDescription(
    const std::vector<ListRecord>& records) {
  std::vector<unsigned char> bytes(
      patch::kHeaderText, patch::kHeaderText + patch::kHeaderTextLength);
  bytes.resize(patch::kHeaderLength, 0);  // the reserved bytes
  for (const ListRecord& record : records) {
    PutLittleEndian(&bytes, static_cast<std::uint16_t>(record.section), 2);
    PutLittleEndian(&bytes, static_cast<std::uint16_t>(record.entry), 2);
    PutLittleEndian(&bytes, record.value, 4);
  }
  return bytes;
}

}  // namespace tavelon::tavpatch
