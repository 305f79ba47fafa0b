#include "cli/archive.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/os.h"
#include "cli/progress.h"
#include "flash/dump_format.h"
#include "plugin/inspect.h"
#include "util/utf8.h"

namespace quarn::cli {
namespace {

namespace fs = std::filesystem;

ProgressBar *progressSink = nullptr;

int WCX_CALL OnProgress(char *, int bytes) {
  if (InterruptRequested()) return 0;
  if (progressSink != nullptr && bytes > 0)
    progressSink->Advance(static_cast<std::uint64_t>(bytes));
  return 1;
}

// Dumps are never split into volumes; the callback is there because hosts
// always hand one over.
int WCX_CALL OnChangeVolume(char *, int) { return 0; }

// Whether `path` names a readable regular file, told apart the way the user
// needs it; the plugin itself only knows "cannot open".
struct InputProblem {
  ExitCode code = kExitOk;
  std::string message;  // "<path>: no such file" etc.; empty when fine
};

InputProblem CheckInputFile(const std::string &path) {
  std::error_code error;
  const fs::file_status status = fs::status(PathFromUtf8(path), error);
  if (status.type() == fs::file_type::not_found) return {kExitNotFound, path + ": no such file"};
  if (error) return {kExitUnreadable, path + ": cannot access: " + error.message()};
  if (fs::is_directory(status)) return {kExitIsDirectory, path + ": is a directory"};
  // A pipe is read once, by the plugin: opening it here would take its data.
  if (IsStream(path)) return {};
  std::FILE *file = OpenForReading(path);
  if (file == nullptr) {
    return {kExitUnreadable, path + ": cannot read: " + std::strerror(errno)};
  }
  std::fclose(file);
  return {};
}

// CanYouHandleThisFile's answer with a reason a person can act on.
struct DumpVerdict {
  bool isDump = false;
  std::string reason;  // "Siemens flash dump" or why not
};

DumpVerdict JudgeDump(const std::string &path) {
  std::uint64_t size = 0;
#ifdef _WIN32
  std::u16string name;
  const TRecognition verdict =
      Utf16FromUtf8(path, name) ? RecognisePath(name, size) : TRecognition::Unreadable;
#else
  const TRecognition verdict = RecognisePath(path, size);
#endif
  switch (verdict) {
    case TRecognition::Dump:
      return {true, "Siemens flash dump"};
    case TRecognition::WrongSize:
      return {false, "not a Siemens flash dump (size " + std::to_string(size) +
                         " bytes, expected " + std::to_string(kDumpSize) + ")"};
    case TRecognition::NoSignature:
      return {false, "not a Siemens flash dump (no \"SIEMENS\" signature at offset 544)"};
    case TRecognition::Unreadable:
      break;
  }
  return {false, "not a Siemens flash dump (cannot be read)"};
}

// What a ProcessFile result means, e.g. "write error (disk full?)".
std::string ResultMessage(int result) {
  switch (result) {
    case E_SUCCESS:
      return "ok";
    case E_BAD_DATA:
      return "bad data: the entry is damaged";
    case E_ECREATE:
      return "cannot create file";
    case E_EWRITE:
      return "write error (disk full?)";
    case E_EABORTED:
      return "aborted";
    case E_NOT_SUPPORTED:
      return "operation not supported";
    case E_NO_MEMORY:
      return "not enough memory";
    default:
      return "error " + std::to_string(result);
  }
}

}  // namespace

void PrintError(const std::string &message) {
  std::fprintf(stderr, "quarn: %s\n", message.c_str());
}

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

void PrintSummary(std::size_t errors, std::size_t folders, std::size_t files, std::uint64_t bytes) {
  if (errors == 0) {
    std::printf("Everything is Ok\n\n");
  } else {
    std::printf("Errors: %zu\n\n", errors);
  }
  std::printf("Folders: %zu\nFiles: %zu\nSize: %llu\n", folders, files,
              static_cast<unsigned long long>(bytes));
}

std::unique_ptr<HostArchive> HostArchive::Open(const std::string &path, int openMode, int &exitCode,
                                               bool warn) {
  InputProblem problem = CheckInputFile(path);
  const auto fail = [&problem, &exitCode](InputProblem found) -> std::unique_ptr<HostArchive> {
    if (found.code != kExitOk) problem = std::move(found);
    PrintError(problem.message);
    exitCode = problem.code;
    return nullptr;
  };
  if (problem.code != kExitOk) return fail({});

  // A pipe is opened here first, which waits for a FIFO's writer, and held
  // while the plugin reads it through its descriptor's name.
  std::unique_ptr<HeldStream> held;
  std::string opened = path;
  if (IsStream(path)) {
    held = std::make_unique<HeldStream>(path);
    if (!held->Held()) {
      return fail({kExitUnreadable, path + ": cannot read: " + std::strerror(errno)});
    }
    opened = held->Name();
  }
#ifdef _WIN32
  std::u16string name;
  if (!Utf16FromUtf8(opened, name)) return fail({kExitNotFound, path + ": no such file"});
  tOpenArchiveDataW data{};
  data.ArcName = reinterpret_cast<WCX_WCHAR *>(name.data());
  data.OpenMode = openMode;
  void *handle = OpenArchiveW(&data);
#else
  // A Linux name is bytes, UTF-8 or not: the narrow open takes it as it is.
  std::string name = opened;
  tOpenArchiveData data{};
  data.ArcName = name.data();
  data.OpenMode = openMode;
  void *handle = OpenArchive(&data);
#endif
  if (handle == nullptr) {
    switch (data.OpenResult) {
      case E_NO_MEMORY:
        return fail({kExitNoMemory, path + ": not enough memory to load the dump"});
      case E_EREAD:
        return fail({kExitUnreadable, path + ": read error while loading the dump"});
      case E_EOPEN:
        return fail({kExitUnreadable, path + ": cannot open"});
      default:
        return fail({kExitUnreadable,
                     path + ": cannot open (error " + std::to_string(data.OpenResult) + ")"});
    }
  }
  // The order Double Commander uses: both callbacks right after opening.
  SetChangeVolProc(handle, OnChangeVolume);
  SetProcessDataProc(handle, OnProgress);
  // A pipe's bytes are the plugin's: there is nothing left to judge.
  if (warn && !held) {
    const DumpVerdict verdict = JudgeDump(path);
    if (!verdict.isDump)
      PrintError("warning: " + path + ": " + verdict.reason + "; reading it anyway");
  }
  return std::unique_ptr<HostArchive>(new HostArchive(handle));
}

HostArchive::~HostArchive() {
  inspector_.reset();
  CloseArchive(handle_);
}

const TInspector &HostArchive::Inspector() {
  if (!inspector_) inspector_ = std::make_unique<TInspector>(handle_);
  return *inspector_;
}

int HostArchive::Next(Entry &entry) {
  processed_ = false;
  if (ahead_ >= 0) {
    entry = std::move(aheadEntry_);
    return std::exchange(ahead_, -1);
  }
  // As Double Commander reads it: the whole path in UTF-16, 64-bit sizes.
  // Only the fields up to FileAttr are filled; the rest is never read.
  tHeaderDataExW &header = *header_;
  const int result = ReadHeaderExW(handle_, &header);
  if (result == E_SUCCESS) entry = EntryFromHeader(header);
  return result;
}

bool HostArchive::Empty() {
  if (ahead_ < 0) ahead_ = Next(aheadEntry_);
  return ahead_ == E_END_ARCHIVE;
}

WalkEnd HostArchive::Walk(Selection &selection, const std::function<bool(const Entry &)> &visit) {
  WalkEnd end;
  Entry entry;
  while ((end.result = Next(entry)) == E_SUCCESS) {
    if (InterruptRequested()) {
      end.interrupted = true;
      break;
    }
    if (selection.Selects(entry.path) && !visit(entry)) {
      end.stopped = true;
      break;
    }
    if (!processed_ && (end.result = Process(PK_SKIP)) != E_SUCCESS) break;
  }
  return end;
}

std::vector<std::string> DumpProblems(const TDumpFacts &facts) {
  std::vector<std::string> problems;
  if (facts.Size < kDumpSize)
    problems.push_back("not a whole dump: " + std::to_string(facts.Size) +
                       " bytes, a full dump has " + std::to_string(kDumpSize));
  if (facts.TableDamaged) {
    std::string disks;
    for (const std::string &name : facts.DisksAfterDamage)
      disks += (disks.empty() ? "" : ", ") + name;
    problems.push_back("the partition record at " + Hex(facts.DamagedRecordOffset) +
                       " is damaged: " +
                       (facts.ShowsDeleted ? "the disks after it are listed from their records: "
                                           : "the disks after it are not listed: ") +
                       disks);
  }
  return problems;
}

std::vector<std::string> DumpFindings(const TDumpFacts &facts) {
  std::vector<std::string> findings;
  for (const TDiskFacts &disk : facts.Disks) {
    if (disk.RootPartMissing)
      findings.push_back(disk.ListedAs + ": the root folder is missing; what it held is in " +
                         disk.ListedAs + "/LostFiles");
    if (disk.LostFiles > 0)
      findings.push_back(disk.ListedAs + "/LostFiles: " + std::to_string(disk.LostFiles) +
                         (disk.LostFiles == 1 ? " entry" : " entries") +
                         " whose folder or first parts are gone");
    if (disk.DeletedFiles + disk.DeletedFolders > 0)
      findings.push_back(disk.ListedAs + "/Deleted: " + std::to_string(disk.DeletedFiles) +
                         (disk.DeletedFiles == 1 ? " file" : " files") + " (" +
                         std::to_string(disk.DeletedIncomplete) + " incomplete) and " +
                         std::to_string(disk.DeletedFolders) +
                         (disk.DeletedFolders == 1 ? " folder" : " folders") +
                         " rebuilt from dead descriptors");
  }
  return findings;
}

std::size_t ReportEnd(const WalkEnd &end, const std::string &dump) {
  if (end.interrupted) {
    PrintError("interrupted");
    return 1;
  }
  if (end.stopped || end.result == E_END_ARCHIVE) return 0;
  PrintError(dump + ": the listing stopped early: " + ResultMessage(end.result));
  return 1;
}

std::size_t ReportUnmatched(const Selection &selection, const std::string &dump) {
  const std::vector<std::string> unmatched = selection.Unmatched();
  for (const std::string &pattern : unmatched) PrintError(pattern + ": no such entry in " + dump);
  return unmatched.size();
}

std::string HostArchive::Why(int result) const {
  std::string problem = result == E_BAD_DATA ? EntryProblem(handle_) : std::string();
  return problem.empty() ? ResultMessage(result) : problem;
}

int HostArchive::Process(int operation, const std::string &targetPath) {
  processed_ = true;
  std::u16string wide;
  if (Utf16FromUtf8(targetPath, wide))
    return ProcessFileW(handle_, operation, nullptr, reinterpret_cast<WCX_WCHAR *>(wide.data()));
  // A Linux folder whose name is not UTF-8 is named in bytes.
  std::string narrow = targetPath;
  return ProcessFile(handle_, operation, nullptr, narrow.data());
}

void SetProgressSink(ProgressBar *bar) { progressSink = bar; }

}  // namespace quarn::cli
