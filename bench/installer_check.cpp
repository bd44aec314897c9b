// The cost of checking an installer as a bound program does it before
// starting it: opened without write or delete sharing, read whole and
// digested (SHA-256, the system's own), on a file of 5 MB. Prints the
// median, the fastest and the slowest of several checks in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/system.h"
#include "update/release_binding.h"

int main() {
  namespace platform = tavelon::platform;
  char folder[MAX_PATH];
  char path[MAX_PATH];
  if (GetTempPathA(sizeof folder, folder) == 0 ||
      GetTempFileNameA(folder, "tav", 0, path) == 0) {
    return 2;
  }
  std::vector<unsigned char> content(5 * 1024 * 1024);
  for (std::size_t i = 0; i < content.size(); ++i) {
    content[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
  }
  const HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool made =
      file != INVALID_HANDLE_VALUE &&
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()),
                &written, nullptr) &&
      written == content.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  platform::Sha256Digest expected;
  if (!made || !platform::DigestOf(platform::SystemSha256(), content.data(),
                                   static_cast<std::uint32_t>(content.size()),
                                   &expected)) {
    DeleteFileA(path);
    return 2;
  }

  std::vector<double> times;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (int run = 0; run < 9; ++run) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    platform::FileHandle held = 0;
    const bool released = tavelon::update::OpenReleasedFile(
        platform::SystemFiles(), platform::SystemSha256(), path, expected,
        &held);
    if (released) platform::SystemFiles().Close(held);
    QueryPerformanceCounter(&end);
    if (!released) {
      DeleteFileA(path);
      return 1;
    }
    times.push_back(1000.0 *
                    static_cast<double>(end.QuadPart - start.QuadPart) /
                    static_cast<double>(frequency.QuadPart));
  }
  DeleteFileA(path);
  std::sort(times.begin(), times.end());
  std::printf("installer check, 5 MB\t%.0f\t%.0f\t%.0f\t%u\n",
              times[times.size() / 2], times.front(), times.back(),
              static_cast<unsigned>(times.size()));
  return 0;
}
