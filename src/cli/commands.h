// The command's subcommands. Each returns the process's exit code (ExitCode
// in archive.h) and reports problems on stderr.
#ifndef QUARN_CLI_COMMANDS_H
#define QUARN_CLI_COMMANDS_H

#include <string>
#include <vector>

namespace quarn::cli {

int RunProbe(const std::vector<std::string> &files);
int RunList(const std::string &dump, bool json);

struct ExtractOptions {
  std::string dump;
  std::string outputDir = ".";
  bool overwrite = false;
  std::vector<std::string> patterns;  // none: everything
};
int RunExtract(const ExtractOptions &options);

int RunTest(const std::string &dump);

}  // namespace quarn::cli

#endif
