#include <cstdio>
#include <vector>

#include "cli/archive.h"
#include "cli/commands.h"
#include "cli/os.h"
#include "cli/selection.h"

namespace quarn::cli {
namespace {

constexpr char kRule[] = "------------------- ----- ------------  ------------------------\n";

void PrintTable(const std::vector<Entry> &entries) {
  std::printf("   Date      Time    Attr         Size  Name\n%s", kRule);
  std::uint64_t totalSize = 0;
  std::size_t files = 0, folders = 0;
  const Entry *newest = nullptr;
  for (const Entry &entry : entries) {
    const std::string size = entry.directory ? "" : std::to_string(entry.size);
    std::printf("%s %s %12s  %s\n", EntryDateTime(entry).c_str(), AttributeString(entry).c_str(),
                size.c_str(), DisplayPath(entry.path).c_str());
    if (entry.directory) {
      ++folders;
    } else {
      ++files;
      totalSize += entry.size;
    }
    if (entry.timeValid && (newest == nullptr || newest->time < entry.time)) newest = &entry;
  }
  std::printf("%s", kRule);
  const std::string date = newest != nullptr ? FormatDateTime(newest->time) : std::string(19, ' ');
  std::printf("%s       %12llu  %zu files, %zu folders\n", date.c_str(),
              static_cast<unsigned long long>(totalSize), files, folders);
}

}  // namespace

int RunList(const ListOptions &options) {
  int exitCode = kExitOk;
  std::unique_ptr<HostArchive> archive =
      HostArchive::OpenReporting(options.dump, PK_OM_LIST, exitCode);
  if (!archive) return exitCode;
  WarnIfNotDump(options.dump);
  Selection selection(options.patterns, NativePathStyle(), options.excludes);

  // A host's listing loop: every header is followed by ProcessFile(PK_SKIP).
  std::vector<Entry> entries;
  Entry entry;
  TEntryFacts facts;
  std::string line;
  int result;
  while ((result = archive->Next(entry)) == E_SUCCESS) {
    if (selection.Selects(entry.path)) {
      if (options.json) {
        line.clear();
        AppendEntryJson(line, entry, archive->Facts(facts) ? &facts : nullptr);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
      } else {
        entries.push_back(entry);
      }
    }
    if ((result = archive->Skip()) != E_SUCCESS) break;
  }
  archive.reset();

  if (!options.json) PrintTable(entries);
  int code = kExitOk;
  if (result != E_END_ARCHIVE) {
    PrintError(options.dump + ": the listing stopped early: " + ResultMessage(result));
    code = kExitSomeFailed;
  }
  for (const std::string &pattern : selection.Unmatched()) {
    PrintError(pattern + ": no such entry in " + options.dump);
    code = kExitSomeFailed;
  }
  return code;
}

}  // namespace quarn::cli
