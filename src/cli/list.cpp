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
  std::string out = "   Date      Time    Attr         Size  Name\n";
  out += kRule;
  std::uint64_t totalSize = 0;
  std::size_t files = 0, folders = 0;
  const Entry *newest = nullptr;
  for (const Entry &entry : entries) {
    // "%s %s %12s  %s\n", without printf: one line for every entry.
    const std::string size = entry.directory ? "" : std::to_string(entry.size);
    out += EntryDateTime(entry);
    out += ' ';
    out += AttributeString(entry);
    out.append(size.size() < 13 ? 13 - size.size() : 1, ' ');
    out += size;
    out += "  ";
    out += DisplayPath(entry.path);
    out += '\n';
    if (entry.directory) {
      ++folders;
    } else {
      ++files;
      totalSize += entry.size;
    }
    if (entry.timeValid && (newest == nullptr || newest->time < entry.time)) newest = &entry;
  }
  out += kRule;
  std::fwrite(out.data(), 1, out.size(), stdout);
  const std::string date = newest != nullptr ? FormatDateTime(newest->time) : std::string(19, ' ');
  std::printf("%s       %12llu  %zu files, %zu folders\n", date.c_str(),
              static_cast<unsigned long long>(totalSize), files, folders);
}

}  // namespace

int RunList(const Options &options) {
  int exitCode = kExitOk;
  std::unique_ptr<HostArchive> archive =
      HostArchive::Open(options.dump, PK_OM_LIST, exitCode, true);
  if (!archive) return exitCode;
  Selection selection(options.patterns, NativePathStyle(), options.excludes);

  std::vector<Entry> entries;
  TEntryFacts facts;
  std::string line;
  const WalkEnd end = archive->Walk(selection, [&](const Entry &entry) {
    if (!options.Has(kJson)) {
      entries.push_back(entry);
      return true;
    }
    line.clear();
    AppendEntryJson(line, entry, archive->Inspector().Current(facts) ? &facts : nullptr);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    return true;
  });
  archive.reset();

  if (!options.Has(kJson)) PrintTable(entries);
  const std::size_t failures =
      ReportEnd(end, options.dump) + ReportUnmatched(selection, options.dump);
  return failures == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace quarn::cli
