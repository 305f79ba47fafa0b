// quarn: lists, tests and extracts Siemens flash dumps through the plugin's
// WCX exports, as a file manager does.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/archive.h"
#include "cli/commands.h"
#include "cli/os.h"

#ifndef QUARN_VERSION
#define QUARN_VERSION "0.1.0"
#endif

namespace {

using namespace quarn::cli;

constexpr char kUsage[] =
    "Usage: quarn <command> [options] [arguments]\n"
    "\n"
    "Reads full flash dumps of Siemens mobile phones (33554432 bytes, \"SIEMENS\" at\n"
    "offset 544) as archives: the flash disks as DISK.BIN files, the flash file\n"
    "system's folders and files, and the EEPROM blocks.\n"
    "\n"
    "Commands:\n"
    "  probe FILE...               tell for each FILE whether it is a flash dump\n"
    "  list DUMP [PATH|GLOB...]    list the entries of DUMP, or the selected ones\n"
    "  extract DUMP [PATH|GLOB...] extract every entry, or the selected ones\n"
    "  test DUMP [PATH|GLOB...]    test every entry, or the selected ones\n"
    "  info DUMP                   report on the dump: disks, contents, damage\n"
    "  help [COMMAND]              show this help, or a command's\n"
    "\n"
    "'quarn COMMAND --help' (or 'quarn help COMMAND') shows a command's options.\n"
    "Options may come anywhere after the command; '--' ends them.\n"
    "  -h, --help           show the help\n"
    "  -V, --version        show the version (in place of a command)\n"
    "\n"
    "Selecting entries: a PATH selects that entry and everything below it; a GLOB\n"
    "is matched against whole paths: '*' is any run of characters, '?' one\n"
    "character, [abc], [a-z] and [!a-z] one character of a set; '*' and '?' do\n"
    "not match '/'. Separators are '/' (on Windows also '\\'). Leading '/' and\n"
    "'./' and doubled '/' are dropped, as tar drops them.\n"
    "\n"
    "Exit codes:\n"
    "  0    success (extract -k: also when files were skipped)\n"
    "  1    some entries failed, a PATH or GLOB matched nothing, or the output\n"
    "       folder cannot be made (each is named on stderr); probe: some files\n"
    "       are not dumps\n"
    "  2    usage error; extract and test: also a dump that cannot be opened\n"
    "  3    probe, list, info: the file does not exist\n"
    "  4    probe, list, info: the file cannot be opened or read\n"
    "  5    probe, list, info: the file is a folder\n"
    "  6    list, info: not enough memory to load the dump\n"
    "  7    standard output cannot be written (closed, or the disk is full)\n"
    "  130  interrupted (Ctrl+C)\n";

constexpr char kSelectionNote[] =
    "A PATH selects that entry and everything below it; a GLOB ('*', '?', [a-z])\n"
    "is matched against whole paths, '*' and '?' not matching '/'. An exclusion\n"
    "matches any run of whole components ('*.jpg' drops every .jpg, at any depth).\n";

enum Command : unsigned {
  kProbe = 1u << 0,
  kList = 1u << 1,
  kExtract = 1u << 2,
  kTest = 1u << 3,
  kInfo = 1u << 4,
};

struct CommandSpec {
  Command id;
  const char *name;
  const char *help;
};

const CommandSpec kCommands[] = {
    {kProbe, "probe",
     "Usage: quarn probe FILE...\n"
     "\n"
     "Tells for each FILE whether it is a Siemens flash dump, and why not:\n"
     "  dump.bin: Siemens flash dump\n"
     "  small.bin: not a Siemens flash dump (size 123 bytes, expected 33554432)\n"
     "\n"
     "Options:\n"
     "  -h, --help           show this help\n"
     "\n"
     "Example:\n"
     "  quarn probe *.bin\n"},
    {kList, "list",
     "Usage: quarn list DUMP [options] [PATH|GLOB...]\n"
     "\n"
     "Lists the entries of DUMP, or the selected ones, as a table like 7z l: date\n"
     "and time (blank when the dump gives none), attributes (DRHSA), size and path,\n"
     "then the totals.\n"
     "\n"
     "Options:\n"
     "      --json           one JSON object a line, with the entry's disk, its\n"
     "                       parts' ids, the byte ranges of the dump it is made of\n"
     "                       ([offset, length]; null for a text the reader made)\n"
     "                       and whether it is complete\n"
     "  -x, --exclude GLOB   leave out what GLOB matches (repeatable)\n"
     "  -h, --help           show this help\n"
     "\n"
     "Examples:\n"
     "  quarn list dump.bin\n"
     "  quarn list dump.bin FFS/Pictures '*.BIN'\n"
     "  quarn list --json dump.bin | jq -c 'select(.complete | not)'\n"},
    {kExtract, "extract",
     "Usage: quarn extract DUMP [options] [PATH|GLOB...]\n"
     "\n"
     "Extracts every entry of DUMP, or the selected ones, with their folders.\n"
     "\n"
     "Options:\n"
     "  -o, --output DIR     folder to extract into (default: the current folder)\n"
     "  -C, --directory DIR  the same\n"
     "      --overwrite      replace files that exist already\n"
     "  -k, --keep, --skip-existing\n"
     "                       leave files that exist already, counted as skipped\n"
     "                       (default: report each one as failed)\n"
     "  -O, --stdout         write the selected files' bytes to standard output,\n"
     "                       one after another in listing order, and nothing else\n"
     "  -x, --exclude GLOB   leave out what GLOB matches (repeatable)\n"
     "  -q, --quiet          report errors only\n"
     "  -v, --verbose        name each file as it is written\n"
     "  -h, --help           show this help\n"
     "\n"
     "Examples:\n"
     "  quarn extract dump.bin -o out\n"
     "  quarn extract dump.bin -C out -k 'FFS/Pictures/*.jpg'\n"
     "  quarn extract dump.bin -O FFS/Docs/notes.txt | less\n"
     "  quarn extract dump.bin -o out -x LostBlocks -x '*.BIN'\n"},
    {kTest, "test",
     "Usage: quarn test DUMP [options] [PATH|GLOB...]\n"
     "\n"
     "Has the plugin test every entry of DUMP, or the selected ones, as extraction\n"
     "would find them, and names each bad one with its reason.\n"
     "\n"
     "Options:\n"
     "  -x, --exclude GLOB   leave out what GLOB matches (repeatable)\n"
     "  -q, --quiet          report errors only\n"
     "  -h, --help           show this help\n"
     "\n"
     "Examples:\n"
     "  quarn test dump.bin\n"
     "  quarn test -q dump.bin FFS -x LostBlocks\n"},
    {kInfo, "info",
     "Usage: quarn info DUMP [options]\n"
     "\n"
     "Reports on DUMP as a whole: its size, signature and last-write time; the\n"
     "partition table (each disk's record, blocks and addresses); for each disk\n"
     "what it holds, its descriptor slots, parts, files, folders, bytes, EEPROM\n"
     "blocks and lost chunks; and every damage found, with where it lies.\n"
     "\n"
     "Options:\n"
     "      --json           the report as one JSON object\n"
     "  -v, --verbose        every damage and block run (default: the first ones)\n"
     "  -h, --help           show this help\n"
     "\n"
     "Examples:\n"
     "  quarn info dump.bin\n"
     "  quarn info --json dump.bin | jq '.disks[] | {name, holds, damage}'\n"},
};

const CommandSpec *FindCommand(std::string_view name) {
  for (const CommandSpec &command : kCommands)
    if (name == command.name) return &command;
  return nullptr;
}

enum OptionId { kHelp, kJson, kOutput, kOverwrite, kKeep, kStdout, kQuiet, kVerbose, kExclude };
constexpr std::size_t kOptionCount = kExclude + 1;

struct OptionSpec {
  OptionId id;
  char shortName;  // 0: none
  std::array<std::string_view, 2> longNames;
  bool takesValue;
  unsigned commands;  // where it applies
  const char *valueName;
};

constexpr unsigned kAll = kProbe | kList | kExtract | kTest | kInfo;
const OptionSpec kOptions[] = {
    {kHelp, 'h', {"help", ""}, false, kAll, nullptr},
    {kJson, 0, {"json", ""}, false, kList | kInfo, nullptr},
    {kOutput, 'o', {"output", ""}, true, kExtract, "a folder"},
    {kOutput, 'C', {"directory", ""}, true, kExtract, "a folder"},
    {kOverwrite, 0, {"overwrite", ""}, false, kExtract, nullptr},
    {kKeep, 'k', {"keep", "skip-existing"}, false, kExtract, nullptr},
    {kStdout, 'O', {"stdout", ""}, false, kExtract, nullptr},
    {kQuiet, 'q', {"quiet", ""}, false, kExtract | kTest, nullptr},
    {kVerbose, 'v', {"verbose", ""}, false, kExtract | kInfo, nullptr},
    {kExclude, 'x', {"exclude", ""}, true, kList | kExtract | kTest, "a pattern"},
};

const OptionSpec *FindShort(char c) {
  for (const OptionSpec &option : kOptions)
    if (option.shortName == c) return &option;
  return nullptr;
}

const OptionSpec *FindLong(std::string_view name) {
  for (const OptionSpec &option : kOptions)
    for (std::string_view longName : option.longNames)
      if (!longName.empty() && name == longName) return &option;
  return nullptr;
}

// The command line after the command's name.
struct Arguments {
  std::vector<std::string> operands;
  std::array<std::string, kOptionCount> given;  // how each option was spelt; empty: not given
  std::optional<std::string> output;
  std::vector<std::string> excludes;

