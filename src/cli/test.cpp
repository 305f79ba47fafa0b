#include <cstdio>

#include "cli/archive.h"
#include "cli/commands.h"
#include "cli/os.h"
#include "cli/selection.h"

namespace quarn::cli {

int RunTest(const Options &options) {
  // Opened for listing: testing writes nothing, so closing must not touch
  // any folder either.
  int exitCode = kExitOk;
  std::unique_ptr<HostArchive> archive =
      HostArchive::Open(options.dump, PK_OM_LIST, exitCode, !options.Has(kQuiet));
  if (!archive) return exitCode;
  CatchInterrupt();
  Selection selection(options.patterns, NativePathStyle(), options.excludes);

  if (!options.Has(kQuiet)) std::printf("Testing archive: %s\n\n", options.dump.c_str());
  std::size_t files = 0, folders = 0, errors = 0;
  std::uint64_t size = 0;
  const WalkEnd end = archive->Walk(selection, [&](const Entry &entry) {
    const int result = archive->Process(PK_TEST);
    if (result != E_SUCCESS) {
      PrintError(DisplayPath(entry.path) + ": " + archive->Why(result));
      ++errors;
    } else if (entry.directory) {
      ++folders;
    } else {
      ++files;
      size += entry.size;
    }
    return true;
  });
  const TDumpFacts facts = archive->Inspector().Dump();
  archive.reset();

  errors += ReportEnd(end, options.dump);
  if (end.interrupted) return kExitInterrupted;
  errors += ReportUnmatched(selection, options.dump);
  // The dump as a whole: what the listing cannot show fails the test; what
  // the reader found and listed elsewhere is told.
  for (const std::string &problem : DumpProblems(facts)) {
    PrintError(options.dump + ": " + problem);
    ++errors;
  }
  if (!options.Has(kQuiet)) {
    const std::vector<std::string> findings = DumpFindings(facts);
    for (const std::string &finding : findings)
      std::printf("Found: %s\n", DisplayPath(finding).c_str());
    if (!findings.empty()) std::printf("\n");
    PrintSummary(errors, folders, files, size);
  }
  return errors == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace quarn::cli
