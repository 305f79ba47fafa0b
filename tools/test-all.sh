#!/usr/bin/env bash
# Installs what the tests need (as root, through apt-get, only what is
# missing), then builds the three builds and runs every test: Linux natively,
# both Windows builds under Wine. Set QUARN_NO_INSTALL=1 to skip the
# installation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${QUARN_NO_INSTALL:-0}" != 1 ]; then
  source "$root/tools/install.sh"
  # dpkg-dev, man-db and bash-completion: the package test builds the .deb
  # (dpkg-shlibdeps), asks man where its page is and lets bash-completion
  # find its completion.
  install_missing cmake make g++ libgtest-dev googletest libbenchmark-dev valgrind \
    dpkg-dev man-db bash-completion g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64
  # Optional: decides, and tells tools/test-windows.sh, whether the 32-bit
  # Windows tests can run here.
  install_wine32 "$root/build"
fi

echo "== Linux build"
# Tests and benchmarks forced on: tools/quickstart.sh configures this folder
# without them. A run that finds no tests fails.
cmake -S "$root" -B "$root/build/linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUARN_TESTS=ON -DQUARN_BENCH=ON >/dev/null
cmake --build "$root/build/linux" -j2
(cd "$root/build/linux" && ctest --no-tests=error --output-on-failure --timeout 300)

echo "== Windows builds (static checks natively, test programs under Wine)"
"$root/tools/test-windows.sh" "$root"
