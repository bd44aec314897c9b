// Text scanning on an explicitly named code page, so that double-byte text
// can be checked whatever the system's ANSI code page is; paths taken from
// UTF-16 to the ANSI code page.
#pragma once

#include <cstdint>

namespace tavelon::platform::win32 {

// As FindLastBackslash and EndsWithBackslash of platform/text.h, with the
// lead bytes of the given code page (CP_ACP for the system's ANSI one).
const char* FindLastBackslashInCodePage(const char* text,
                                        unsigned int code_page);
bool EndsWithBackslashInCodePage(const char* text, unsigned int code_page);

// The path in the system's ANSI code page, into `buffer` of `size` bytes:
// the path as it stands when the code page writes every character of it
// exactly, otherwise its short (8.3) form when that one is written exactly;
// never a best-fit replacement ("Lukasz" for "Łukasz"), which names a folder
// that does not exist. Returns its length, or 0 when neither form can be
// written exactly or the one chosen needs `size` bytes or more.
std::uint32_t PathInAnsiCodePage(const wchar_t* path, char* buffer,
                                 std::uint32_t size);

// The program's own path (GetModuleFileNameW) as PathInAnsiCodePage gives
// it.
std::uint32_t ModulePathInAnsiCodePage(char* buffer, std::uint32_t size);

}  // namespace tavelon::platform::win32
