#include "cli/command_line.h"

#include <optional>

namespace quarn::cli {

namespace {

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
     "      --deleted        also the deleted files the flash still holds, under\n"
     "                       DISK/Deleted (and the disks a damaged partition\n"
     "                       record hides)\n"
     "  -x, --exclude GLOB   leave out what GLOB matches (repeatable)\n"
     "  -h, --help           show this help\n"
     "\n"
     "Examples:\n"
     "  quarn list dump.bin\n"
     "  quarn list dump.bin FFS/Pictures '*.BIN'\n"
     "  quarn list --deleted dump.bin '*/Deleted'\n"
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
     "      --deleted        also the deleted files the flash still holds, under\n"
     "                       DISK/Deleted (and the disks a damaged partition\n"
     "                       record hides)\n"
     "  -x, --exclude GLOB   leave out what GLOB matches (repeatable)\n"
     "  -q, --quiet          report errors only\n"
     "  -v, --verbose        name each file as it is written\n"
     "  -h, --help           show this help\n"
     "\n"
     "Examples:\n"
     "  quarn extract dump.bin -o out\n"
     "  quarn extract dump.bin -C out -k 'FFS/Pictures/*.jpg'\n"
     "  quarn extract dump.bin -O FFS/Docs/notes.txt | less\n"
     "  quarn extract dump.bin -o out -x LostBlocks -x '*.BIN'\n"
     "  quarn extract --deleted dump.bin -o recovered 'FFS/Deleted'\n"},
    {kTest, "test",
     "Usage: quarn test DUMP [options] [PATH|GLOB...]\n"
     "\n"
     "Has the plugin test every entry of DUMP, or the selected ones, as extraction\n"
     "would find them, and names each bad one with its reason.\n"
     "\n"
     "Options:\n"
     "      --deleted        also the deleted files the flash still holds, under\n"
     "                       DISK/Deleted (and the disks a damaged partition\n"
     "                       record hides)\n"
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
     "blocks and lost chunks; its flash: the bytes of live chunks, of dead ones\n"
     "(what deleted files left) and unwritten; and every damage found, with\n"
     "where it lies.\n"
     "\n"
     "Options:\n"
     "      --json           the report as one JSON object\n"
     "      --deleted        also rebuild the deleted files and count them, under\n"
     "                       DISK/Deleted (and the disks a damaged partition\n"
     "                       record hides)\n"
     "  -v, --verbose        every damage and block run (default: the first ones)\n"
     "  -h, --help           show this help\n"
     "\n"
     "Examples:\n"
     "  quarn info dump.bin\n"
     "  quarn info --json dump.bin | jq '.disks[] | {name, holds, damage}'\n"},
};

}  // namespace

const CommandSpec *FindCommand(std::string_view name) {
  for (const CommandSpec &command : kCommands)
    if (name == command.name) return &command;
  return nullptr;
}

namespace {

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
    {kDeleted, 0, {"deleted", ""}, false, kList | kExtract | kTest | kInfo, nullptr},
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

class Parser {
 public:
  Parser(const CommandSpec &command, int argc, char **argv)
      : command_(command), argc_(argc), argv_(argv) {}

  // Returns an error message, or an empty string.
  std::string Parse(Options &args) {
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
  std::string Long(std::string_view arg, Options &args) {
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

  std::string Short(std::string_view arg, Options &args) {
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
                   std::optional<std::string> value, Options &args) {
    if ((option.commands & command_.id) == 0)
      return spelling + " does not apply to " + command_.name;
    if (option.takesValue && !value) {
      if (i_ + 1 >= argc_) return spelling + " needs " + option.valueName;
      value = argv_[++i_];
    }
    if (option.id == kOutput) {
      if (args.Has(kOutput))
        return "the output folder is given twice (" + args.given[kOutput] + " and " + spelling +
               ")";
      if (value->empty()) return "the output folder name is empty";
      args.outputDir = *value;
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

}  // namespace

std::string ParseArguments(const CommandSpec &command, int argc, char **argv, Options &args) {
  return Parser(command, argc, argv).Parse(args);
}

std::string Contradiction(const Options &args) {
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

bool AsksForHelp(int argc, char **argv) {
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") return false;
    if (arg == "-h" || arg == "--help") return true;
  }
  return false;
}

}  // namespace quarn::cli
