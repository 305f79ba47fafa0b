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

#include "entries/sie_file.h"
#include "ffs/fs_limits.h"
#include "flash/flash_image.h"
#include "flash/sie_disk.h"
#include "util/tlist.h"
#include "wcxhead.h"

namespace quarn {

class TQuarn {
 public:
  // Opens the dump named in `data` and builds the listing. On failure
  // data->OpenResult holds the WCX code and Opened() is false.
  explicit TQuarn(tOpenArchiveData *data);
  TQuarn(const TQuarn &) = delete;
  TQuarn &operator=(const TQuarn &) = delete;
  // Stamps the directories an extraction created, then frees everything.
  virtual ~TQuarn();

  bool Opened() const { return listingBuilt_; }

  // Moves to the next entry and describes it in `header`; E_END_ARCHIVE past
  // the last one.
  int ReadHeader(tHeaderData *header);
  // Skips, tests or extracts the entry ReadHeader returned last.
  int ProcessFile(int operation, char *destName);
  void SetChangeVolProc(tChangeVolProc proc) { ChangeVolProc = proc; }
  void SetProcessDataProc(tProcessDataProc proc) { ProcessDataProc = proc; }
  // Finds the partition table and makes one disk per record of its run.
  void FindDisks(std::uint32_t start, std::uint32_t step);

  // The image window (see TFlashImage).
  const std::uint8_t *Translate(std::uint32_t address) const { return Window().Translate(address); }
  std::uint8_t ReadByte(std::uint32_t address) const { return Window().ReadByte(address); }
  std::uint32_t ReadDword(std::uint32_t address) const { return Window().ReadDword(address); }
  bool ReadDiskName(std::uint32_t address, std::string &name) const {
    return Window().ReadDiskName(address, name);
  }
  // Whether the 44 bytes at image offset `offset` are a valid disk descriptor.
  bool ValidateDescriptor(std::uint32_t offset) const;
  TFlashImage Window() const { return TFlashImage(Image.get(), ImageSize); }

  // Records where the host put `entry` and, as far as the names match, its
  // ancestors, from the target path of an extraction.
  static void LearnDestination(TSieFile *entry, const std::string &target);
  // Equal apart from letter case, in the narrow code page's rules.
  static bool NameMatches(std::string a, std::string b);

  tChangeVolProc ChangeVolProc = nullptr;
  tProcessDataProc ProcessDataProc = nullptr;
  std::uint16_t ArcTime = 0;  // DOS time of the dump's last write
  std::uint16_t ArcDate = 0;  // DOS date of the dump's last write
  std::int32_t OpenMode = 0;
  double OpenedAt = 0;  // local time of opening, in days since 1899-12-30
  std::unique_ptr<std::uint8_t[]> Image;
  std::uint32_t ImageSize = 0;
  std::int32_t Cursor = -1;  // index in Listing of the entry ReadHeader returned last
  char ArcName[260] = {};
  TList<std::unique_ptr<TSieDisk>> Disks;
  std::unique_ptr<TSieFile> RootEntry;
  TList<TSieFile *> Listing;
  // What the disks' file systems may still make (see TEntryBudget).
  TEntryBudget FsBudget;

 private:
  void Open(tOpenArchiveData *data);
  void BuildListing();
  void AddRawImageEntry(const TSieDisk &disk);
  void SortEntries();
  std::string_view ListingPath(int index) const;
  int Extract(TSieFile &entry, char *destName);
  void FixUpDirectories();

  bool listingBuilt_ = false;
  static constexpr int kReadAhead = 4;
  std::vector<std::unique_ptr<TSieFile>> rawImageEntries_;  // the ".BIN" entries
  // FullPath of each Listing entry: listingPathLength_[i] bytes of
  // listingPathText_ from listingPathAt_[i].
  std::string listingPathText_;
  std::vector<std::uint32_t> listingPathAt_;
  std::vector<std::uint32_t> listingPathLength_;
};

// Local date-time in days since 1899-12-30, to the millisecond.
double DateTimeFromSystemTime(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                              std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                              std::uint16_t millisecond);

}  // namespace quarn

#endif
