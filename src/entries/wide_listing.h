// The Unicode interface's view of a listing: every entry's name and path in
// UTF-16. Names the file system stored as UTF-8 arrive as the phone stored
// them, whatever the ANSI code page; the others as the narrow code page
// reads them. The same rules as the narrow names hold: "." and ".." pieces
// escaped, duplicates numbered (in this view's own comparison), paths cut at
// their limit (1023 units) without a "." piece last or a surrogate pair
// split. The order is the listing's.
#ifndef QUARN_ENTRIES_WIDE_LISTING_H
#define QUARN_ENTRIES_WIDE_LISTING_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "entries/listing_order.h"
#include "entries/sie_file.h"
#include "util/tlist.h"

namespace quarn {

// Narrow text in UTF-16, as the narrow code page reads it: the ANSI code
// page on Windows; on Linux UTF-8, every byte that is not part of a valid
// sequence written as %XX, so that the name says what was stored.
std::u16string WideFromNarrow(std::string_view narrow);
// UTF-16 in the narrow code page: the ANSI code page on Windows (characters
// it lacks become its default character); UTF-8 on Linux (a lone surrogate
// becomes U+FFFD). Empty for text that is not.
std::string NarrowFromWide(std::u16string_view wide);

class TWideListing {
 public:
  // Gives every entry of the tree below `namelessRoot` a WideName (from its
  // Name where the reader left none), numbers the duplicates among them and
  // works out the path of each of `listing`'s entries, in its order. Where
  // whole paths still meet, the first is chosen as the narrow listing
  // chooses it, so both interfaces number the same entries.
  TWideListing(const TListingOrder &listing, TSieFile &namelessRoot);

  // The path of the entry at `index` of the listing; empty outside it.
  std::u16string_view Path(int index) const;

 private:
  std::u16string text_;
  std::vector<std::uint32_t> at_;
  std::vector<std::uint32_t> length_;
};

}  // namespace quarn

#endif
