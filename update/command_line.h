// The program's one argument, taken from the process's command line.
#pragma once

namespace tavelon::update {

// Skips the leading blanks and tabs, the program's own name and the blanks
// and tabs after it, and returns the rest of the command line. A name in
// quotation marks runs to the closing quotation mark or to a tab, an
// unquoted one to the first blank or tab. The rest is returned as it stands:
// quotation marks and bytes of 0x80 and above are kept.
const char* ArgumentFromCommandLine(const char* command_line);

// True when the argument's first character, folded to lower case in the
// "C" locale, is 'm': the male voice.
bool ChoosesMaleVoice(const char* argument);

}  // namespace tavelon::update
