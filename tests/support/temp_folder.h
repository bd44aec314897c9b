// A scratch folder for tests that work on real files, and small helpers to
// write and read whole files in it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavelon::test_support {

using Bytes = std::vector<unsigned char>;

// Creates a new empty folder under the system's temporary folder and removes
// it with its contents when destroyed.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The system's form of the path of a name in the folder.
  std::string PathOf(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Makes a folder the current directory and restores the previous one when
// destroyed.
class CurrentDirectoryGuard {
 public:
  explicit CurrentDirectoryGuard(const std::filesystem::path& folder);
  ~CurrentDirectoryGuard();
  CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
  CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

 private:
  std::filesystem::path previous_;
};

void WriteBytes(const std::filesystem::path& file, const Bytes& bytes);
// The whole content; empty when the file cannot be read.
Bytes ReadBytes(const std::filesystem::path& file);

}  // namespace tavelon::test_support
