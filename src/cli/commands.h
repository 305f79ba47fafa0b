// The command's subcommands. Each returns the process's exit code (ExitCode
// in archive.h) and reports problems on stderr.
#ifndef QUARN_CLI_COMMANDS_H
#define QUARN_CLI_COMMANDS_H

#include <string>
#include <vector>

namespace quarn::cli {

int RunProbe(const std::vector<std::string> &files);

// What the command line asks of a subcommand; each reads what applies to it.
struct Options {
  std::string dump;
  std::vector<std::string> patterns;  // none: everything
  std::vector<std::string> excludes;
  bool json = false;
  bool quiet = false;    // errors only
  bool verbose = false;  // extract: each path as it is written; info: every damage
  std::string outputDir = ".";
  bool overwrite = false;  // extract: replace files that exist
  bool keep = false;       // extract: leave them, counted as skipped
  bool toStdout = false;   // extract: the files' bytes to standard output, nothing on disk
  bool deleted = false;    // the deleted view: each disk's Deleted folder
};
int RunList(const Options &options);
int RunExtract(const Options &options);
int RunTest(const Options &options);
int RunInfo(const Options &options);

}  // namespace quarn::cli

#endif
