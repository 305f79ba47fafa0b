// quarn: lists, tests and extracts Siemens flash dumps through the plugin's
// WCX exports, as a file manager does.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/archive.h"
#include "cli/commands.h"

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
    "  probe FILE...        tell for each FILE whether it is a Siemens flash dump\n"
    "  list [--json] DUMP   list the entries of DUMP (--json: one JSON object a line)\n"
    "  extract DUMP [-o DIR] [--overwrite] [PATH|GLOB...]\n"
    "                       extract every entry, or the selected ones, into DIR\n"
    "  test DUMP            have the plugin test every entry of DUMP\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR     folder to extract into (default: the current folder)\n"
    "      --overwrite      replace files that exist already (default: keep them\n"
    "                       and report each one as failed)\n"
    "      --json           list as JSON Lines\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the version\n"
    "\n"
    "Selecting entries: a PATH selects that entry and everything below it; a GLOB\n"
    "is matched against whole paths: '*' is any run of characters, '?' one\n"
    "character, [abc], [a-z] and [!a-z] one character of a set; '*' and '?' do\n"
    "not match '/'. Separators are '/' (on Windows also '\\').\n"
    "\n"
    "Exit codes:\n"
    "  0    success\n"
    "  1    some entries failed, a PATH or GLOB matched nothing, or the output\n"
    "       folder cannot be made (each is named on stderr); probe: some files\n"
    "       are not dumps\n"
    "  2    usage error; extract and test: also a dump that cannot be opened\n"
    "  3    probe, list: the file does not exist\n"
    "  4    probe, list: the file cannot be opened or read\n"
    "  5    probe, list: the file is a folder\n"
    "  6    probe, list: not enough memory to load the dump\n"
    "  7    standard output cannot be written (closed, or the disk is full)\n"
    "  130  interrupted (Ctrl+C)\n";

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

int UsageError(const std::string &message) {
  PrintError(message);
  std::fprintf(stderr, "Try 'quarn --help'.\n");
  return kExitUsage;
}

// The command line after the command's name: options anywhere, "--" ends
// them.
struct Arguments {
  std::vector<std::string> operands;
  bool json = false;
  bool overwrite = false;
  bool outputGiven = false;
  std::string output = ".";
};

// Returns an error message, or an empty string.
std::string Parse(int argc, char **argv, Arguments &args) {
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      args.operands.emplace_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--json") {
      args.json = true;
    } else if (arg == "--overwrite") {
      args.overwrite = true;
    } else if (arg == "-o" || arg == "--output") {
      if (i + 1 >= argc) return std::string(arg) + " needs a folder";
      args.output = argv[++i];
      args.outputGiven = true;
    } else if (arg.starts_with("--output=")) {
      args.output = arg.substr(std::strlen("--output="));
      args.outputGiven = true;
    } else if (arg.starts_with("-o")) {
      args.output = arg.substr(2);
      args.outputGiven = true;
    } else {
      return "unknown option " + std::string(arg);
    }
    if (args.outputGiven && args.output.empty()) return "the output folder name is empty";
  }
  return {};
}

int Run(int argc, char **argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const std::string_view command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "-V" || command == "--version") {
    std::printf("quarn %s\n", QUARN_VERSION);
    return kExitOk;
  }

  Arguments args;
  if (const std::string error = Parse(argc, argv, args); !error.empty()) return UsageError(error);
  // Options that the command takes; any other one is a usage error.
  const auto refuse = [&](bool json, bool overwrite, bool output) {
    const char *option = args.json && !json             ? "--json"
                         : args.overwrite && !overwrite ? "--overwrite"
                         : args.outputGiven && !output  ? "-o"
                                                        : nullptr;
    if (option == nullptr) return false;
    UsageError(std::string(option) + " does not apply to " + std::string(command));
    return true;
  };

  if (command == "probe") {
    if (refuse(false, false, false)) return kExitUsage;
    if (args.operands.empty()) return UsageError("probe needs at least one file");
    return RunProbe(args.operands);
  }
  if (command == "list") {
    if (refuse(true, false, false)) return kExitUsage;
    if (args.operands.size() != 1) return UsageError("list needs exactly one dump");
    return RunList(args.operands[0], args.json);
  }
  if (command == "extract") {
    if (refuse(false, true, true)) return kExitUsage;
    if (args.operands.empty()) return UsageError("extract needs a dump");
    ExtractOptions options;
    options.dump = args.operands[0];
    options.outputDir = args.output;
    options.overwrite = args.overwrite;
    options.patterns.assign(args.operands.begin() + 1, args.operands.end());
    return OpenErrorsAsUsage(RunExtract(options));
  }
  if (command == "test") {
    if (refuse(false, false, false)) return kExitUsage;
    if (args.operands.size() != 1) return UsageError("test needs exactly one dump");
    return OpenErrorsAsUsage(RunTest(args.operands[0]));
  }
  return UsageError("unknown command " + std::string(command));
}

// Whatever was to go to standard output must have gone: a closed or full
// one is an error, never a silent success.
int CheckOutput(int code) {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return code;
  const int error = errno;
  PrintError(std::string("cannot write to standard output") +
             (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
  return code == kExitOk || code == kExitSomeFailed ? kExitOutput : code;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return CheckOutput(Run(argc, argv));
  } catch (const std::exception &error) {
    PrintError(error.what());
    return CheckOutput(kExitSomeFailed);
  }
}
