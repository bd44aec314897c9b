// Character-aware scanning of narrow (ANSI code page) text.
#pragma once

namespace tavelon::platform {

// Returns the last backslash character of the zero-terminated text, or
// nullptr when there is none. On a double-byte code page a trail byte of
// 0x5C is part of a character, not a backslash; the POSIX build treats every
// byte as a character.
const char* FindLastBackslash(const char* text);

// True when the text is not empty and its last character is a backslash.
bool EndsWithBackslash(const char* text);

}  // namespace tavelon::platform
