#include "util/tlist.h"

namespace quarn {

void ListError(const char *format, long long value) {
  char message[64];
  std::snprintf(message, sizeof message, format, static_cast<int>(value));
  throw EListError(message);
}

}  // namespace quarn
