#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <unordered_set>

#include "cli/archive.h"
#include "cli/commands.h"
#include "cli/os.h"
#include "cli/progress.h"
#include "cli/safe_path.h"
#include "cli/selection.h"

namespace quarn::cli {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string WithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != kSeparator) folder += kSeparator;
  return folder;
}

// `path` lies in `root` or below; both are absolute and free of symbolic
// links, "." and "..".
bool IsInside(const fs::path &root, const fs::path &path) {
  auto r = root.begin(), p = path.begin();
  for (; r != root.end(); ++r, ++p) {
    // A trailing separator shows up as an empty last element.
    if (r->empty() && std::next(r) == root.end()) break;
    if (p == path.end() || *r != *p) return false;
  }
  return true;
}

class Extraction {
 public:
  Extraction(const Options &options, const fs::path &root, std::uint64_t totalBytes)
      : options_(options),
        root_(root),
        rootText_(WithSeparator(Utf8FromPath(root))),
        progress_(totalBytes, StderrIsTerminal() && !options.Has(kQuiet)) {}

  // Returns the exit code.
  int Run(HostArchive &archive, Selection &selection);

 private:
  // Handles one selected entry; false when the run must stop (Ctrl+C).
  bool ExtractEntry(HostArchive &archive, const Entry &entry);
  // Makes the folder that will hold `target` and clears the way for the
  // file; returns why not, or an empty string. Sets `skip` when the file
  // exists and is to be kept (--keep).
  std::string PrepareFileTarget(const fs::path &target, bool &skip);
  void Fail(const Entry &entry, const std::string &reason);
  void Report(const std::string &message);
  // -v: the path as it is written, below the output folder.
  void Tell(const std::string &path);

  const Options &options_;
  fs::path root_;
  std::string rootText_;  // with a trailing separator
  ProgressBar progress_;
  std::size_t files_ = 0, folders_ = 0, failures_ = 0, skipped_ = 0;
  std::uint64_t bytes_ = 0;
  std::unordered_set<fs::path::string_type> readyFolders_;  // checked and made
};

void Extraction::Report(const std::string &message) {
  progress_.Clear();
  PrintError(message);
}

void Extraction::Tell(const std::string &path) {
  if (!options_.Has(kVerbose)) return;
  progress_.Clear();
  std::printf("%s\n", DisplayPath(path).c_str());
  std::fflush(stdout);
}

void Extraction::Fail(const Entry &entry, const std::string &reason) {
  Report(DisplayPath(entry.path) + ": " + reason);
  ++failures_;
}

std::string Extraction::PrepareFileTarget(const fs::path &target, bool &skip) {
  skip = false;
  std::error_code error;
  const fs::path folder = target.parent_path();
  // A symbolic link already in the output tree must not carry the file out
  // of it: resolve what exists of the folder path before creating anything.
  // A folder this run has checked and made needs no second look.
  if (readyFolders_.count(folder.native()) == 0) {
    const fs::path resolved = fs::weakly_canonical(folder, error);
    if (error || !IsInside(root_, resolved)) {
      return "refused: its folder leads outside the output folder (symbolic link?)";
    }
    fs::create_directories(folder, error);
    if (error) return "cannot create folder " + Utf8FromPath(folder) + ": " + error.message();
    readyFolders_.insert(folder.native());
  }

  const fs::file_status status = fs::symlink_status(target, error);
  if (status.type() == fs::file_type::not_found) return {};
  if (fs::is_directory(status)) return "cannot create file: a folder of that name is in the way";
  if (options_.Has(kKeep)) {
    skip = true;
    return {};
  }
  if (!options_.Has(kOverwrite)) return "exists, not overwritten (use --overwrite or --keep)";
  // Removed rather than written over: the plugin writes from the start of
  // an existing file, and a link in its place would be followed.
  fs::remove(target, error);
  if (error) return "cannot replace the existing file: " + error.message();
  return {};
}