  bool Has(OptionId id) const { return !given[id].empty(); }
};

class Parser {
 public:
  Parser(const CommandSpec &command, int argc, char **argv)
      : command_(command), argc_(argc), argv_(argv) {}

  // Returns an error message, or an empty string.
  std::string Parse(Arguments &args) {
    bool optionsEnded = false;
    for (i_ = 2; i_ < argc_; ++i_) {
      const std::string_view arg = argv_[i_];
      std::string error;
      if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
        args.operands.emplace_back(arg);
      } else if (arg == "--") {
        optionsEnded = true;
      } else if (arg.starts_with("--")) {
        error = Long(arg, args);
      } else {
        error = Short(arg, args);
      }
      if (!error.empty()) return error;
    }
    return {};
  }

 private:
  std::string Long(std::string_view arg, Arguments &args) {
    const std::size_t equals = arg.find('=');
    const std::string_view name =
        arg.substr(2, equals == std::string_view::npos ? arg.npos : equals - 2);
    const OptionSpec *option = FindLong(name);
    const std::string spelling = "--" + std::string(name);
    if (option == nullptr) return "unknown option " + spelling;
    std::optional<std::string> value;
    if (equals != std::string_view::npos) {
      if (!option->takesValue) return spelling + " takes no value";
      value = std::string(arg.substr(equals + 1));
    }
    return Take(*option, spelling, value, args);
  }

