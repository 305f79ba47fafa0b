// quarn info: the dump as a whole, from what the core found reading it, and
// every damage with where it lies.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "cli/archive.h"
#include "cli/commands.h"
#include "cli/os.h"
#include "flash/dump_format.h"
#include "util/civil_date.h"

namespace quarn::cli {
namespace {

namespace fs = std::filesystem;

// Damage lines the plain report shows of each disk without -v.
constexpr std::size_t kDamageShown = 10;
// Block runs shown of each disk without -v.
constexpr std::size_t kRunsShown = 3;

struct Damage {
  std::string path;  // as the listing gives it
  std::string reason;
  TDumpPlace at;
};

// Blocks that follow one another in the dump, in table order.
struct BlockRun {
  std::uint32_t address = 0;
  std::uint64_t bytes = 0;
};

std::vector<BlockRun> Runs(const std::vector<TBlockFacts> &blocks) {
  std::vector<BlockRun> runs;
  for (const TBlockFacts &block : blocks) {
    if (!runs.empty() && runs.back().address + runs.back().bytes == block.Address)
      runs.back().bytes += block.Size;
    else
      runs.push_back({block.Address, block.Size});
  }
  return runs;
}

// Where a phone address lies in the dump.
std::uint32_t DumpOffset(std::uint32_t address) { return address & (FlashWindowSize - 1); }

std::string BlockSize(std::uint32_t size) {
  if (size != 0 && size % (1024 * 1024) == 0) return std::to_string(size >> 20) + " MiB";
  if (size != 0 && size % 1024 == 0) return std::to_string(size >> 10) + " KiB";
  return std::to_string(size) + " B";
}

// The size all blocks share; 0 when they differ or there are none.
std::uint32_t CommonBlockSize(const std::vector<TBlockFacts> &blocks) {
  if (blocks.empty()) return 0;
  for (const TBlockFacts &block : blocks)
    if (block.Size != blocks[0].Size) return 0;
  return blocks[0].Size;
}

// What a disk holds, in the plain report's words or as the JSON names it.
const char *Holds(TDiskHolds holds, bool json) {
  switch (holds) {
    case TDiskHolds::FileSystem:
      return json ? "file_system" : "file system";
    case TDiskHolds::Eeprom:
      return json ? "eeprom" : "EEPROM";
    case TDiskHolds::LostChunks:
      return json ? "lost_chunks" : "lost chunks";
    case TDiskHolds::RawOnly:
      break;
  }
  return json ? "raw" : "raw only";
}

std::optional<DateTime> DumpTime(const TDumpFacts &facts) {
  if (!IsValidDosDateTime(facts.Date, facts.Time)) return std::nullopt;
  return DateTimeFromDos(static_cast<std::uint32_t>(facts.Date) << 16 | facts.Time);
}

// Columns aligned to their widest cell; 'l' or 'r' per column.
class Table {
 public:
  explicit Table(std::string align) : align_(std::move(align)) {}
  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  void Print(const char *indent) const {
    std::vector<std::size_t> widths(align_.size(), 0);
    for (const auto &row : rows_)
      for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
        widths[c] = std::max(widths[c], row[c].size());
    for (const auto &row : rows_) {
      std::string line = indent;
      for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
        const std::string pad(widths[c] - row[c].size(), ' ');
        if (c > 0) line += "  ";
        // The last column left-aligned takes no padding.
        line += align_[c] == 'r' ? pad + row[c] : (c + 1 == row.size() ? row[c] : row[c] + pad);
      }
      std::printf("%s\n", line.c_str());
    }
  }

