#include <cstdio>

#include "cli/archive.h"
#include "cli/commands.h"

namespace quarn::cli {

int RunProbe(const std::vector<std::string> &files) {
  ExitCode firstProblem = kExitOk;
  bool someAreNotDumps = false;
  for (const std::string &file : files) {
    const InputProblem problem = CheckInputFile(file);
    if (problem.code != kExitOk) {
      PrintError(problem.message);
      if (firstProblem == kExitOk) firstProblem = problem.code;
      continue;
    }
    const DumpVerdict verdict = JudgeDump(file);
    std::printf("%s: %s\n", file.c_str(), verdict.reason.c_str());
    if (!verdict.isDump) someAreNotDumps = true;
  }
  if (firstProblem != kExitOk) return firstProblem;
  return someAreNotDumps ? kExitSomeFailed : kExitOk;
}

}  // namespace quarn::cli
