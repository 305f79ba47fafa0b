#include "plugin/inspect.h"

#include "plugin/quarn.h"

namespace quarn {

std::string EntryProblem(void *handle) {
  const TQuarn *archive = TQuarn::FromHandle(handle);
  const TSieFile *entry = archive != nullptr ? archive->Current() : nullptr;
  const char *problem = entry != nullptr ? archive->Problem(*entry) : nullptr;
  return problem != nullptr ? problem : std::string();
}

}  // namespace quarn
