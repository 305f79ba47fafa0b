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

struct DiskReport {
  std::vector<Damage> damage;
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

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
  return text;
}

std::string DumpOffset(std::uint32_t address) { return Hex(address & (FlashWindowSize - 1)); }

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

const char *HoldsText(TDiskHolds holds) {
  switch (holds) {
    case TDiskHolds::FileSystem:
      return "file system";
    case TDiskHolds::Eeprom:
      return "EEPROM";
    case TDiskHolds::LostChunks:
      return "lost chunks";
    case TDiskHolds::RawOnly:
      break;
  }
  return "raw only";
}

const char *HoldsJson(TDiskHolds holds) {
  switch (holds) {
    case TDiskHolds::FileSystem:
      return "file_system";
    case TDiskHolds::Eeprom:
      return "eeprom";
    case TDiskHolds::LostChunks:
      return "lost_chunks";
    case TDiskHolds::RawOnly:
      break;
  }
  return "raw";
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

void PrintPlain(const InfoOptions &options, const TDumpFacts &facts,
                std::optional<std::uintmax_t> fileSize, const std::vector<DiskReport> &reports,
                std::size_t entries, std::size_t damaged) {
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
      if (i == kRunsShown && !options.verbose) {
        at += ", ... (" + std::to_string(runs.size()) + " runs; -v shows all)";
        break;
      }
      if (i > 0) at += ", ";
      at += DumpOffset(runs[i].address) + "-" +
            Hex((runs[i].address & (FlashWindowSize - 1)) + runs[i].bytes - 1);
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
    contents.Add({disk.ListedAs, HoldsText(disk.Holds), std::to_string(disk.LiveSlots),
                  std::to_string(disk.DeadSlots), std::to_string(disk.UnwrittenSlots),
                  std::to_string(disk.Parts), std::to_string(disk.Files),
                  std::to_string(disk.Folders), std::to_string(disk.Bytes),
                  std::to_string(disk.EepromBlocks), std::to_string(disk.LostChunks)});
  }
  contents.Print("  ");

  std::size_t total = 0;
  for (const DiskReport &report : reports) total += report.damage.size();
  if (total == 0) {
    std::printf("\nDamage: none found\n");
    return;
  }
  std::printf("\nDamage: %zu\n", total);
  Table damage("lll");
  damage.Add({"Disk", "Offset", "Path: what is wrong"});
  std::vector<std::string> more;
  for (std::size_t d = 0; d < reports.size(); ++d) {
    const std::vector<Damage> &found = reports[d].damage;
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (i == kDamageShown && !options.verbose) {
        more.push_back(std::to_string(found.size() - kDamageShown) + " more on " +
                       facts.Disks[d].ListedAs);
        break;
      }
      const Damage &item = found[i];
      const std::string offset = !item.at.Known     ? "-"
                                 : item.at.InWindow ? Hex(item.at.Offset)
                                                    : "at " + Hex(item.at.Address);
      damage.Add({facts.Disks[d].ListedAs, offset, DisplayPath(item.path) + ": " + item.reason});
    }
  }
  damage.Print("  ");
  for (const std::string &line : more) std::printf("  ... %s (-v lists them all)\n", line.c_str());
}

void AppendPlace(std::string &json, const TDumpPlace &place) {
  json += ",\"offset\":";
  json += place.Known && place.InWindow ? std::to_string(place.Offset) : "null";
  json += ",\"address\":";
  json += place.Known ? std::to_string(place.Address) : "null";
}

