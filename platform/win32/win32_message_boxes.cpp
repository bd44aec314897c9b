// The message boxes on Windows.
#include <windows.h>

#include <cstdint>

#include "platform/message_boxes.h"
#include "platform/system.h"

namespace tavelon::platform {
namespace {

class Win32MessageBoxes final : public MessageBoxes {
 public:
  void Show(const char* text, const char* caption,
            std::uint32_t flags) override {
    MessageBoxA(GetFocus(), text, caption, flags);
  }
};

}  // namespace

MessageBoxes& SystemMessageBoxes() {
  static Win32MessageBoxes boxes;
  return boxes;
}

}  // namespace tavelon::platform
