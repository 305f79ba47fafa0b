// The command line of `quarn COMMAND ...`: the commands and their help,
// the options each takes (short, long, bundled, with values), and the
// combinations that make no sense.
#ifndef QUARN_CLI_COMMAND_LINE_H
#define QUARN_CLI_COMMAND_LINE_H

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace quarn::cli {

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

// The command of that name, or none.
const CommandSpec *FindCommand(std::string_view name);

enum OptionId {
  kHelp,
  kJson,
  kOutput,
  kOverwrite,
  kKeep,
  kStdout,
  kQuiet,
  kVerbose,
  kExclude,
  kDeleted
};
constexpr std::size_t kOptionCount = kDeleted + 1;

// The command line after the command's name, as the subcommands read it.
struct Options {
  std::vector<std::string> operands;
  std::string dump;                   // the first operand
  std::vector<std::string> patterns;  // the others; none: everything
  std::vector<std::string> excludes;
  std::string outputDir = ".";
  std::array<std::string, kOptionCount> given;  // how each option was spelt; empty: not given

  bool Has(OptionId id) const { return !given[id].empty(); }
};

// Reads argv[2...] for `command`; an error message, or an empty string.
std::string ParseArguments(const CommandSpec &command, int argc, char **argv, Options &args);
// Options that make no sense together; an empty string when none are given.
std::string Contradiction(const Options &args);
// Whether -h or --help comes before "--": then the command's help is all
// that is asked.
bool AsksForHelp(int argc, char **argv);

}  // namespace quarn::cli

#endif
