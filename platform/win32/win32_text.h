// Text scanning on an explicitly named code page, so that double-byte text
// can be checked whatever the system's ANSI code page is.
#pragma once

namespace tavelon::platform::win32 {

// As FindLastBackslash and EndsWithBackslash of platform/text.h, with the
// lead bytes of the given code page (CP_ACP for the system's ANSI one).
const char* FindLastBackslashInCodePage(const char* text,
                                        unsigned int code_page);
bool EndsWithBackslashInCodePage(const char* text, unsigned int code_page);

}  // namespace tavelon::platform::win32
