// Loading a dump from its file: the bytes into one block of memory, and the
// file's last-write time as the dump's own DOS date and time.
#ifndef QUARN_PLUGIN_LOAD_DUMP_H
#define QUARN_PLUGIN_LOAD_DUMP_H

#include <cstdint>
#include <memory>

#include "flash/dump.h"
#include "flash/dump_format.h"
#include "platform/platform.h"

namespace quarn {

// Reads the file opened as `file` (INVALID_HANDLE_VALUE when it could not
// be) and closes it. Only the first 32 MiB can be reached through the flash
// window, so a longer file is read that far: never wrapped at 4 GiB, never
// held whole. Returns 0 with `dump` set, or the WCX code of the failure:
// E_EOPEN, E_NO_MEMORY or E_EREAD. With `map`, a file that can be mapped is
// read through a view of it instead (TFileView), not copied.
int LoadDump(HANDLE file, std::unique_ptr<TDump> &dump, bool map = false);

// Recognition of the file opened as `file` (INVALID_HANDLE_VALUE when it
// could not be), from its size and the bytes at the signature's place; the
// file is closed. `size` gets the file's size where it is known.
TRecognition RecogniseFile(HANDLE file, std::uint64_t *size = nullptr);

}  // namespace quarn

#endif