 private:
  std::string align_;
  std::vector<std::vector<std::string>> rows_;
};

void PrintPlain(const Options &options, const TDumpFacts &facts,
                std::optional<std::uintmax_t> fileSize,
                const std::vector<std::vector<Damage>> &damage, std::size_t entries,
                std::size_t damaged) {
  std::printf("Dump:       %s\n", DisplayPath(options.dump).c_str());
  std::string size = std::to_string(facts.Size) + " bytes";
  if (fileSize && *fileSize > facts.Size)
    size += " (the file has " + std::to_string(*fileSize) + "; the flash window reaches " +
            std::to_string(kDumpSize) + ")";
  else if (facts.Size == kDumpSize)
    size += " (a full dump)";
  else
    size += " (short: a full dump has " + std::to_string(kDumpSize) + ")";
  std::printf("Size:       %s\n", size.c_str());
  const std::string_view expected(kSignature, sizeof kSignature);
  if (facts.Signature == expected)
    std::printf("Signature:  SIEMENS at offset %u\n", kSignatureOffset);
  else if (facts.Signature.empty())
    std::printf("Signature:  none (the dump ends before offset %u)\n", kSignatureOffset);
  else
    std::printf("Signature:  none (at offset %u: %s)\n", kSignatureOffset,
                JsonString(facts.Signature).c_str());
  const std::optional<DateTime> time = DumpTime(facts);
  std::printf("Written:    %s\n", time ? FormatDateTime(*time).c_str() : "unknown");
  std::printf("Entries:    %zu, %zu of them damaged\n", entries, damaged);
  if (facts.ShowsDeleted) std::printf("Deleted:    shown, in each disk's Deleted folder\n");
  std::printf("Disks:      %zu\n", facts.Disks.size());
  if (facts.Disks.empty()) return;

  std::printf("\nPartition table (offsets in the dump; phone address = 0x%08X + offset)\n",
              FlashBase);
  Table table("lrrrl");
  table.Add({"Disk", "Record", "Blocks", "Block size", "Blocks at"});
  for (const TDiskFacts &disk : facts.Disks) {
    const std::vector<BlockRun> runs = Runs(disk.Blocks);
    std::string at;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      if (i == kRunsShown && !options.Has(kVerbose)) {
        at += ", ... (" + std::to_string(runs.size()) + " runs; -v shows all)";
        break;
      }
      if (i > 0) at += ", ";
      at += Hex(DumpOffset(runs[i].address)) + "-" +
            Hex(DumpOffset(runs[i].address) + runs[i].bytes - 1);
    }
    const std::uint32_t common = CommonBlockSize(disk.Blocks);
    table.Add({disk.ListedAs, Hex(disk.RecordOffset), std::to_string(disk.Blocks.size()),
               disk.Blocks.empty() ? ""
               : common != 0       ? BlockSize(common)
                                   : "mixed",
               at});
  }
  table.Print("  ");

  std::printf("\nContents (descriptor slots: live, dead, unwritten)\n");
  Table contents("llrrrrrrrrr");
  contents.Add({"Disk", "Holds", "Live", "Dead", "Unwritten", "Parts", "Files", "Folders", "Bytes",
                "EEPROM", "Lost"});
  for (const TDiskFacts &disk : facts.Disks) {
    contents.Add({disk.ListedAs, Holds(disk.Holds, false), std::to_string(disk.LiveSlots),
                  std::to_string(disk.DeadSlots), std::to_string(disk.UnwrittenSlots),
                  std::to_string(disk.Parts), std::to_string(disk.Files),
                  std::to_string(disk.Folders), std::to_string(disk.Bytes),
                  std::to_string(disk.EepromBlocks), std::to_string(disk.LostChunks)});
  }
  contents.Print("  ");

  // What deleting left: dead chunks keep their data until a block is erased.
  std::printf("\nFlash (bytes of chunk data: live, dead = what deleted files left, unwritten)\n");
  Table flash(facts.ShowsDeleted ? "lrrrrrrrr" : "lrrrr");
  std::vector<std::string> heading = {"Disk", "Live", "Dead", "Unwritten", "Dead chunks"};
  if (facts.ShowsDeleted)
    heading.insert(heading.end(), {"Deleted files", "Incomplete", "Folders", "Left out"});
  flash.Add(heading);
  bool deadData = false;
  for (const TDiskFacts &disk : facts.Disks) {
    std::vector<std::string> row = {
        disk.ListedAs, std::to_string(disk.LiveBytes), std::to_string(disk.DeadBytes),
        std::to_string(disk.UnwrittenBytes), std::to_string(disk.DeadChunks)};
    if (facts.ShowsDeleted)
      row.insert(row.end(),
                 {std::to_string(disk.DeletedFiles), std::to_string(disk.DeletedIncomplete),
                  std::to_string(disk.DeletedFolders),
                  std::to_string(disk.DeadPartsSuperseded + disk.DeadPartsUnreached)});
    deadData = deadData || (disk.DeadBytes > 0 && disk.Holds == TDiskHolds::FileSystem);
    flash.Add(std::move(row));
  }
  flash.Print("  ");
  if (facts.ShowsDeleted)
    std::printf(
        "  (left out: dead parts that are an earlier state of a live file, rewritten,\n"
        "  renamed or moved, and dead parts no deleted file's chain reaches)\n");
  else if (deadData)
    std::printf("  Deleted files may be there: 'quarn list --deleted' shows them.\n");

