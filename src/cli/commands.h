// The command's subcommands. Each returns the process's exit code (ExitCode
// in archive.h) and reports problems on stderr.
#ifndef QUARN_CLI_COMMANDS_H
#define QUARN_CLI_COMMANDS_H

#include <string>
#include <vector>

#include "cli/command_line.h"

namespace quarn::cli {

int RunProbe(const std::vector<std::string> &files);

int RunList(const Options &options);
int RunExtract(const Options &options);
int RunTest(const Options &options);
int RunInfo(const Options &options);

}  // namespace quarn::cli

#endif
