// The dictionary patcher on real files, beside a baseline that performs the
// same positioned 4-byte reads and writes directly with pread and pwrite.
//
// Nine dictionaries, 621 records: the first run writes every record into
// every file; a second run finds each file already patched and only follows
// the check record's chain.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "patch/dictionary_patcher.h"
#include "platform/message_boxes.h"
#include "platform/system.h"
#include "update/dictionary_warnings.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr int kRecords = 621;
constexpr int kSections = 27;  // 27 sections of 23 entries: 621 items
constexpr int kEntries = 23;
const char* const kCodes[] = {"Eng", "Dut", "Fre", "Ger", "Heb",
                              "Ita", "Jpn", "Ptg", "Spa"};

void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[at + static_cast<std::size_t>(i)] =
        static_cast<unsigned char>(value >> (8 * i));
  }
}

std::int32_t Get32(const unsigned char* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) |
                                   static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 |
                                   static_cast<std::uint32_t>(p[3]) << 24);
}

struct Record {
  std::int16_t section, entry;
  std::uint32_t value;
};

// A scratch installation with nine dictionaries and an info.tmp made
// current; removed at exit.
class Installation {
 public:
  Installation() {
    root_ = fs::temp_directory_path() /
            ("tavelon-bench-" + std::to_string(::getpid()));
    fs::create_directories(root_ / "data");
    for (int s = 0; s < kSections; ++s) {
      for (int e = 0; e < kEntries; ++e) {
        records_.push_back(
            {static_cast<std::int16_t>(s), static_cast<std::int16_t>(e),
             0xC0DE0000u + static_cast<std::uint32_t>(s * 100 + e)});
      }
    }
    // Section table at 100, then the entry tables, then 5-byte items.
    const std::size_t tables = 100 + 4 * kSections;
    const std::size_t items = tables + 4 * kSections * kEntries;
    original_.assign(items + 5 * kRecords + 4096, 0x5A);
    for (int s = 0; s < kSections; ++s) {
      const std::size_t table =
          tables + 4 * static_cast<std::size_t>(s) * kEntries;
      Put32(original_, 100 + 4 * static_cast<std::size_t>(s),
            static_cast<std::uint32_t>(table));
      for (int e = 0; e < kEntries; ++e) {
        const std::size_t item =
            items + 5 * static_cast<std::size_t>(s * kEntries + e);
        Put32(original_, table + 4 * static_cast<std::size_t>(e),
              static_cast<std::uint32_t>(item));
      }
    }
    Bytes info(30 + 8 * kRecords, 0);
    const std::string header = "Tavelon Translator - Update";
    std::copy(header.begin(), header.end(), info.begin());
    for (int i = 0; i < kRecords; ++i) {
      const std::size_t at = 30 + 8 * static_cast<std::size_t>(i);
      Put32(info, at,
            static_cast<std::uint16_t>(
                records_[static_cast<std::size_t>(i)].section) |
                static_cast<std::uint32_t>(static_cast<std::uint16_t>(
                    records_[static_cast<std::size_t>(i)].entry))
                    << 16);
      Put32(info, at + 4, records_[static_cast<std::size_t>(i)].value);
    }
    Write(root_ / "info.tmp", info);
    fs::current_path(root_);
    Reset();
  }
  ~Installation() {
    std::error_code error;
    fs::current_path(fs::temp_directory_path(), error);
    fs::remove_all(root_, error);
  }

  // Every dictionary back to its unpatched content.
  void Reset() const {
    for (const char* code : kCodes) Write(DictionaryPath(code), original_);
  }
  fs::path DictionaryPath(const char* code) const {
    return root_ / "data" / (std::string("engto") + code + ".dic");
  }
  std::string Folder() const { return root_.string() + "/"; }
  const std::vector<Record>& records() const { return records_; }

 private:
  static void Write(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  fs::path root_;
  Bytes original_;
  std::vector<Record> records_;
};

Installation& TheInstallation() {
  static Installation installation;
  return installation;
}

class NoBoxes final : public tavelon::platform::MessageBoxes {
 public:
  void Show(const char*, const char*, std::uint32_t) override {}
};

int RunPatcher() {
  NoBoxes boxes;
  return tavelon::update::PatchDictionariesWithWarnings(
      tavelon::platform::SystemFiles(), boxes,
      TheInstallation().Folder().c_str());
}

// The same work done directly: read info.tmp whole, then per file the test
// that it is the data folder's own (one link, the folder's entry), the check
// chain and, unless patched, two positioned reads and one write per record,
// with one fsync before the last record's write.
int RunBaseline() {
  const Installation& installation = TheInstallation();
  unsigned char info[5000];
  const int info_fd = ::open("info.tmp", O_RDONLY);
  const ssize_t info_length = ::read(info_fd, info, sizeof info);
  const int count = static_cast<int>((info_length - 30) / 8);
  bool any = false;
  const int folder =
      ::open(installation.DictionaryPath(kCodes[0]).parent_path().c_str(),
             O_RDONLY | O_DIRECTORY);
  for (const char* code : kCodes) {
    const fs::path path = installation.DictionaryPath(code);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW);
    if (fd < 0) continue;
    struct stat file, entry;
    if (::fstat(fd, &file) != 0 || file.st_nlink != 1 ||
        ::fstatat(folder, path.filename().c_str(), &entry,
                  AT_SYMLINK_NOFOLLOW) != 0 ||
        entry.st_ino != file.st_ino) {
      ::close(fd);
      continue;
    }
    unsigned char value[4];
    auto chain = [&](const unsigned char* record, std::int64_t* item) {
      const std::int16_t section =
          static_cast<std::int16_t>(record[0] | record[1] << 8);
      const std::int16_t entry =
          static_cast<std::int16_t>(record[2] | record[3] << 8);
      if (::pread(fd, value, 4, 100 + 4 * static_cast<std::int64_t>(section)) !=
          4)
        return false;
      if (::pread(fd, value, 4,
                  Get32(value) + 4 * static_cast<std::int64_t>(entry)) != 4)
        return false;
      *item = static_cast<std::int64_t>(Get32(value)) + 1;
      return true;
    };
    const unsigned char* check = info + 30 + 8 * (count - 1);
    std::int64_t item = 0;
    if (chain(check, &item) && ::pread(fd, value, 4, item) == 4 &&
        std::equal(value, value + 4, check + 4)) {
      ::close(fd);
      continue;
    }
    any = true;
    for (int i = 0; i < count; ++i) {
      const unsigned char* record = info + 30 + 8 * i;
      if (!chain(record, &item)) break;
      if (i == count - 1) ::fsync(fd);
      if (::pwrite(fd, record + 4, 4, item) != 4) break;
    }
    ::close(fd);
  }
  ::close(folder);
  ::close(info_fd);
  return any ? 0 : 3;
}

template <int (*Run)()>
void FirstRun(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    TheInstallation().Reset();
    state.ResumeTiming();
    if (Run() != 0) state.SkipWithError("not every file was patched");
  }
  state.counters["writes"] = 9 * kRecords;
}

template <int (*Run)()>
void SecondRun(benchmark::State& state) {
  TheInstallation().Reset();
  Run();
  for (auto _ : state) {
    if (Run() != 3) state.SkipWithError("a file was patched again");
  }
}

BENCHMARK(FirstRun<RunPatcher>)
    ->Name("patcher/first_run")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(FirstRun<RunBaseline>)
    ->Name("baseline/first_run")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(SecondRun<RunPatcher>)
    ->Name("patcher/second_run")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(SecondRun<RunBaseline>)
    ->Name("baseline/second_run")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