  const std::vector<std::string> findings = DumpFindings(facts);
  if (!findings.empty()) std::printf("\nFound\n");
  for (const std::string &finding : findings) std::printf("  %s\n", DisplayPath(finding).c_str());

  const std::vector<std::string> problems = DumpProblems(facts);
  std::size_t total = problems.size();
  for (const std::vector<Damage> &found : damage) total += found.size();
  if (total == 0) {
    std::printf("\nDamage: none found\n");
    return;
  }
  std::printf("\nDamage: %zu\n", total);
  for (const std::string &problem : problems) std::printf("  The dump: %s\n", problem.c_str());
  if (total == problems.size()) return;
  Table damageTable("lll");
  damageTable.Add({"Disk", "Offset", "Path: what is wrong"});
  std::vector<std::string> more;
  for (std::size_t d = 0; d < damage.size(); ++d) {
    const std::vector<Damage> &found = damage[d];
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (i == kDamageShown && !options.Has(kVerbose)) {
        more.push_back(std::to_string(found.size() - kDamageShown) + " more on " +
                       facts.Disks[d].ListedAs);
        break;
      }
      const Damage &item = found[i];
      const std::string offset = !item.at.Known     ? "-"
                                 : item.at.InWindow ? Hex(item.at.Offset)
                                                    : "at " + Hex(item.at.Address);
      damageTable.Add(
          {facts.Disks[d].ListedAs, offset, DisplayPath(item.path) + ": " + item.reason});
    }
  }
  damageTable.Print("  ");
  for (const std::string &line : more) std::printf("  ... %s (-v lists them all)\n", line.c_str());
}

void PrintJson(const Options &options, const TDumpFacts &facts,
               std::optional<std::uintmax_t> fileSize,
               const std::vector<std::vector<Damage>> &damage, std::size_t entries,
               std::size_t damaged) {
  std::string out;
  JsonWriter json(out);
  const auto numberOrNull = [&json](bool known, std::uint64_t value) -> JsonWriter & {
    return known ? json.Number(value) : json.Null();
  };
  json.Object().Key("dump").String(options.dump);
  json.Key("size").Number(facts.Size).Key("file_size");
  numberOrNull(fileSize.has_value(), fileSize.value_or(0)).Key("signature");
  facts.Signature.empty() ? json.Null() : json.String(facts.Signature);
  json.Key("recognised").Bool(facts.Recognised).Key("time");
  const std::optional<DateTime> time = DumpTime(facts);
  time ? json.String(FormatDateTime(*time, 'T')) : json.Null();
  json.Key("entries").Number(entries).Key("damaged").Number(damaged);
  json.Key("deleted_view").Bool(facts.ShowsDeleted).Key("disks").Array();
  for (std::size_t d = 0; d < facts.Disks.size(); ++d) {
    const TDiskFacts &disk = facts.Disks[d];
    json.Object().Key("name").String(disk.Name).Key("listed_as").String(disk.ListedAs);
    json.Key("record_offset").Number(disk.RecordOffset);
    json.Key("record_address").Number(FlashBase + disk.RecordOffset);
    json.Key("block_count").Number(disk.Blocks.size()).Key("block_size");
    const std::uint32_t common = CommonBlockSize(disk.Blocks);
    numberOrNull(common != 0, common).Key("blocks").Array();
    for (const TBlockFacts &block : disk.Blocks) {
      json.Object().Key("offset").Number(DumpOffset(block.Address));
      json.Key("address").Number(block.Address).Key("size").Number(block.Size).End();
    }
    json.End().Key("holds").String(Holds(disk.Holds, true));
    json.Key("slots").Object().Key("live").Number(disk.LiveSlots);
    json.Key("dead").Number(disk.DeadSlots).Key("unwritten").Number(disk.UnwrittenSlots).End();
    json.Key("parts").Number(disk.Parts).Key("files").Number(disk.Files);
    json.Key("folders").Number(disk.Folders).Key("bytes").Number(disk.Bytes);
    json.Key("eeprom_blocks").Number(disk.EepromBlocks).Key("lost_chunks").Number(disk.LostChunks);
    json.Key("cut_by_limit").Bool(disk.CutByLimit).Key("lost_files").Number(disk.LostFiles);
    json.Key("root_missing").Bool(disk.RootPartMissing);
    json.Key("flash").Object().Key("live_bytes").Number(disk.LiveBytes);
    json.Key("dead_bytes").Number(disk.DeadBytes);
    json.Key("unwritten_bytes").Number(disk.UnwrittenBytes);
    json.Key("dead_chunks").Number(disk.DeadChunks).End().Key("deleted");
    if (facts.ShowsDeleted) {
      json.Object().Key("files").Number(disk.DeletedFiles);
      json.Key("complete").Number(disk.DeletedFiles - disk.DeletedIncomplete);
      json.Key("incomplete").Number(disk.DeletedIncomplete);
      json.Key("folders").Number(disk.DeletedFolders);
      json.Key("superseded_parts").Number(disk.DeadPartsSuperseded);
      json.Key("unreached_parts").Number(disk.DeadPartsUnreached).End();
    } else {
      json.Null();
    }
    json.Key("damage").Array();
    for (const Damage &found : damage[d]) {
      json.Object().Key("path").String(found.path);
      json.Key("reason").String(found.reason).Key("offset");
      numberOrNull(found.at.Known && found.at.InWindow, found.at.Offset).Key("address");
      numberOrNull(found.at.Known, found.at.Address).End();
    }
    json.End().End();
  }
  json.End().Key("problems").Array();
  for (const std::string &problem : DumpProblems(facts)) json.String(problem);
  json.End().Key("findings").Array();
  for (const std::string &finding : DumpFindings(facts)) json.String(finding);
  json.End().End();
  out += '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
}

}  // namespace

