// tavpatch: inspects, tries and makes update descriptions for the updater,
// with the updater's own reader and patcher.
//
//   tavpatch show FILE            validate FILE and list its records
//   tavpatch check FILE FOLDER    dry run of FILE against a folder
//   tavpatch make LIST -o FILE    build an update description from a list
//
// Results and problems go to `out`, usage errors to `err`, one finding per
// line.
#pragma once

#include <ostream>

#include "platform/files.h"

namespace tavelon::tavpatch {

enum ExitCode : int {
  kExitOk = 0,
  kExitProblem = 1,  // an invalid file, a dry run that finds a failure, ...
  kExitUsage = 2,    // the command line is not understood
};

// Runs the command line (argv[0] is the program's name). Files are read,
// and the dictionary files opened, through `files`; `make` creates its
// output file with the standard library.
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
        platform::Files& files);

}  // namespace tavelon::tavpatch
