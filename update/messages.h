// Everything the update tells the user, in one place: the texts of its
// message boxes, each with when it is shown. The texts are the product's
// own, double blanks included.
#pragma once

namespace tavelon::update {

// The caption of every box, except the per-dictionary warnings, which are
// captioned with the dictionary file's path.
inline constexpr char kCaption[] = "Tavelon Setup";

// The argument is empty, or blanks and tabs only.
inline constexpr char kArgumentError[] = "Error in argument!";
// Another copy of the update holds the only-copy mark.
inline constexpr char kAlreadyRunning[] = "The update is already running.";
// Neither the Run entry nor the App Paths entry gives a folder.
inline constexpr char kNotFoundText[] =
    "Update failed - Could not locate Tavelon files\n"
    "Please re-install previous version and try again";

// Per dictionary, captioned with its path: its application stopped (a
// record leads outside it, or a read or write failed); the records before
// stay written.
inline constexpr char kSeekErrorText[] = "Seek error in this file. Skipping...";
// Per dictionary: it exists but cannot be opened for writing, or is not the
// data folder's own; it is not written.
inline constexpr char kCannotOpenText[] =
    "Cannot open this file for writing. Skipping...";

// The last box of a run that got to its end, one of these.
inline constexpr char kCompletedMessage[] =
    "Update completed successfully!  Press OK to run updated Tavelon.";
// info.tmp could not be read: no dictionary was opened.
inline constexpr char kUnreadableMessage[] =
    "Update failed - Could not read the update information file info.tmp\n"
    "Please run the update from its own folder and try again";
// Every dictionary found was refused (kCannotOpenText for each).
inline constexpr char kDictionariesRefusedMessage[] =
    "Update failed - Could not write the Tavelon dictionaries\n"
    "Please run the update as an administrator and try again";
// Before the name of a file of a bound program's release that was refused,
// or of an installer that could not be started, followed by one of the two
// texts after it.
inline constexpr char kFileFailedBefore[] = "Update failed - ";
// The file is missing, or not the one released with the program.
inline constexpr char kNotReleasedAfter[] =
    " is not the file released with this update\n"
    "Please download the update again and run it from its own folder";
// The released installer could not be copied or started.
inline constexpr char kNotStartedAfter[] =
    " could not be started\n"
    "Please run the update again";

}  // namespace tavelon::update
