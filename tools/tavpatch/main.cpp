// The console program: the command line goes to the tool's logic with the
// standard streams and the system's files.
#include <iostream>

#include "platform/system.h"
#include "tools/tavpatch/tavpatch.h"

int main(int argc, char** argv) {
  return tavelon::tavpatch::Run(argc, argv, std::cout, std::cerr,
                                tavelon::platform::SystemFiles());
}
