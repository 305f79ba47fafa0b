// libFuzzer target: any bytes as a dump, through the archive as a host
// drives it (see fuzz_one.h). Built with -DQUARN_FUZZ=ON and clang.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fuzz_one.h"

namespace {

std::string Target() {
  static const std::string target = [] {
    const char *shm = "/dev/shm";
    const std::filesystem::path dir =
        std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
    return (dir / ("quarn-fuzz-" + std::to_string(getpid()) + ".out")).string();
  }();
  return target;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  quarn::fuzzing::FuzzOne(data, size, Target());
  return 0;
}
