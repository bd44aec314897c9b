#include "update/command_line.h"

#include <cctype>

namespace tavelon::update {
namespace {

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const char* ArgumentFromCommandLine(const char* command_line) {
  const char* p = command_line;
  while (IsBlankOrTab(*p)) ++p;

  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"' && *p != '\t') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && !IsBlankOrTab(*p)) ++p;
  }

  while (IsBlankOrTab(*p)) ++p;
  return p;
}

bool ChoosesMaleVoice(const char* argument) {
  // No setlocale anywhere in the program, so tolower folds in the "C"
  // locale: only A-Z change.
  return std::tolower(static_cast<unsigned char>(argument[0])) == 'm';
}

}  // namespace tavelon::update
