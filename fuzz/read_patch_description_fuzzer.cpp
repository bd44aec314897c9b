// Arbitrary bytes as the update description "info.tmp": it is accepted
// exactly when its length is the header and whole records within the
// buffer and its header text matches, the records are the bytes decoded,
// the file is read once from its start and never written, and it is left
// open only on success.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "patch/patch_description.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"

namespace {

using tavelon::fakes::FaultFiles;
using tavelon::fakes::MemoryFiles;

std::int16_t Signed16(const std::uint8_t* bytes) {
  const int value = bytes[0] + 256 * bytes[1];
  return static_cast<std::int16_t>(value < 32768 ? value : value - 65536);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  MemoryFiles memory;
  memory.Add("info.tmp", MemoryFiles::Bytes(data, data + size));
  FaultFiles files(memory);

  static tavelon::patch::PatchDescription description;
  const bool read = tavelon::patch::ReadPatchDescription(files, &description);

  const bool valid = size >= 30 && size <= 5000 && (size - 30) % 8 == 0 &&
                     std::memcmp(data, "Tavelon Translator - Update", 27) == 0;
  FUZZ_CHECK(read == valid);
  FUZZ_CHECK(files.Calls(FaultFiles::Operation::kOpen) == 1);
  FUZZ_CHECK(files.Calls(FaultFiles::Operation::kWrite) == 0);
  FUZZ_CHECK(files.Calls(FaultFiles::Operation::kRead) <= 1);
  for (const FaultFiles::Access& access : files.accesses()) {
    if (access.operation == FaultFiles::Operation::kRead) {
      FUZZ_CHECK(access.position == 0 && access.size == size);
    }
  }
  FUZZ_CHECK(*memory.Find("info.tmp") == MemoryFiles::Bytes(data, data + size));

  if (!read) {
    FUZZ_CHECK(files.OpenHandles() == 0);
  } else {
    const std::size_t count = (size - 30) / 8;
    FUZZ_CHECK(description.count == static_cast<std::int32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* bytes = data + 30 + 8 * i;
      const auto& record = description.records[i];
      FUZZ_CHECK(record.section == Signed16(bytes));
      FUZZ_CHECK(record.entry == Signed16(bytes + 2));
      FUZZ_CHECK(std::memcmp(record.value, bytes + 4, 4) == 0);
    }
    FUZZ_CHECK(files.OpenHandles() == 1);
    files.Close(description.file);
    FUZZ_CHECK(files.OpenHandles() == 0);
  }
  FUZZ_CHECK(files.BadHandleCalls() == 0);
  return 0;
}