int RunInfo(const Options &options) {
  int exitCode = kExitOk;
  // No warning for a file that is not a dump: the report says what it is.
  std::unique_ptr<HostArchive> archive =
      HostArchive::Open(options.dump, PK_OM_LIST, exitCode, false);
  if (!archive) return exitCode;

  const TDumpFacts facts = archive->Inspector().Dump();
  std::vector<std::vector<Damage>> damage(facts.Disks.size());
  for (std::size_t d = 0; d < facts.Disks.size(); ++d) {
    if (facts.Disks[d].CutByLimit) {
      damage[d].push_back(
          {facts.Disks[d].ListedAs,
           "cut: the archive's allowance of live chunks ran out in this disk",
           {true, FlashBase + facts.Disks[d].RecordOffset, true, facts.Disks[d].RecordOffset}});
    }
  }
  // Every entry, through the listing as a host walks it; the paths are the
  // records'.
  std::size_t entries = 0, damaged = 0;
  TEntryFacts entryFacts;
  Selection everything({}, NativePathStyle());
  const WalkEnd end = archive->Walk(everything, [&](const Entry &entry) {
    ++entries;
    if (archive->Inspector().Current(entryFacts) && entryFacts.Disk >= 0 &&
        static_cast<std::size_t>(entryFacts.Disk) < damage.size()) {
      std::vector<Damage> &found = damage[static_cast<std::size_t>(entryFacts.Disk)];
      if (!entryFacts.Problem.empty()) {
        ++damaged;
        found.push_back({entry.path, std::string(entryFacts.Problem), entryFacts.ProblemAt});
      }
      if (entryFacts.Renamed)
        found.push_back({entry.path, "renamed duplicate: another entry came first on the same path",
                         entryFacts.At});
    }
    return true;
  });
  archive.reset();

  std::optional<std::uintmax_t> fileSize;
  if (!IsStream(options.dump)) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(PathFromUtf8(options.dump), error);
    if (!error) fileSize = size;
  }
  if (options.Has(kJson))
    PrintJson(options, facts, fileSize, damage, entries, damaged);
  else
    PrintPlain(options, facts, fileSize, damage, entries, damaged);
  return ReportEnd(end, options.dump) == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace quarn::cli