  std::string Short(std::string_view arg, Arguments &args) {
    // "-overwrite" is --overwrite with a dash missing, not -o with the
    // folder "verwrite".
    const std::string_view word = arg.substr(1);
    const OptionSpec *whole = FindLong(word.substr(0, word.find('=')));
    if (whole != nullptr && word.size() > 1) {
      return "unknown option " + std::string(arg) + " (did you mean -" + std::string(arg) + "?)";
    }
    for (std::size_t j = 1; j < arg.size(); ++j) {
      const OptionSpec *option = FindShort(arg[j]);
      const std::string spelling = std::string("-") + arg[j];
      if (option == nullptr) {
        return "unknown option " + spelling +
               (arg.size() > 2 ? " (in " + std::string(arg) + ")" : std::string());
      }
      if (option->takesValue) {
        // The rest of the word is the value, as in -oDIR; else the next word.
        std::optional<std::string> value;
        if (j + 1 < arg.size()) value = std::string(arg.substr(j + 1));
        return Take(*option, spelling, value, args);
      }
      if (std::string error = Take(*option, spelling, std::nullopt, args); !error.empty())
        return error;
    }
    return {};
  }

  std::string Take(const OptionSpec &option, const std::string &spelling,
                   std::optional<std::string> value, Arguments &args) {
    if ((option.commands & command_.id) == 0)
      return spelling + " does not apply to " + command_.name;
    if (option.takesValue && !value) {
      if (i_ + 1 >= argc_) return spelling + " needs " + option.valueName;
      value = argv_[++i_];
    }
    if (option.id == kOutput) {
      if (args.output)
        return "the output folder is given twice (" + args.given[kOutput] + " and " + spelling +
               ")";
      if (value->empty()) return "the output folder name is empty";
      args.output = *value;
    } else if (option.id == kExclude) {
      if (value->empty()) return spelling + " needs a pattern";
      args.excludes.push_back(*value);
    }
    args.given[option.id] = spelling;
    return {};
  }

  const CommandSpec &command_;
  int argc_;
  char **argv_;
  int i_ = 0;
};

// Options that make no sense together; an empty string when none are given.
std::string Contradiction(const Arguments &args) {
  const auto both = [&](OptionId a, OptionId b, const char *why) -> std::string {
    if (!args.Has(a) || !args.Has(b)) return {};
    return args.given[a] + " and " + args.given[b] + " cannot be used together: " + why;
  };
  for (const std::string &error :
       {both(kStdout, kOutput, "the bytes go to standard output, not into a folder"),
        both(kStdout, kOverwrite, "nothing is written to disk"),
        both(kStdout, kKeep, "nothing is written to disk"),
        both(kKeep, kOverwrite, "one keeps existing files, the other replaces them"),
        both(kQuiet, kVerbose, "one says less, the other more")}) {
    if (!error.empty()) return error;
  }
  return {};
}

