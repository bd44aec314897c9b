// What the user reads, as the tests expect it: the box texts and flags
// written out here as literal strings, not taken from the program, so that
// a changed text fails the tests.
#pragma once

#include <cstdint>

namespace tavelon::expected {

inline constexpr char kCaption[] = "Tavelon Setup";
inline constexpr char kNotFound[] =
    "Update failed - Could not locate Tavelon files\n"
    "Please re-install previous version and try again";
inline constexpr char kSeekError[] = "Seek error in this file. Skipping...";
inline constexpr char kCannotOpen[] =
    "Cannot open this file for writing. Skipping...";
inline constexpr char kCompleted[] =
    "Update completed successfully!  Press OK to run updated Tavelon.";
inline constexpr char kUnreadable[] =
    "Update failed - Could not read the update information file info.tmp\n"
    "Please run the update from its own folder and try again";
inline constexpr char kDictionariesRefused[] =
    "Update failed - Could not write the Tavelon dictionaries\n"
    "Please run the update as an administrator and try again";
// After "Update failed - " and a file's name.
inline constexpr char kNotReleased[] =
    " is not the file released with this update\n"
    "Please download the update again and run it from its own folder";
inline constexpr char kNotStarted[] =
    " could not be started\n"
    "Please run the update again";

inline constexpr std::uint32_t kWarningFlags = 0x30;  // MB_OK | ICONWARNING
// Information, foreground, topmost.
inline constexpr std::uint32_t kCompletedFlags = 0x50040;
// Warning, foreground, topmost.
inline constexpr std::uint32_t kFailureFlags = 0x50030;

}  // namespace tavelon::expected