void PrintJson(const InfoOptions &options, const TDumpFacts &facts,
               std::optional<std::uintmax_t> fileSize, const std::vector<DiskReport> &reports,
               std::size_t entries, std::size_t damaged) {
  std::string json = "{\"dump\":";
  AppendJsonString(json, Utf8FromNarrow(options.dump));
  json += ",\"size\":" + std::to_string(facts.Size);
  json += ",\"file_size\":" + (fileSize ? std::to_string(*fileSize) : std::string("null"));
  json += ",\"signature\":";
  if (facts.Signature.empty())
    json += "null";
  else
    AppendJsonString(json, facts.Signature);
  json += facts.Recognised ? ",\"recognised\":true" : ",\"recognised\":false";
  const std::optional<DateTime> time = DumpTime(facts);
  json += ",\"time\":" + (time ? "\"" + FormatDateTime(*time, 'T') + "\"" : std::string("null"));
  json += ",\"entries\":" + std::to_string(entries);
  json += ",\"damaged\":" + std::to_string(damaged);
  json += ",\"disks\":[";
  for (std::size_t d = 0; d < facts.Disks.size(); ++d) {
    const TDiskFacts &disk = facts.Disks[d];
    if (d > 0) json += ',';
    json += "{\"name\":";
    AppendJsonString(json, disk.Name);
    json += ",\"listed_as\":";
    AppendJsonString(json, disk.ListedAs);
    json += ",\"record_offset\":" + std::to_string(disk.RecordOffset);
    json += ",\"record_address\":" + std::to_string(FlashBase + disk.RecordOffset);
    json += ",\"block_count\":" + std::to_string(disk.Blocks.size());
    const std::uint32_t common = CommonBlockSize(disk.Blocks);
    json += ",\"block_size\":" + (common != 0 ? std::to_string(common) : std::string("null"));
    json += ",\"blocks\":[";
    for (std::size_t b = 0; b < disk.Blocks.size(); ++b) {
      if (b > 0) json += ',';
      json += "{\"offset\":" + std::to_string(disk.Blocks[b].Address & (FlashWindowSize - 1)) +
              ",\"address\":" + std::to_string(disk.Blocks[b].Address) +
              ",\"size\":" + std::to_string(disk.Blocks[b].Size) + "}";
    }
    json += "],\"holds\":\"";
    json += HoldsJson(disk.Holds);
    json += "\",\"slots\":{\"live\":" + std::to_string(disk.LiveSlots) +
            ",\"dead\":" + std::to_string(disk.DeadSlots) +
            ",\"unwritten\":" + std::to_string(disk.UnwrittenSlots) + "}";
    json += ",\"parts\":" + std::to_string(disk.Parts);
    json += ",\"files\":" + std::to_string(disk.Files);
    json += ",\"folders\":" + std::to_string(disk.Folders);
    json += ",\"bytes\":" + std::to_string(disk.Bytes);
    json += ",\"eeprom_blocks\":" + std::to_string(disk.EepromBlocks);
    json += ",\"lost_chunks\":" + std::to_string(disk.LostChunks);
    json += disk.CutByLimit ? ",\"cut_by_limit\":true" : ",\"cut_by_limit\":false";
    json += ",\"damage\":[";
    const std::vector<Damage> &found = reports[d].damage;
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (i > 0) json += ',';
      json += "{\"path\":";
      AppendJsonString(json, Utf8FromNarrow(found[i].path));
      json += ",\"reason\":";
      AppendJsonString(json, found[i].reason);
      AppendPlace(json, found[i].at);
      json += '}';
    }
    json += "]}";
  }
  json += "]}\n";
  std::fwrite(json.data(), 1, json.size(), stdout);
}

}  // namespace

int RunInfo(const InfoOptions &options) {
  int exitCode = kExitOk;
  std::unique_ptr<HostArchive> archive =
      HostArchive::OpenReporting(options.dump, PK_OM_LIST, exitCode);
  if (!archive) return exitCode;
  // No warning for a file that is not a dump: the report says what it is.

  const TDumpFacts facts = archive->DumpFacts();
  std::vector<DiskReport> reports(facts.Disks.size());
  for (std::size_t d = 0; d < facts.Disks.size(); ++d) {
    if (facts.Disks[d].CutByLimit) {
      reports[d].damage.push_back(
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
    if (archive->Facts(entryFacts) && entryFacts.Disk >= 0 &&
        static_cast<std::size_t>(entryFacts.Disk) < reports.size()) {
      std::vector<Damage> &found = reports[static_cast<std::size_t>(entryFacts.Disk)].damage;
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
    const std::uintmax_t size = fs::file_size(PathFromNarrow(options.dump), error);
    if (!error) fileSize = size;
  }
  if (options.json)
    PrintJson(options, facts, fileSize, reports, entries, damaged);
  else
    PrintPlain(options, facts, fileSize, reports, entries, damaged);
  return ReportEnd(end, options.dump) == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace quarn::cli