bool Extraction::ExtractEntry(HostArchive &archive, const Entry &entry) {
  const SafePath safe = MakeSafePath(entry.path, NativePathStyle());
  if (safe.renamed && !options_.Has(kQuiet))
    Report("renamed: " + DisplayPath(entry.path) + " -> " + DisplayPath(safe.path));
  const fs::path target = root_ / PathFromUtf8(safe.path);

  if (entry.directory) {
    // Directories are the host's to create; the plugin is only told to skip.
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(target, error);
    if (error || !IsInside(root_, resolved)) {
      Fail(entry, "refused: it leads outside the output folder (symbolic link?)");
    } else if (fs::create_directories(target, error); error) {
      Fail(entry, "cannot create folder: " + error.message());
    } else {
      Tell(safe.path + kSeparator);
      ++folders_;
    }
    return true;
  }

  bool skip = false;
  std::string problem = PrepareFileTarget(target, skip);
  if (skip) {
    ++skipped_;
    return true;
  }
  if (!problem.empty()) {
    Fail(entry, problem);
    return true;
  }
  Tell(safe.path);
  progress_.StartFile(entry.path, entry.size);
  const int result = archive.Process(PK_EXTRACT, rootText_ + safe.path);
#ifndef _WIN32
  // Read-only as the entry is, once its bytes and times are set.
  if (entry.readOnly && (result == E_SUCCESS || result == E_BAD_DATA)) {
    std::error_code error;
    fs::permissions(target,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, error);
    if (error) {
      progress_.FinishFile();
      Fail(entry, "cannot make it read-only: " + error.message());
      return true;
    }
  }
#endif
  if (result == E_SUCCESS) {
    progress_.FinishFile();
    ++files_;
    bytes_ += entry.size;
    return true;
  }
  if (result == E_EABORTED && InterruptRequested()) {
    Report("interrupted: " + DisplayPath(Utf8FromPath(target)) + " is incomplete");
    return false;
  }
  progress_.FinishFile();
  // The plugin makes the file; where it could not, the system's reason is
  // found by trying once more.
  const std::string system = result == E_ECREATE ? CreateFileProblem(target) : std::string();
  Fail(entry, system.empty() ? archive.Why(result) : "cannot create file: " + system);
  return true;
}

int Extraction::Run(HostArchive &archive, Selection &selection) {
  SetProgressSink(&progress_);
  const WalkEnd end = archive.Walk(
      selection, [this, &archive](const Entry &entry) { return ExtractEntry(archive, entry); });
  SetProgressSink(nullptr);
  progress_.Clear();
  if (end.stopped) return kExitInterrupted;
  failures_ += ReportEnd(end, options_.dump);
  if (end.interrupted) return kExitInterrupted;
  if (!options_.Has(kQuiet)) {
    PrintSummary(failures_, folders_, files_, bytes_);
    if (skipped_ > 0) std::printf("Skipped: %zu (they exist)\n", skipped_);
  }
  return failures_ == 0 ? kExitOk : kExitSomeFailed;
}

