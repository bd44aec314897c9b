// Message boxes, the program's only way of talking to the user.
#pragma once

#include <cstdint>

namespace tavelon::platform {

// MessageBoxA flags, with the values Windows gives them.
enum MessageBoxFlags : std::uint32_t {
  kMbOk = 0x0,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
  kMbSetForeground = 0x10000,
  kMbTopmost = 0x40000,
};

class MessageBoxes {
 public:
  // Shows a box with an OK button, owned by the window that has the focus
  // at the moment of the call, and waits until the user dismisses it. The
  // text is shown as it stands, never used as a format.
  virtual void Show(const char* text, const char* caption,
                    std::uint32_t flags) = 0;

 protected:
  ~MessageBoxes() = default;
};

}  // namespace tavelon::platform
