#include <cstdio>

#include "cli/archive.h"
#include "cli/commands.h"
#include "cli/os.h"
#include "cli/selection.h"

namespace quarn::cli {

int RunTest(const TestOptions &options) {
  // Opened for listing: testing writes nothing, so closing must not touch
  // any folder either.
  int exitCode = kExitOk;
  std::unique_ptr<HostArchive> archive =
      HostArchive::OpenReporting(options.dump, PK_OM_LIST, exitCode);
  if (!archive) return exitCode;
  if (!options.quiet) WarnIfNotDump(options.dump);
  CatchInterrupt();
  Selection selection(options.patterns, NativePathStyle(), options.excludes);

  if (!options.quiet) std::printf("Testing archive: %s\n\n", options.dump.c_str());
  std::size_t files = 0, folders = 0, errors = 0;
  std::uint64_t size = 0;
  Entry entry;
  int next;
  bool interrupted = false;
  while ((next = archive->Next(entry)) == E_SUCCESS) {
    if (InterruptRequested()) {
      interrupted = true;
      break;
    }
    if (!selection.Selects(entry.path)) {
      archive->Skip();
      continue;
    }
    const int result = archive->Test();
    if (result != E_SUCCESS) {
      const std::string problem = archive->Problem();
      PrintError(DisplayPath(entry.path) + ": " +
                 (problem.empty() ? ResultMessage(result) : problem));
      ++errors;
    } else if (entry.directory) {
      ++folders;
    } else {
      ++files;
      size += entry.size;
    }
  }
  archive.reset();

  if (interrupted) {
    PrintError("interrupted");
    return kExitInterrupted;
  }
  if (next != E_END_ARCHIVE) {
    PrintError(options.dump + ": the listing stopped early: " + ResultMessage(next));
    ++errors;
  }
  for (const std::string &pattern : selection.Unmatched()) {
    PrintError(pattern + ": no such entry in " + options.dump);
    ++errors;
  }
  if (options.quiet) return errors == 0 ? kExitOk : kExitSomeFailed;
  PrintSummary(errors, folders, files, size);
  return errors == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace quarn::cli
