#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "update/command_line.h"

namespace tavelon::update {
namespace {

struct CommandLineCase {
  const char* command_line;
  const char* argument;
};

void PrintTo(const CommandLineCase& c, std::ostream* os) {
  *os << '[' << c.command_line << ']';
}

class ArgumentTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(ArgumentTest, TakesTheRestAfterTheProgramName) {
  EXPECT_EQ(std::string(GetParam().argument),
            ArgumentFromCommandLine(GetParam().command_line));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ArgumentTest,
    ::testing::Values(
        CommandLineCase{"TavelonUpdate.exe m", "m"},
        CommandLineCase{"TavelonUpdate.exe", ""}, CommandLineCase{"", ""},
        CommandLineCase{"  \t TavelonUpdate.exe \t  male voice", "male voice"},
        CommandLineCase{"TavelonUpdate.exe \t \t ", ""},
        CommandLineCase{"\"C:\\Update Folder\\TavelonUpdate.exe\" f", "f"},
        CommandLineCase{"\"C:\\Update Folder\\TavelonUpdate.exe\"m", "m"},
        // A tab ends a quoted name too; the rest of it becomes the argument.
        CommandLineCase{"\"C:\\Up\tdate.exe\" m", "date.exe\" m"},
        // No closing quotation mark: the name runs to the end.
        CommandLineCase{"\"C:\\Update Folder\\TavelonUpdate.exe m", ""},
        CommandLineCase{"C:\\Update\\TavelonUpdate.exe\t\"male\"", "\"male\""},
        // Arguments keep trailing blanks, quotation marks and high bytes.
        CommandLineCase{"TavelonUpdate.exe \xE9t\xE9 ", "\xE9t\xE9 "},
        CommandLineCase{"TavelonUpdate.exe m\"x y\"", "m\"x y\""}));

TEST(VoiceChoiceTest, OnlyAnMFirstChoosesTheMaleVoice) {
  struct {
    const char* argument;
    bool male;
  } const cases[] = {
      {"m", true},     {"M", true},     {"male", true}, {"Male voice", true},
      {"f", false},    {"x", false},    {"1", false},   {"\"male\"", false},
      {"\xCD", false}, {"\x8D", false}, {" m", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.male, ChoosesMaleVoice(c.argument)) << c.argument;
  }
}

}  // namespace
}  // namespace tavelon::update
