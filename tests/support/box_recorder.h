// A message-box stand-in that records each box instead of showing it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/message_boxes.h"
#include "tests/support/journal.h"

namespace tavelon::fakes {

struct RecordedBox {
  std::string text;
  std::string caption;
  std::uint32_t flags;
  bool operator==(const RecordedBox& other) const {
    return text == other.text && caption == other.caption &&
           flags == other.flags;
  }
};
inline std::ostream& operator<<(std::ostream& out, const RecordedBox& box) {
  return out << "[" << box.caption << "] " << box.text << " (" << box.flags
             << ")";
}

class BoxRecorder final : public platform::MessageBoxes {
 public:
  void Show(const char* text, const char* caption,
            std::uint32_t flags) override {
    Note(journal, std::string("box ") + text);
    boxes.push_back(RecordedBox{text, caption, flags});
  }

  std::vector<RecordedBox> boxes;
  Journal* journal = nullptr;
};

}  // namespace tavelon::fakes