// extract and test keep to three outcomes, like an archiver's extract and
// test: 0 done, 1 some entries failed, 2 the command could not start (a usage
// error, or a dump that cannot be opened; the message says which).
int OpenErrorsAsUsage(int code) {
  switch (code) {
    case kExitNotFound:
    case kExitUnreadable:
    case kExitIsDirectory:
    case kExitNoMemory:
      return kExitUsage;
    default:
      return code;
  }
}

int UsageError(const std::string &message, const CommandSpec *command = nullptr) {
  PrintError(message);
  if (command != nullptr)
    std::fprintf(stderr, "Try 'quarn %s --help'.\n", command->name);
  else
    std::fprintf(stderr, "Try 'quarn --help'.\n");
  return kExitUsage;
}

// Whether -h or --help comes before "--": then the command's help is all
// that is asked.
bool AsksForHelp(int argc, char **argv) {
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") return false;
    if (arg == "-h" || arg == "--help") return true;
  }
  return false;
}

int RunCommand(const CommandSpec &command, int argc, char **argv) {
  if (AsksForHelp(argc, argv)) {
    std::fputs(command.help, stdout);
    return kExitOk;
  }
  Arguments args;
  if (const std::string error = Parser(command, argc, argv).Parse(args); !error.empty())
    return UsageError(error, &command);
  if (const std::string error = Contradiction(args); !error.empty())
    return UsageError(error, &command);
  const std::vector<std::string> &operands = args.operands;
  const std::vector<std::string> selection =
      operands.empty() ? std::vector<std::string>()
                       : std::vector<std::string>(operands.begin() + 1, operands.end());

  switch (command.id) {
    case kProbe:
      if (operands.empty()) return UsageError("probe needs at least one file", &command);
      return RunProbe(operands);
    case kList: {
      if (operands.empty()) return UsageError("list needs a dump", &command);
      ListOptions options;
      options.dump = operands[0];
      options.json = args.Has(kJson);
      options.patterns = selection;
      options.excludes = args.excludes;
      return RunList(options);
    }
    case kExtract: {
      if (operands.empty()) return UsageError("extract needs a dump", &command);
      ExtractOptions options;
      options.dump = operands[0];
      options.outputDir = args.output.value_or(".");
      options.overwrite = args.Has(kOverwrite);
      options.keep = args.Has(kKeep);
      options.toStdout = args.Has(kStdout);
      options.quiet = args.Has(kQuiet);
      options.verbose = args.Has(kVerbose);
      options.patterns = selection;
      options.excludes = args.excludes;
      return OpenErrorsAsUsage(RunExtract(options));
    }
    case kTest: {
      if (operands.empty()) return UsageError("test needs a dump", &command);
      TestOptions options;
      options.dump = operands[0];
      options.quiet = args.Has(kQuiet);
      options.patterns = selection;
      options.excludes = args.excludes;
      return OpenErrorsAsUsage(RunTest(options));
    }
    case kInfo: {
      if (operands.size() != 1) return UsageError("info needs exactly one dump", &command);
      InfoOptions options;
      options.dump = operands[0];
      options.json = args.Has(kJson);
      options.verbose = args.Has(kVerbose);
      return RunInfo(options);
    }
  }
  return kExitUsage;
}

int Run(int argc, char **argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const std::string_view name = argv[1];
  if (name == "-h" || name == "--help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (name == "help") {
    if (argc == 2) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    const CommandSpec *command = FindCommand(argv[2]);
    if (command == nullptr) return UsageError("unknown command " + std::string(argv[2]));
    if (argc > 3) return UsageError("help takes one command");
    std::fputs(command->help, stdout);
    return kExitOk;
  }
  if (name == "-V" || name == "--version") {
    std::printf("quarn %s\n", QUARN_VERSION);
    return kExitOk;
  }
  const CommandSpec *command = FindCommand(name);
  if (command == nullptr) return UsageError("unknown command " + std::string(name));
  return RunCommand(*command, argc, argv);
}

// Whatever was to go to standard output must have gone: a closed or full
// one is an error, never a silent success. An error already reported (the
// bytes of extract -O) is not reported again.
int CheckOutput(int code) {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return code;
  if (code == kExitOutput) return code;
  const int error = errno;
  PrintError(std::string("cannot write to standard output") +
             (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
  return code == kExitOk || code == kExitSomeFailed ? kExitOutput : code;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    ReserveStandardStreams();
    return CheckOutput(Run(argc, argv));
  } catch (const std::exception &error) {
    PrintError(error.what());
    return CheckOutput(kExitSomeFailed);
  } catch (...) {
    PrintError("unexpected error");
    return CheckOutput(kExitSomeFailed);
  }
}
