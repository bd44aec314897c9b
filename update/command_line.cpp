#include "update/command_line.h"

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
  // Folded to lower case as in the "C" locale, where only A-Z change: an m
  // either way.
  return argument[0] == 'm' || argument[0] == 'M';
}

}  // namespace tavelon::update
