// Text scanning on the ANSI code page. On a double-byte code page such as
// Japanese (932) a lead byte and the byte after it form one character, and a
// trail byte of 0x5C is part of that character, not a backslash, so the text
// is walked character by character from its start.
#include "platform/win32/win32_text.h"

#include <windows.h>

#include <cstring>

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
  LastCharacter(text, CodePageLeadByte{CP_ACP}, &backslash);
  return backslash;
}

bool EndsWithBackslash(const char* text) {
  return EndsWith(text, CodePageLeadByte{CP_ACP});
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

namespace {

// Wide paths are taken in buffers of this many characters.
constexpr DWORD kWidePathSize = 1024;

// True when the code page writes every character of the path, with its
// terminating zero, into the buffer; *length is then its length.
bool ConvertExactly(const wchar_t* path, char* buffer, std::uint32_t size,
                    std::uint32_t* length) {
  const UINT code_page = GetACP();
  // UTF-8 writes every character; it takes neither the best-fit flag nor a
  // default character, only the refusal of broken UTF-16.
  BOOL used_default = FALSE;
  const bool utf8 = code_page == CP_UTF8;
  const int bytes = WideCharToMultiByte(
      code_page, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, path, -1,
      buffer, static_cast<int>(size), nullptr, utf8 ? nullptr : &used_default);
  if (bytes <= 0 || used_default) return false;
  *length = static_cast<std::uint32_t>(bytes - 1);
  return true;
}

}  // namespace

std::uint32_t PathInAnsiCodePage(const wchar_t* path, char* buffer,
                                 std::uint32_t size) {
  // Whether a character of the long form cannot be written decides the form,
  // not whether the result fits: converted first where any path fits (three
  // bytes a character at most, in UTF-8).
  char long_form[3 * kWidePathSize];
  std::uint32_t length = 0;
  if (ConvertExactly(path, long_form, sizeof long_form, &length)) {
    if (length >= size) return 0;
    std::memcpy(buffer, long_form, length + 1);
    return length;
  }
  wchar_t short_path[kWidePathSize];
  const DWORD short_length = GetShortPathNameW(path, short_path, kWidePathSize);
  if (short_length == 0 || short_length >= kWidePathSize) return 0;
  return ConvertExactly(short_path, buffer, size, &length) ? length : 0;
}

std::uint32_t ModulePathInAnsiCodePage(char* buffer, std::uint32_t size) {
  wchar_t path[kWidePathSize];
  const DWORD length = GetModuleFileNameW(nullptr, path, kWidePathSize);
  if (length == 0 || length >= kWidePathSize) return 0;
  return PathInAnsiCodePage(path, buffer, size);
}

}  // namespace win32
}  // namespace tavelon::platform
