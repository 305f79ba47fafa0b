// The one way to walk an entry's bytes: what extraction writes, what testing
// and the command's `-O` and `list --json` report, all from this walk.
#ifndef QUARN_PLUGIN_CONTENT_H
#define QUARN_PLUGIN_CONTENT_H

#include <algorithm>
#include <cstdint>

#include "entries/sie_file.h"
#include "flash/flash_image.h"

namespace quarn {

// How a walk over an entry's content ended.
enum class TWalk {
  Whole,    // every piece was handed over
  Cut,      // a piece does not lie wholly inside the image: the walk ended there
  Stopped,  // the caller asked to stop
};

// Hands `put` each piece of the entry's content in order: a piece in a
// buffer whole; a piece in the image as far as the image goes, and nothing
// after a piece that does not lie wholly inside it.
// `put(bytes, length, offset or null)` gets the dump offset of a piece in
// the image, null for one in a buffer, and answers false to stop.
template <typename Put>
TWalk ForEachPiece(const TFlashImage &window, const TSieFile &entry, Put put) {
  for (const TExtent &extent : entry.Extents) {
    if (extent.Buffer != nullptr) {
      if (!put(extent.Buffer.get(), extent.Size, nullptr)) return TWalk::Stopped;
      continue;
    }
    const std::uint8_t *source = window.Translate(extent.DataAddr);
    if (source == nullptr) return TWalk::Cut;
    const std::uint32_t length = std::min(extent.Size, window.Available(extent.DataAddr));
    const auto offset = static_cast<std::uint32_t>(source - window.Data());
    if (!put(source, length, &offset)) return TWalk::Stopped;
    if (length < extent.Size) return TWalk::Cut;
  }
  return TWalk::Whole;
}

}  // namespace quarn

#endif
