// One loaded dump as its readers are handed it: the bytes, seen through the
// image window; the dump's own last-write time as a DOS date and time, which
// generated entries carry; and what the disks' file systems may still make.
// The archive object owns it; the disks and the file-system reader only read
// it and draw on its budget.
#ifndef QUARN_FLASH_DUMP_H
#define QUARN_FLASH_DUMP_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "entries/entry_budget.h"
#include "flash/flash_image.h"
#include "platform/large_buffer.h"

namespace quarn {

class TDump {
 public:
  // Takes the `size` bytes at `bytes`; the window covers them all (at most
  // the 32 MiB the flash window reaches: more is never looked at).
  TDump(std::unique_ptr<std::uint8_t[]> bytes, std::uint32_t size, std::uint16_t arcDate,
        std::uint16_t arcTime)
      : bytes_(std::move(bytes)),
        window_(bytes_.get(), size),
        arcDate_(arcDate),
        arcTime_(arcTime) {}
  // Reads the dump through a view of its file (see TFileView).
  TDump(std::unique_ptr<TFileView> view, std::uint16_t arcDate, std::uint16_t arcTime)
      : view_(std::move(view)),
        window_(view_->Data(), view_->Size()),
        arcDate_(arcDate),
        arcTime_(arcTime) {}
  TDump(const TDump &) = delete;
  TDump &operator=(const TDump &) = delete;

  // A copy of bytes in memory, for the tests and the fuzz target: at most
  // the first 32 MiB of them.
  static std::unique_ptr<TDump> Copy(const std::uint8_t *data, std::size_t size,
                                     std::uint16_t arcDate = 0, std::uint16_t arcTime = 0);

  const TFlashImage &Window() const { return window_; }
  std::uint16_t ArcDate() const { return arcDate_; }
  std::uint16_t ArcTime() const { return arcTime_; }
  TEntryBudget &Budget() { return budget_; }
  const TEntryBudget &Budget() const { return budget_; }

  // Whether the disks also list what their dead descriptors still hold (the
  // deleted files) and the disks a damaged partition record hides. Off
  // unless asked for: a dump lists what the phone shows.
  bool ShowDeleted() const { return showDeleted_; }
  void SetShowDeleted(bool show) { showDeleted_ = show; }
  // What that view may make: an allowance of its own, so that whatever the
  // dead descriptors hold, the live file systems are listed whole.
  TEntryBudget &DeletedBudget() { return deletedBudget_; }
  const TEntryBudget &DeletedBudget() const { return deletedBudget_; }

  // A partition table whose run of records ended at a damaged record,
  // although valid records follow it: the disks those name are not listed.
  struct TTableDamage {
    std::uint32_t Record = 0;                 // dump offset of the damaged record
    std::vector<std::uint32_t> RecordsAfter;  // dump offsets of the valid ones after it
    std::vector<std::string> DisksAfter;      // the names they give
  };
  // None when the table's run ended soundly.
  const std::optional<TTableDamage> &TableDamage() const { return tableDamage_; }
  void SetTableDamage(TTableDamage damage) { tableDamage_ = std::move(damage); }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;  // the dump copied, or
  std::unique_ptr<TFileView> view_;        // its file mapped
  TFlashImage window_;
  std::uint16_t arcDate_;
  std::uint16_t arcTime_;
  TEntryBudget budget_;
  TEntryBudget deletedBudget_;
  bool showDeleted_ = false;
  std::optional<TTableDamage> tableDamage_;
};

}  // namespace quarn

#endif
