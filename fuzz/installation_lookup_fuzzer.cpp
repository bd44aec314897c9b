// The installation lookup on arbitrary registry entries: keys present,
// missing or refused, values of any type and length, with or without a
// terminating zero, and one registry call made to fail when the input asks
// for it. A small model of the lookup, of its own, gives the folder; the
// target checks the folder and its buffer, the one message on failure,
// that only keys for reading are opened and every one is closed, and that
// the App Paths entry is looked at only when the Run entry gave nothing.
//
// Input, for the Run entry and then the App Paths entry: a byte of flags
// (bits 0-1: 0 no key, 1 or 3 key, 2 key refused; bit 2: the value is
// there), a byte with the value's type, a byte with its length, its bytes.
// Then a byte choosing the registry call to fail (none, open, query
// failing, query with more data) and a byte with its number.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/message_boxes.h"
#include "tests/support/fake_registry.h"
#include "update/installation_lookup.h"

namespace {

using tavelon::fakes::FakeRegistry;
using tavelon::platform::QueryStatus;
using tavelon::platform::RegistryRoot;
using Operation = FakeRegistry::Operation;

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kAppPathsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\tavelon.exe";

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size)
      : data_(data), size_(size) {}
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string Bytes(std::size_t count) {
    const std::size_t n = count < size_ - at_ ? count : size_ - at_;
    std::string bytes(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

struct Entry {
  int key;  // 0 none, 1 present, 2 refused
  bool has_value;
  std::uint32_t type;
  std::string data;
};

Entry ReadEntry(Reader& reader) {
  Entry entry;
  const std::uint8_t flags = reader.Byte();
  entry.key = (flags & 3) == 3 ? 1 : flags & 3;
  entry.has_value = (flags & 4) != 0;
  entry.type = reader.Byte();
  entry.data = reader.Bytes(reader.Byte() * 2u);  // up to 510 bytes
  return entry;
}

void Store(FakeRegistry& registry, RegistryRoot root, const char* key,
           const char* name, const Entry& entry) {
  if (entry.key == 0) return;
  registry.AddKey(root, key);
  if (entry.key == 2) registry.DenyAccess(root, key);
  if (entry.has_value)
    registry.SetValue(root, key, name, entry.type, entry.data);
}

class Counter final : public tavelon::platform::MessageBoxes {
 public:
  void Show(const char* text, const char*, std::uint32_t) override {
    ++shown;
    last = text;
  }
  int shown = 0;
  std::string last;
};

// The lookup as the product's update is meant to work.
class Model {
 public:
  // Either kind of failing query gives nothing.
  Model(int fail_operation, int fail_number)
      : fail_operation_(fail_operation), fail_number_(fail_number) {}

  // The text an entry's value gives, if any.
  bool Text(const Entry& entry, std::string* text) {
    if (Fails(Operation::kOpenForQuery) || entry.key != 1) return false;
    opened_keys++;
    const bool fails = Fails(Operation::kQuery);
    if (fails || !entry.has_value || entry.data.size() > 128) return false;
    const std::size_t zero = entry.data.find('\0');
    if (zero == std::string::npos && entry.data.size() == 128) return false;
    *text = entry.data.substr(0, zero);
    return true;
  }

  bool Find(const Entry& run, const Entry& app_paths, std::string* folder) {
    std::string text;
    if (Text(run, &text)) {
      std::string program = text;
      if (!text.empty() && text[0] == '"') {
        const std::size_t closing = text.find('"', 1);
        program =
            closing == std::string::npos ? "" : text.substr(1, closing - 1);
      }
      const std::size_t backslash = program.rfind('\\');
      if (backslash != std::string::npos && backslash > 0) {
        *folder = program.substr(0, backslash);
        return true;
      }
    }
    run_gave_nothing = true;
    if (Text(app_paths, &text) && !text.empty()) {
      *folder = text;
      return true;
    }
    return false;
  }

  int opened_keys = 0;
  bool run_gave_nothing = false;

 private:
  bool Fails(Operation operation) {
    return ++calls_[static_cast<int>(operation)] == fail_number_ &&
           static_cast<int>(operation) == fail_operation_;
  }
  int calls_[4] = {};
  int fail_operation_;
  int fail_number_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  Reader reader(data, size);
  const Entry run = ReadEntry(reader);
  const Entry app_paths = ReadEntry(reader);
  const int fail = reader.Byte() % 4;  // none, open, query, query more data
  const int fail_number = reader.Byte() % 4 + 1;
  const int fail_operation =
      fail == 0 ? -1
                : static_cast<int>(fail == 1 ? Operation::kOpenForQuery
                                             : Operation::kQuery);
  const QueryStatus fail_status =
      fail == 3 ? QueryStatus::kMoreData : QueryStatus::kFailed;

  FakeRegistry registry;
  Store(registry, RegistryRoot::kCurrentUser, kRunKey, "Tavelon Translator",
        run);
  Store(registry, RegistryRoot::kLocalMachine, kAppPathsKey, "Path", app_paths);
  if (fail_operation >= 0) {
    registry.FailCall(static_cast<Operation>(fail_operation), fail_number,
                      fail_status);
  }

  constexpr char kUntouched = '\x5A';
  char folder[tavelon::platform::kPathBufferSize];
  std::memset(folder, kUntouched, sizeof folder);
  Counter boxes;
  const bool found =
      tavelon::update::FindInstallationFolder(registry, boxes, folder);

  Model model(fail_operation, fail_number);
  std::string expected;
  const bool expected_found = model.Find(run, app_paths, &expected);

  FUZZ_CHECK(found == expected_found);
  if (found) {
    FUZZ_CHECK(boxes.shown == 0);
    FUZZ_CHECK(std::memchr(folder, '\0', sizeof folder) != nullptr);
    const std::size_t length = std::strlen(folder);
    FUZZ_CHECK(length > 0 && length < 128);
    FUZZ_CHECK(std::string(folder, length) == expected);
    for (std::size_t i = length + 1; i < sizeof folder; ++i) {
      FUZZ_CHECK(folder[i] == kUntouched);
    }
  } else {
    FUZZ_CHECK(boxes.shown == 1);
    FUZZ_CHECK(boxes.last.rfind("Update failed - Could not locate", 0) == 0);
    for (const char c : folder) FUZZ_CHECK(c == kUntouched);
  }

  FUZZ_CHECK(registry.open_handles() == 0);
  FUZZ_CHECK(registry.bad_closes() == 0);
  FUZZ_CHECK(registry.Calls(Operation::kCreateForSet) == 0);
  FUZZ_CHECK(registry.Calls(Operation::kSetDword) == 0);
  for (const auto& attempt : registry.attempts()) {
    FUZZ_CHECK(attempt.access == tavelon::fakes::KeyAccess::kQuery);
  }
  FUZZ_CHECK(registry.WasAttempted(RegistryRoot::kLocalMachine, kAppPathsKey) ==
             model.run_gave_nothing);
  FUZZ_CHECK(registry.Calls(Operation::kQuery) == model.opened_keys);
  return 0;
}
