// Text scanning on the ANSI code page. On a double-byte code page such as
// Japanese (932) a lead byte and the byte after it form one character, and a
// trail byte of 0x5C is part of that character, not a backslash, so the text
// is walked character by character from its start.
#include "platform/win32/win32_text.h"

#include <windows.h>

#include "platform/text.h"

namespace tavelon::platform {
namespace {

// Walks the text one character at a time. Returns the start of its last
// character (nullptr for an empty text) and the last single-byte backslash.
// A lead byte right before the terminating zero counts as a character of its
// own, so the walk never passes the end of the text.
template <typename IsLeadByte>
const char* LastCharacter(const char* text, IsLeadByte is_lead_byte,
                          const char** last_backslash) {
  const char* last = nullptr;
  *last_backslash = nullptr;
  const char* p = text;
  while (*p != '\0') {
    last = p;
    if (is_lead_byte(static_cast<BYTE>(*p)) && p[1] != '\0') {
      p += 2;
    } else {
      if (*p == '\\') *last_backslash = p;
      ++p;
    }
  }
  return last;
}

struct SystemLeadByte {
  bool operator()(BYTE byte) const { return IsDBCSLeadByte(byte) != FALSE; }
};

struct CodePageLeadByte {
  UINT code_page;
  bool operator()(BYTE byte) const {
    return IsDBCSLeadByteEx(code_page, byte) != FALSE;
  }
};

template <typename IsLeadByte>
bool EndsWith(const char* text, IsLeadByte is_lead_byte) {
  const char* backslash = nullptr;
  const char* last = LastCharacter(text, is_lead_byte, &backslash);
  return last != nullptr && last == backslash;
}

}  // namespace

const char* FindLastBackslash(const char* text) {
  const char* backslash = nullptr;
  LastCharacter(text, SystemLeadByte{}, &backslash);
  return backslash;
}

bool EndsWithBackslash(const char* text) {
  return EndsWith(text, SystemLeadByte{});
}

namespace win32 {

const char* FindLastBackslashInCodePage(const char* text,
                                        unsigned int code_page) {
  const char* backslash = nullptr;
  LastCharacter(text, CodePageLeadByte{code_page}, &backslash);
  return backslash;
}

bool EndsWithBackslashInCodePage(const char* text, unsigned int code_page) {
  return EndsWith(text, CodePageLeadByte{code_page});
}

}  // namespace win32
}  // namespace tavelon::platform
