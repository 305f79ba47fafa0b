// The command's subcommands. Each returns the process's exit code (ExitCode
// in archive.h) and reports problems on stderr.
#ifndef QUARN_CLI_COMMANDS_H
#define QUARN_CLI_COMMANDS_H

#include <string>
#include <vector>

namespace quarn::cli {

int RunProbe(const std::vector<std::string> &files);

struct ListOptions {
  std::string dump;
  bool json = false;
  std::vector<std::string> patterns;  // none: everything
  std::vector<std::string> excludes;
};
int RunList(const ListOptions &options);

struct ExtractOptions {
  std::string dump;
  std::string outputDir = ".";
  bool overwrite = false;  // replace files that exist
  bool keep = false;       // leave them, counted as skipped
  bool toStdout = false;   // the files' bytes to standard output, nothing written to disk
  bool quiet = false;      // errors only
  bool verbose = false;    // each path as it is written
  std::vector<std::string> patterns;  // none: everything
  std::vector<std::string> excludes;
};
int RunExtract(const ExtractOptions &options);

struct TestOptions {
  std::string dump;
  bool quiet = false;
  std::vector<std::string> patterns;
  std::vector<std::string> excludes;
};
int RunTest(const TestOptions &options);

struct InfoOptions {
  std::string dump;
  bool json = false;
  bool verbose = false;  // every damage, not only the first of each disk
};
int RunInfo(const InfoOptions &options);

}  // namespace quarn::cli

#endif
