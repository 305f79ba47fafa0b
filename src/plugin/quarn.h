// TQuarn: the archive object behind a WCX handle. One exists per successful
// OpenArchive and lives until CloseArchive. Its constructor does all the
// reading: the dump into memory, the partition table, each disk's entries,
// one raw ".BIN" image entry per disk, and the listing sorted by path.
#ifndef QUARN_PLUGIN_QUARN_H
#define QUARN_PLUGIN_QUARN_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "entries/listing_order.h"
#include "entries/sie_file.h"
#include "entries/wide_listing.h"
#include "flash/dump.h"
#include "flash/sie_disk.h"
#include "platform/platform.h"
#include "plugin/settings.h"
#include "util/tlist.h"
#include "wcxhead.h"

namespace quarn {

class TQuarn {
 public:
  // Loads the dump named in `data` and builds the listing, in the view the
  // settings ask for as it opens (OpeningSettings). On failure
  // data->OpenResult holds the WCX code and Opened() is false.
  explicit TQuarn(tOpenArchiveData *data);
  // The same for the Unicode interface: a UTF-16 path.
  explicit TQuarn(tOpenArchiveDataW *data);
  // Builds the listing of a dump already in memory (`arcName` is what the
  // records name as the archive), with the view `settings` ask for.
  TQuarn(std::unique_ptr<TDump> dump, std::int32_t openMode, const char *arcName = "",
         TSettings settings = {});
  TQuarn(const TQuarn &) = delete;
  TQuarn &operator=(const TQuarn &) = delete;
  // Stamps the directories an extraction created, then frees everything.
  virtual ~TQuarn();

  bool Opened() const { return listingBuilt_; }

  // The archive object behind a handle OpenArchive returned; none for the
  // handles that name no archive: null, and INVALID_HANDLE_VALUE (-1), with
  // which hosts set their callbacks before packing or deleting.
  static TQuarn *FromHandle(void *handle) {
    if (handle == nullptr || handle == reinterpret_cast<void *>(static_cast<std::intptr_t>(-1)))
      return nullptr;
    return static_cast<TQuarn *>(handle);
  }

  // Moves to the next entry and describes it in `header`; E_END_ARCHIVE past
  // the last one. The three records walk one listing.
  int ReadHeader(tHeaderData *header);
  int ReadHeaderEx(tHeaderDataEx *header);
  int ReadHeaderExW(tHeaderDataExW *header);
  // Skips, tests or extracts the entry ReadHeader returned last; to a target
  // named in the narrow code page, or in UTF-16.
  int ProcessFile(int operation, char *destName);
  int ProcessFileW(int operation, WCX_WCHAR *destName);
  // The host's callbacks. Each interface calls its own where the host set
  // it, else the other's with the name converted.
  void SetChangeVolProc(tChangeVolProc proc) { changeVolProc_ = proc; }
  void SetProcessDataProc(tProcessDataProc proc) { processDataProc_ = proc; }
  void SetChangeVolProcW(tChangeVolProcW proc) { changeVolProcW_ = proc; }
  void SetProcessDataProcW(tProcessDataProcW proc) { processDataProcW_ = proc; }
  // Finds the partition table and makes one disk per record of its run;
  // in the deleted view also one per valid record after a damaged one.
  void FindDisks(std::uint32_t start, std::uint32_t step);

  // What the archive lists. The disks, in table order, own their entries;
  // every disk's root and ".BIN" entry hangs below the nameless root.
  const TDump &Dump() const { return *dump_; }
  const TList<std::unique_ptr<TSieDisk>> &Disks() const { return disks_; }
  const TSieFile &RootEntry() const { return *rootEntry_; }
  const TList<TSieFile *> &Listing() const { return listing_; }
  // The FullPath of the entry at `index` of the listing.
  std::string_view ListingPath(int index) const { return order_.Path(index); }

  // What testing or extracting an entry finds first: why it answers bad
  // data, in words, and where that lies; no reason when it would succeed.
  struct TDiagnosis {
    const char *Reason = nullptr;
    std::uint32_t Address = 0;  // phone address of the part or content at fault
  };
  TDiagnosis Diagnose(const TSieFile &entry) const;
  // Diagnose's reason alone.
  const char *Problem(const TSieFile &entry) const { return Diagnose(entry).Reason; }
  // The entry under the cursor (the one ReadHeader returned last), or none.
  const TSieFile *Current() const {
    return cursor_ >= 0 && cursor_ < listing_.Count() ? listing_[cursor_] : nullptr;
  }

  // The Unicode interface's names and paths, worked out when it first asks.
  const TWideListing &Wide();

  // Records where the host put `entry` and, as far as the names match, its
  // ancestors, from the target path of an extraction: in DestDir from a
  // narrow target, in DestDirW from a UTF-16 one (matched with WideName).
  static void LearnDestination(TSieFile *entry, const std::string &target);
  static void LearnDestination(TSieFile *entry, const std::u16string &target);
  // Equal apart from letter case, in the narrow code page's rules, or in
  // UTF-16's.
  static bool NameMatches(std::string a, std::string b);
  static bool NameMatches(std::u16string a, std::u16string b);

 private:
  // The file an extraction writes, as the host named it.
  struct TTarget {
    char *Narrow = nullptr;
    WCX_WCHAR *Wide = nullptr;
  };

  void Start(std::int32_t openMode);
  // Loads the dump opened as `file` (its names as the two interfaces give
  // them) and builds the listing.
  void Open(HANDLE file, int &openResult, std::string narrowName, std::u16string wideName);
  void BuildListing();
  void AddRawImageEntry(const TSieDisk &disk);
  void SortEntries();
  // Moves the cursor on; E_END_ARCHIVE past the last entry.
  int Advance();
  int Process(int operation, const TTarget &target);
  int TestEntry(const TSieFile &entry) const;
  int Extract(TSieFile &entry, const TTarget &target);
  // The host's progress callback; 0 asks to stop.
  int Progress(const TTarget &target, int bytes);
  void FixUpDirectories();
  template <typename String>
  void FixUpIn();

  tChangeVolProc changeVolProc_ = nullptr;  // stored, never called
  tChangeVolProcW changeVolProcW_ = nullptr;
  tProcessDataProc processDataProc_ = nullptr;  // progress of an extraction
  tProcessDataProcW processDataProcW_ = nullptr;
  std::int32_t openMode_ = PK_OM_LIST;
  TSettings settings_;   // what the user asked of the listing when it opened
  double openedAt_ = 0;  // local time of opening, in days since 1899-12-30
  std::unique_ptr<TDump> dump_;
  std::int32_t cursor_ = -1;  // index in the listing of the entry ReadHeader returned last
  char arcName_[260] = {};    // as tHeaderData holds it
  std::string arcNameNarrow_;
  std::u16string arcNameWide_;
  TList<std::unique_ptr<TSieDisk>> disks_;
  std::unique_ptr<TSieFile> rootEntry_;
  TList<TSieFile *> listing_;
  std::vector<std::unique_ptr<TSieFile>> rawImageEntries_;  // the ".BIN" entries
  TListingOrder order_;
  std::unique_ptr<TWideListing> wide_;
  bool listingBuilt_ = false;
  static constexpr int kReadAhead = 4;
};

}  // namespace quarn

#endif
