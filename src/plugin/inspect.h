// What the command asks of an open archive beyond what a WCX record holds.
// A host sees only the exports; the command, linked with the core, may also
// ask these of a handle OpenArchive gave it. They never change the archive.
#ifndef QUARN_PLUGIN_INSPECT_H
#define QUARN_PLUGIN_INSPECT_H

#include <string>

namespace quarn {

// Why testing the entry ReadHeader returned last answers bad data, in words
// ("incomplete: the chain ends at a missing part"); empty when it passes or
// when the handle names no archive.
std::string EntryProblem(void *handle);

}  // namespace quarn

#endif
