#include "tools/tavpatch/tavpatch.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "patch/dictionary_patcher.h"
#include "patch/little_endian.h"
#include "patch/patch_description.h"
#include "tools/tavpatch/file_content.h"
#include "tools/tavpatch/folder_check.h"
#include "tools/tavpatch/record_list.h"

namespace tavelon::tavpatch {
namespace {

constexpr char kMainHelp[] =
    "usage: tavpatch COMMAND ARGUMENTS...\n"
    "Inspects, tries and makes update descriptions (info.tmp) for\n"
    "TavelonUpdate, with the updater's own reader and patcher.\n"
    "\n"
    "commands:\n"
    "  show FILE            validate FILE as the updater does; list its "
    "records\n"
    "  check FILE FOLDER    dry run of FILE against an installation or data "
    "folder\n"
    "  make LIST -o FILE    build an update description from a text list\n"
    "\n"
    "'tavpatch COMMAND --help' describes a command.\n"
    "exit codes: 0 ok, 1 problem found, 2 usage error\n";

constexpr char kShowHelp[] =
    "usage: tavpatch show FILE\n"
    "Validates the update description FILE exactly as the updater validates\n"
    "info.tmp and lists its records.\n"
    "\n"
    "output, when valid:\n"
    "  records N\n"
    "  record I section S entry E value 0xVVVVVVVV [check]\n"
    "one line per record in the order applied; the last one is the check\n"
    "record, whose value in a dictionary file marks it as patched.\n"
    "\n"
    "when invalid, one line 'invalid RULE: DETAIL', RULE being one of\n"
    "  open        FILE cannot be opened for reading\n"
    "  length      the length is not 30 + 8 * N bytes, or is unknown\n"
    "  size-limit  longer than 5000 bytes (more than 621 records)\n"
    "  read        fewer bytes could be read than the length\n"
    "  header      the first 27 bytes are not \"Tavelon Translator - "
    "Update\"\n"
    "\n"
    "exit codes: 0 valid, 1 invalid, 2 usage error\n";

constexpr char kCheckHelp[] =
    "usage: tavpatch check FILE FOLDER\n"
    "Dry run: what the updater would do with the update description FILE to\n"
    "each dictionary file under FOLDER, worked out on the files themselves\n"
    "with the writes kept in memory. Nothing in FOLDER is written. FOLDER is\n"
    "the product's installation folder (holding data/) or its data folder\n"
    "(holding the dictionaries).\n"
    "\n"
    "output:\n"
    "  records N\n"
    "  data-folder PATH\n"
    "  CODE OUTCOME PATH            one line per language, in the updater's "
    "order\n"
    "  CODE heals yes|no: WHY       after applied and stopped: whether an\n"
    "                               update cut short (a power cut) is made\n"
    "                               whole by the next run\n"
    "  updater-result R             0, 1, 3, 4 or 5 as the updater's patch "
    "step\n"
    "                               (5: no dictionary file found, a problem)\n"
    "  problems K\n"
    "OUTCOME is one of\n"
    "  not-present      no dictionary file for the language\n"
    "  unwritable       the file exists but cannot be opened for writing,\n"
    "                   or is not the data folder's own (a link)\n"
    "  already-patched  the check record's value is in place; nothing "
    "written\n"
    "  applied          all N records would be written\n"
    "  stopped record I REASON STEP position P bound 0..M length L\n"
    "                   the updater would write records 0 to I-1, then stop\n"
    "                   and warn; REASON is out-of-bounds (P is outside the\n"
    "                   bound: 0 <= P and P + 4 <= L) or access-failed;\n"
    "                   STEP is section-element, entry-element or "
    "item-value\n"
    "  not-opened       the description has no records; nothing is opened\n"
    "An update cut short may keep any combination of the writes before the\n"
    "check record's (the updater flushes them before writing the check\n"
    "record's value). It does not heal when a record changes a table element\n"
    "that it or an earlier record reads (the next run follows the changed\n"
    "tables):\n"
    "  heals no: record I writes the table element that record J reads at\n"
    "  position P\n"
    "or when the check record would find its value in a file cut short:\n"
    "  heals no: cut short after record I, the next run would take the file\n"
    "  as patched\n"
    "or when a record other than the check record changes what the next\n"
    "run's check test reads (the check record's section element, entry\n"
    "element or item value, in the file as it was):\n"
    "  heals no: record I writes bytes that the check record's lookup reads\n"
    "  at position P\n"
    "A write that puts back the bytes already there changes nothing.\n"
    "An invalid FILE gives the line of 'tavpatch show' instead.\n"
    "\n"
    "exit codes: 0 nothing would fail, 1 a problem (invalid FILE, a stop,\n"
    "an unwritable file, an update that would not heal, no dictionary file\n"
    "found), 2 usage error\n";

constexpr char kMakeHelp[] =
    "usage: tavpatch make LIST -o FILE [--force]\n"
    "Builds an update description from the text file LIST and writes it to\n"
    "FILE. An existing FILE is only replaced with --force.\n"
    "\n"
    "LIST holds one record per line, in the order of application:\n"
    "  SECTION ENTRY VALUE\n"
    "SECTION and ENTRY in -32768..32767, VALUE in 0..0xFFFFFFFF; numbers in\n"
    "decimal (indices may be negative) or hex with 0x. '#' starts a comment;\n"
    "blank lines are ignored. The last record is the check record. At most\n"
    "621 records.\n"
    "\n"
    "output: 'records N' and 'wrote FILE'; a list with problems gives one\n"
    "line 'LIST:LINE: PROBLEM' for each and writes nothing.\n"
    "\n"
    "exit codes: 0 written, 1 a problem (list refused, FILE exists, cannot\n"
    "write), 2 usage error\n";

struct Command {
  const char* name;
  const char* help;
  int positional;     // the number of positional arguments
  bool takes_output;  // -o FILE and --force
};

constexpr Command kCommands[] = {
    {"show", kShowHelp, 1, false},
    {"check", kCheckHelp, 2, false},
    {"make", kMakeHelp, 1, true},
};

struct Arguments {
  std::vector<std::string> positional;
  std::string output;
  bool has_output = false;
  bool force = false;
  bool help = false;
};

// The paths as the updater forms them hold backslashes; the POSIX build
// shows them with the separator of its system.
std::string DisplayPath(const std::string& path) {
#if defined(_WIN32)
  return path;
#else
  std::string shown = path;
  for (char& c : shown) {
    if (c == '\\') c = '/';
  }
  return shown;
#endif
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

// The one line for an update description that the updater refuses.
std::string InvalidLine(patch::DescriptionStatus status, std::int32_t length,
                        const std::string& path) {
  using patch::DescriptionStatus;
  switch (status) {
    case DescriptionStatus::kCannotOpen:
      return "invalid open: " + path + " cannot be opened for reading";
    case DescriptionStatus::kBadLength:
      if (length < 0) return "invalid length: the length cannot be determined";
      return "invalid length: " + std::to_string(length) +
             " bytes is not 30 + 8 * N";
    case DescriptionStatus::kTooLong:
      return "invalid size-limit: " + std::to_string(length) +
             " bytes, more than " +
             std::to_string(patch::kMaxDescriptionLength) + " (" +
             std::to_string(patch::kMaxRecords) + " records)";
    case DescriptionStatus::kShortRead:
      return "invalid read: fewer than " + std::to_string(length) +
             " bytes could be read";
    case DescriptionStatus::kBadHeader:
      return "invalid header: the first " +
             std::to_string(patch::kHeaderTextLength) + " bytes are not \"" +
             patch::kHeaderText + "\"";
    case DescriptionStatus::kNotReleased:  // only a bound updater asks
    case DescriptionStatus::kValid:
      break;
  }
  return "valid";
}

const char* StepName(patch::FileStep step) {
  switch (step) {
    case patch::FileStep::kSectionElement:
      return "section-element";
    case patch::FileStep::kEntryElement:
      return "entry-element";
    case patch::FileStep::kItemValue:
      return "item-value";
  }
  return "";
}

std::string OutcomeText(const LanguageCheck& language) {
  if (!language.opened) return "not-opened";
  switch (language.outcome) {
    case patch::DictionaryOutcome::kNotPresent:
      return "not-present";
    case patch::DictionaryOutcome::kRefused:
      return "unwritable";
    case patch::DictionaryOutcome::kAlreadyPatched:
      return "already-patched";
    case patch::DictionaryOutcome::kAllApplied:
      return "applied";
    case patch::DictionaryOutcome::kStopped:
      break;
  }
  const patch::FileReport& report = language.dry_run.report;
  const std::string bound =
      report.length >= 4 ? "0.." + std::to_string(report.length - 4) : "none";
  return "stopped record " + std::to_string(report.record) + " " +
         (report.outcome == patch::FileOutcome::kOutOfBounds
              ? "out-of-bounds"
              : "access-failed") +
         " " + StepName(report.step) + " position " +
         std::to_string(report.position) + " bound " + bound + " length " +
         std::to_string(report.length);
}

std::string HealingText(const Healing& healing) {
  switch (healing.verdict) {
    case Healing::Verdict::kHeals:
      break;
    case Healing::Verdict::kWritesWhatIsRead:
      return "heals no: record " + std::to_string(healing.writer) +
             " writes the table element that record " +
             std::to_string(healing.reader) + " reads at position " +
             std::to_string(healing.position);
    case Healing::Verdict::kTakenAsPatched:
      return "heals no: cut short after record " +
             std::to_string(healing.cut_after) +
             ", the next run would take the file as patched";
    case Healing::Verdict::kWritesCheckLookup:
      return "heals no: record " + std::to_string(healing.writer) +
             " writes bytes that the check record's lookup reads at "
             "position " +
             std::to_string(healing.position);
  }
  return "heals yes";
}

int Show(const Arguments& arguments, std::ostream& out,
         platform::Files& files) {
  const std::string& path = arguments.positional[0];
  const auto description = std::make_unique<patch::PatchDescription>();
  std::int32_t length = 0;
  const patch::DescriptionStatus status = patch::ReadPatchDescriptionFile(
      files, path.c_str(), description.get(), &length);
  if (status != patch::DescriptionStatus::kValid) {
    out << InvalidLine(status, length, path) << '\n';
    return kExitProblem;
  }
  files.Close(description->file);

  const std::int32_t count = description->count;
  out << "records " << count << '\n';
  for (std::int32_t i = 0; i < count; ++i) {
    const patch::PatchRecord& record = description->records[i];
    out << "record " << i << " section " << record.section << " entry "
        << record.entry << " value "
        << Hex(patch::DecodeLittleEndian(record.value, 4))
        << (i == count - 1 ? " check" : "") << '\n';
  }
  return kExitOk;
}

int Check(const Arguments& arguments, std::ostream& out,
          platform::Files& files) {
  const std::string& path = arguments.positional[0];
  const FolderCheck check =
      CheckFolder(files, path.c_str(), arguments.positional[1].c_str());
  if (check.description != patch::DescriptionStatus::kValid) {
    out << InvalidLine(check.description, check.description_length, path)
        << '\n';
    return kExitProblem;
  }

  int problems = 0;
  out << "records " << check.records << '\n';
  if (check.data_folder_usable) {
    out << "data-folder " << DisplayPath(check.data_folder) << '\n';
  } else {
    out << "data-folder unusable: its path is too long for the updater to "
           "name a dictionary file in it\n";
    ++problems;
  }
  for (const LanguageCheck& language : check.languages) {
    out << language.code << ' ' << OutcomeText(language) << ' '
        << DisplayPath(language.path) << '\n';
    if (language.outcome == patch::DictionaryOutcome::kAllApplied ||
        language.outcome == patch::DictionaryOutcome::kStopped) {
      out << language.code << ' ' << HealingText(language.dry_run.healing)
          << '\n';
    }
    if (IsProblem(language)) ++problems;
  }
  // The updater would end its run with a failure: no installation there.
  if (check.data_folder_usable &&
      check.updater_result == patch::kNoDictionaryFound) {
    ++problems;
  }
  out << "updater-result " << check.updater_result << '\n';
  out << "problems " << problems << '\n';
  return problems == 0 ? kExitOk : kExitProblem;
}

int Make(const Arguments& arguments, std::ostream& out,
         platform::Files& files) {
  const std::string& list_path = arguments.positional[0];
  const std::string& output = arguments.output;
  std::vector<unsigned char> content;
  if (!ReadFileContent(files, list_path.c_str(), &content)) {
    out << list_path << ": cannot be read\n";
    return kExitProblem;
  }
  const RecordList list =
      ParseRecordList(std::string(content.begin(), content.end()));
  for (const ListProblem& problem : list.problems) {
    out << list_path << ':' << problem.line << ": " << problem.message << '\n';
  }
  if (!list.problems.empty()) return kExitProblem;

  platform::FileHandle existing = 0;
  const platform::OpenStatus status = files.OpenExisting(
      output.c_str(), platform::FileAccess::kRead, &existing);
  if (status == platform::OpenStatus::kOpened) files.Close(existing);
  if (status != platform::OpenStatus::kNotFound && !arguments.force) {
    out << output << ": exists; give --force to replace it\n";
    return kExitProblem;
  }

  const std::vector<unsigned char> bytes = EncodeDescription(list.records);
  std::ofstream stream(output, std::ios::binary | std::ios::trunc);
  stream.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  stream.close();
  if (!stream) {
    out << output << ": cannot be written\n";
    return kExitProblem;
  }

  // What was written must read back as the updater reads it.
  const auto description = std::make_unique<patch::PatchDescription>();
  std::int32_t length = 0;
  const patch::DescriptionStatus written = patch::ReadPatchDescriptionFile(
      files, output.c_str(), description.get(), &length);
  if (written != patch::DescriptionStatus::kValid) {
    out << output << ": " << InvalidLine(written, length, output) << '\n';
    return kExitProblem;
  }
  files.Close(description->file);
  out << "records " << description->count << '\n';
  out << "wrote " << output << '\n';
  return kExitOk;
}

// Reads the command's arguments; false with a message when they do not fit
// the command.
bool ParseArguments(const Command& command, int argc, const char* const* argv,
                    Arguments* arguments, std::string* message) {
  bool options_end = false;
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (options_end || argument.size() < 2 || argument[0] != '-') {
      arguments->positional.push_back(argument);
    } else if (argument == "--") {
      options_end = true;
    } else if (argument == "--help" || argument == "-h") {
      arguments->help = true;
    } else if (command.takes_output &&
               (argument == "-o" || argument == "--output")) {
      if (i + 1 >= argc || arguments->has_output) {
        *message =
            arguments->has_output ? "-o given twice" : "-o needs a file name";
        return false;
      }
      arguments->output = argv[++i];
      arguments->has_output = true;
    } else if (command.takes_output && argument == "--force") {
      arguments->force = true;
    } else {
      *message = "unknown option " + argument;
      return false;
    }
  }
  if (arguments->help) return true;
  const std::size_t expected = static_cast<std::size_t>(command.positional);
  if (arguments->positional.size() != expected) {
    *message = std::string(command.name) + " takes " +
               (expected == 1 ? "one argument" : "two arguments") + ", " +
               std::to_string(arguments->positional.size()) + " given";
    return false;
  }
  if (command.takes_output && !arguments->has_output) {
    *message = "-o FILE is required";
    return false;
  }
  return true;
}

}  // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
        platform::Files& files) {
  if (argc < 2) {
    err << "tavpatch: a command is required\n" << kMainHelp;
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    out << kMainHelp;
    return kExitOk;
  }
  for (const Command& command : kCommands) {
    if (name != command.name) continue;
    Arguments arguments;
    std::string message;
    if (!ParseArguments(command, argc, argv, &arguments, &message)) {
      err << "tavpatch " << command.name << ": " << message << '\n'
          << command.help;
      return kExitUsage;
    }
    if (arguments.help) {
      out << command.help;
      return kExitOk;
    }
    if (name == "show") return Show(arguments, out, files);
    if (name == "check") return Check(arguments, out, files);
    return Make(arguments, out, files);
  }
  err << "tavpatch: unknown command '" << name
      << "'; 'tavpatch --help' lists the commands\n";
  return kExitUsage;
}

}  // namespace tavelon::tavpatch
