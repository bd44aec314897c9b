// One line per platform call, in the order the stand-ins received them, so
// that a test can check the order of a whole run across all of them.
#pragma once

#include <string>
#include <vector>

namespace tavelon::fakes {

using Journal = std::vector<std::string>;

inline void Note(Journal* journal, const std::string& line) {
  if (journal != nullptr) journal->push_back(line);
}

}  // namespace tavelon::fakes
