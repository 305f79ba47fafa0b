// The command's side of the plugin boundary: it opens, reads and closes a dump
// through the WCX exports only, in the order a file manager calls them.
#ifndef QUARN_CLI_ARCHIVE_H
#define QUARN_CLI_ARCHIVE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/entry.h"
#include "cli/selection.h"
#include "wcxhead.h"

namespace quarn::cli {

class ProgressBar;

// Exit codes of the command.
enum ExitCode : int {
  kExitOk = 0,
  kExitSomeFailed = 1,    // some files are not dumps / some entries failed
  kExitUsage = 2,         // bad command line
  kExitNotFound = 3,      // the dump (or a probed file) does not exist
  kExitUnreadable = 4,    // it cannot be opened or read
  kExitIsDirectory = 5,   // it is a directory
  kExitNoMemory = 6,      // not enough memory to load the dump
  kExitOutput = 7,        // standard output cannot be written (closed, or the disk is full)
  kExitInterrupted = 130  // Ctrl+C
};

// Writes "quarn: <message>" to stderr.
void PrintError(const std::string &message);

// The closing lines of extract and test, as 7-Zip writes them: "Everything
// is Ok" only when nothing failed, then the counts.
void PrintSummary(std::size_t errors, std::size_t folders, std::size_t files, std::uint64_t bytes);

// How a walk over the selected entries ended.
struct WalkEnd {
  int result = E_END_ARCHIVE;  // the answer that ended the listing; E_END_ARCHIVE at its end
  bool interrupted = false;    // Ctrl+C between two entries
  bool stopped = false;        // the visitor asked to stop
};
// The end of a walk on stderr: "interrupted", or "DUMP: the listing stopped
// early: REASON" when the listing failed. Returns the failures it told.
std::size_t ReportEnd(const WalkEnd &end, const std::string &dump);

// What the dump as a whole holds that no entry's test tells: an input that
// is not a whole dump, and disks that a damaged partition record hides from
// the listing. One line each; none for a sound dump.
std::vector<std::string> DumpProblems(const TDumpFacts &facts);
// What the reader found and listed where it could, which is no failure: a
// disk without its root folder, files and folders in a disk's LostFiles,
// and in the deleted view what its Deleted folder holds.
std::vector<std::string> DumpFindings(const TDumpFacts &facts);
// "PATTERN: no such entry in DUMP" for each pattern that selected nothing;
// returns how many.
std::size_t ReportUnmatched(const Selection &selection, const std::string &dump);

// One open dump. OpenArchive on construction, CloseArchive on destruction.
class HostArchive {
 public:
  // Checks the file, then opens it in `openMode` (PK_OM_LIST or
  // PK_OM_EXTRACT). On failure returns null, with the problem told on stderr
  // and its exit code in `exitCode`. With `warn`, says so on stderr when
  // the file is no dump: the plugin opens any file.
  static std::unique_ptr<HostArchive> Open(const std::string &path, int openMode, int &exitCode,
                                           bool warn);
  ~HostArchive();
  HostArchive(const HostArchive &) = delete;
  HostArchive &operator=(const HostArchive &) = delete;

  // The one pass every command makes, as a host walks a listing: a header,
  // then ProcessFile once for it. `visit` gets each entry `selection`
  // selects and may test or extract it (at most once); what it leaves alone,
  // and every entry not selected, is skipped. It answers false to stop the
  // walk; Ctrl+C stops it between two entries.
  WalkEnd Walk(Selection &selection, const std::function<bool(const Entry &)> &visit);
  // Whether the listing has no entry at all; reads the first one ahead.
  bool Empty();

  // ProcessFile on the entry the walk handed over last: PK_SKIP or PK_TEST;
  // PK_EXTRACT to a UTF-8 path.
  int Process(int operation, const std::string &targetPath = {});
  // What `result`, a failure of the entry the walk handed over last, means:
  // for bad data the core's reason ("incomplete: the chain ends at a missing
  // part"), else what the result code means ("write error (disk full?)").
  std::string Why(int result) const;

  // What the core knows beyond the records (plugin/inspect.h), of the
  // entry the walk handed over last and of the whole dump.
  const TInspector &Inspector();

 private:
  explicit HostArchive(void *handle)
      : handle_(handle), header_(std::make_unique<tHeaderDataExW>()) {}
  // ReadHeader: 0 with `entry` filled, E_END_ARCHIVE at the end, or an error.
  int Next(Entry &entry);

  void *handle_;
  std::unique_ptr<tHeaderDataExW> header_;  // 5 KiB: filled by every Next
  bool processed_ = true;                   // ProcessFile was called for the last header
  int ahead_ = -1;                          // Next's result read ahead by Empty, or -1
  Entry aheadEntry_;
  std::unique_ptr<TInspector> inspector_;  // made when first asked
};

// The bar the progress callback that every HostArchive installs feeds, or
// null; not owned. The callback returns 0 (abort) once Ctrl+C was pressed.
void SetProgressSink(ProgressBar *bar);

}  // namespace quarn::cli

#endif
