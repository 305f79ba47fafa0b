// quarn: lists, tests and extracts Siemens flash dumps through the plugin's
// WCX exports, as a file manager does.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/archive.h"
#include "cli/build_version.h"  // written at build time: QUARN_VERSION, QUARN_COMMIT
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/os.h"
#include "plugin/settings.h"
#include "util/utf8.h"

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
    "  version                     show the version and the commit it was built from\n"
    "\n"
    "'quarn COMMAND --help' (or 'quarn help COMMAND') shows a command's options.\n"
    "Options may come anywhere after the command; '--' ends them.\n"
    "  -h, --help           show the help\n"
    "  -V, --version        show the version (in place of a command)\n"
    "      --deleted        (list, extract, test, info) also the deleted files the\n"
    "                       flash still holds, under DISK/Deleted\n"
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

int RunCommand(const CommandSpec &command, int argc, char **argv) {
  if (AsksForHelp(argc, argv)) {
    std::fputs(command.help, stdout);
    return kExitOk;
  }
  Options options;
  if (const std::string error = ParseArguments(command, argc, argv, options); !error.empty())
    return UsageError(error, &command);
  if (const std::string error = Contradiction(options); !error.empty())
    return UsageError(error, &command);
  const std::vector<std::string> &operands = options.operands;
  if (!operands.empty()) {
    options.dump = operands[0];
    options.patterns.assign(operands.begin() + 1, operands.end());
  }
  // The command asks the core itself; no settings file is read. It reads
  // the dump through a view of the file, and a dump cut meanwhile ends it
  // as a read error (extract and test: some entries failed).
  quarn::SetSettingsOverride(
      quarn::TSettings{.ShowDeleted = options.Has(kDeleted), .MapDump = true});
  if (command.id != kProbe)
    CatchCutDump(options.dump, command.id & (kExtract | kTest) ? kExitSomeFailed : kExitUnreadable);
  const std::string needs = std::string(command.name) + " needs a dump";
  switch (command.id) {
    case kProbe:
      if (operands.empty()) return UsageError("probe needs at least one file", &command);
      return RunProbe(operands);
    case kList:
      return operands.empty() ? UsageError(needs, &command) : RunList(options);
    case kExtract:
      return operands.empty() ? UsageError(needs, &command)
                              : OpenErrorsAsUsage(RunExtract(options));
    case kTest:
      return operands.empty() ? UsageError(needs, &command) : OpenErrorsAsUsage(RunTest(options));
    case kInfo:
      if (operands.size() != 1) return UsageError("info needs exactly one dump", &command);
      return RunInfo(options);
  }
  return kExitUsage;
}

int Run(int argc, char **argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const std::string_view name = argv[1];
  if (name == "-h" || name == "--help" || (name == "help" && argc == 2)) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (name == "help") {
    const CommandSpec *command = FindCommand(argv[2]);
    if (command == nullptr) return UsageError("unknown command " + std::string(argv[2]));
    if (argc > 3) return UsageError("help takes one command");
    std::fputs(command->help, stdout);
    return kExitOk;
  }
  if (name == "version" || name == "-V" || name == "--version") {
    if (argc > 2) return UsageError(std::string(name) + " takes no arguments");
    // "quarn VERSION" first, as scripts read it; the commit where the build
    // knew it.
    std::printf("quarn %s", QUARN_VERSION);
    if (QUARN_COMMIT[0] != '\0') std::printf(" (commit %s)", QUARN_COMMIT);
    std::printf("\n");
    return kExitOk;
  }
  // "quarn --deleted list ...": the view may be asked for before the
  // command too, and is then taken as the command's option.
  if (name == "--deleted" && argc > 2) {
    std::swap(argv[1], argv[2]);
    return Run(argc, argv);
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

static int Main(int argc, char **argv) {
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

#ifdef _WIN32
// The arguments as Windows keeps them, in UTF-16, become the UTF-8 text the
// command works in.
int wmain(int argc, wchar_t **wideArgs) {
  std::vector<std::string> args;
  std::vector<char *> argv;
  for (int i = 0; i < argc; ++i)
    args.push_back(quarn::Utf8FromUtf16(reinterpret_cast<const char16_t *>(wideArgs[i])));
  for (std::string &arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return Main(argc, argv.data());
}
#else
int main(int argc, char **argv) { return Main(argc, argv); }
#endif
