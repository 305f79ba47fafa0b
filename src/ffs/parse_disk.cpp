// Reading a flash disk's file system into entries.
#include "flash/sie_disk.h"

namespace quarn {

void TSieDisk::ParseDisk() {
  if (Owner == nullptr) return;
  ReleaseEntries();
  // The flash file system reader is not built yet: every disk lists only its
  // raw image, with no root directory and no entries of its own.
}

}  // namespace quarn
