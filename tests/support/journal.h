// One line per platform call, in the order the stand-ins received them, so
// that a test can check the order of a whole run across all of them.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>
#include <vector>

namespace tavelon::fakes {

using Journal = std::vector<std::string>;

inline void Note(Journal* journal, const std::string& line) {
  if (journal != nullptr) journal->push_back(line);
}

// A file's or key's name as the stand-ins compare it: without regard to
// ASCII letter case, as Windows does.
inline std::string Lower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

// The calls of each kind a stand-in receives, counted over its life, and
// the one call of each kind (from 1) that is made to fail: one counter for
// every stand-in that injects failures.
template <std::size_t kKinds>
class CallCounter {
 public:
  void Fail(int kind, int number) { fail_[Index(kind)] = number; }
  // Counts a call; true when it is the one to fail.
  bool Count(int kind) { return ++calls_[Index(kind)] == fail_[Index(kind)]; }
  int Calls(int kind) const { return calls_[Index(kind)]; }

 private:
  static std::size_t Index(int kind) { return static_cast<std::size_t>(kind); }
  int calls_[kKinds] = {};
  int fail_[kKinds] = {};
};

}  // namespace tavelon::fakes
