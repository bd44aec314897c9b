#include "tests/support/temp_folder.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tavelon::test_support {

TempFolder::TempFolder() {
  const auto base = std::filesystem::temp_directory_path();
  auto seed = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0;; ++attempt) {
    path_ = base / ("tavelon-test-" +
                    std::to_string(seed + static_cast<unsigned>(attempt)));
    std::error_code error;
    if (std::filesystem::create_directory(path_, error)) return;
    if (attempt > 1000)
      throw std::filesystem::filesystem_error("no temporary folder", path_,
                                              error);
  }
}

TempFolder::~TempFolder() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

std::string TempFolder::PathOf(const std::string& name) const {
  return (path_ / name).string();
}

CurrentDirectoryGuard::CurrentDirectoryGuard(
    const std::filesystem::path& folder)
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(folder);
}

CurrentDirectoryGuard::~CurrentDirectoryGuard() {
  std::error_code error;
  std::filesystem::current_path(previous_, error);
}

void WriteBytes(const std::filesystem::path& file, const Bytes& bytes) {
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  Bytes bytes;
  for (std::istreambuf_iterator<char> it(stream), end; it != end; ++it) {
    bytes.push_back(static_cast<unsigned char>(*it));
  }
  return bytes;
}

}  // namespace tavelon::test_support