// extract -O: the selected files' bytes, one after another in listing
// order, to standard output and nothing else there; as extraction writes
// them (the core hands over the same pieces), so a file that extraction
// would find bad gives the bytes extraction would write, and is named on
// stderr.
int ExtractToStdout(const Options &options) {
  int exitCode = kExitOk;
  std::unique_ptr<HostArchive> archive =
      HostArchive::Open(options.dump, PK_OM_LIST, exitCode, !options.Has(kQuiet));
  if (!archive) return exitCode;
  CatchInterrupt();
  PrepareStdoutForBytes();
  Selection selection(options.patterns, NativePathStyle(), options.excludes);

  std::size_t failures = 0;
  std::string writeError;
  const auto write = [&writeError](const std::uint8_t *bytes, std::size_t length) {
    if (InterruptRequested()) return false;
    writeError = WriteToStdout(bytes, length);
    return writeError.empty();
  };
  int code = kExitOk;
  const WalkEnd end = archive->Walk(selection, [&](const Entry &entry) {
    if (entry.directory) return true;
    if (options.Has(kVerbose)) std::fprintf(stderr, "%s\n", DisplayPath(entry.path).c_str());
    const int result = archive->Inspector().WriteCurrent(write);
    if (InterruptRequested()) {
      PrintError("interrupted: " + DisplayPath(entry.path) + " is incomplete");
      code = kExitInterrupted;
    } else if (result == E_EWRITE) {
      PrintError("cannot write to standard output: " + writeError);
      code = kExitOutput;
    } else if (result != E_SUCCESS) {
      PrintError(DisplayPath(entry.path) + ": " + archive->Why(result));
      ++failures;
    }
    return code == kExitOk;
  });
  if (end.stopped) return code;
  failures += ReportEnd(end, options.dump);
  if (end.interrupted) return kExitInterrupted;
  failures += ReportUnmatched(selection, options.dump);
  return failures == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace

int RunExtract(const Options &options) {
  if (options.Has(kStdout)) return ExtractToStdout(options);
  // First a listing pass, as a file manager lists before it extracts: it
  // gives the progress display its total and finds patterns that match
  // nothing before anything is written. With neither a display nor a
  // selection it would find nothing to act on, and the dump is read only
  // once.
  Selection selection(options.patterns, NativePathStyle(), options.excludes);
  std::uint64_t bytes = 0;  // what was asked for, found before anything is written
  std::size_t entries = 0;
  const bool progress = StderrIsTerminal() && !options.Has(kQuiet);
  // A pipe can be read only once: it is extracted in one pass.
  const bool planned = (!selection.SelectsAll() || progress) && !IsStream(options.dump);
  std::unique_ptr<HostArchive> archive;
  int exitCode = kExitOk;
  if (planned) {
    std::unique_ptr<HostArchive> listing =
        HostArchive::Open(options.dump, PK_OM_LIST, exitCode, !options.Has(kQuiet));
    if (!listing) return exitCode;
    listing->Walk(selection, [&bytes, &entries](const Entry &entry) {
      ++entries;
      if (!entry.directory) bytes += entry.size;
      return true;
    });
  } else {
    // Opened for extraction right away; its first entry tells whether there
    // is anything to extract before the output folder is made.
    archive = HostArchive::Open(options.dump, PK_OM_EXTRACT, exitCode, !options.Has(kQuiet));
    if (!archive) return exitCode;
    entries = archive->Empty() ? 0 : 1;
  }
  // Patterns that matched nothing are told before anything is written, when
  // a listing pass came first; after the extraction otherwise.
  const bool someUnmatched = planned && ReportUnmatched(selection, options.dump) > 0;
  if (entries == 0) {
    if (!options.Has(kQuiet)) std::printf("No files to extract\n");
    return someUnmatched ? kExitSomeFailed : kExitOk;
  }

  std::error_code error;
  const fs::path requested = PathFromUtf8(options.outputDir);
  fs::create_directories(requested, error);
  const fs::path root = error ? fs::path() : fs::canonical(requested, error);
  if (error) {
    PrintError(options.outputDir + ": cannot create the output folder: " + error.message());
    return kExitSomeFailed;
  }

  if (planned) {
    archive = HostArchive::Open(options.dump, PK_OM_EXTRACT, exitCode, false);
    if (!archive) return exitCode;
  }
  CatchInterrupt();
  Extraction extraction(options, root, bytes);
  const int code = extraction.Run(*archive, selection);
  // Closing lets the plugin stamp the folders that this extraction created.
  archive.reset();
  const bool unmatchedAfter = !planned && ReportUnmatched(selection, options.dump) > 0;
  return code == kExitOk && (someUnmatched || unmatchedAfter) ? kExitSomeFailed : code;
}

}  // namespace quarn::cli
