#!/usr/bin/env bash
# Builds the two Windows builds with mingw-w64 (build/win32: Quarn.wcx,
# build/win64: Quarn.wcx64, under the repository root) and runs their tests
# under Wine. Installs nothing: tools/test-all.sh does that.
#
#   tools/test-windows.sh [REPO_ROOT]
#
# Without wine (or the cross compilers) a developer's run is skipped with a
# message; a CI run (CI=true) fails.
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)

missing=()
command -v wine >/dev/null 2>&1 || missing+=(wine)
command -v wineboot >/dev/null 2>&1 || missing+=(wineboot)
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || missing+=(i686-w64-mingw32-g++-posix)
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing+=(x86_64-w64-mingw32-g++-posix)
if ((${#missing[@]} > 0)); then
  if [ "${CI:-}" = true ]; then
    echo "FAILED: Windows tests cannot run in CI, missing: ${missing[*]}" >&2
    exit 1
  fi
  if [[ " ${missing[*]} " == *" wine "* ]]; then
    echo "SKIPPED: Windows tests need wine (apt-get install wine wine32 wine64)"
  else
    echo "SKIPPED: Windows tests need mingw-w64 (apt-get install g++-mingw-w64-i686-posix" \
      "g++-mingw-w64-x86-64-posix); missing: ${missing[*]}"
  fi
  exit 0
fi

# One prefix for both builds: a 64-bit prefix runs the 32-bit programs too.
# Unattended: no debug output, no offer to install Mono or Gecko, no display.
export WINEPREFIX="$root/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$root/build"

status=0
for arch in win32:i686 win64:x86_64; do
  dir="$root/build/${arch%%:*}"
  echo "== Windows ${arch%%:*} build ($dir)"
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-${arch#*:}.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUARN_BENCH=OFF -DQUARN_WINEPREFIX="$WINEPREFIX" >/dev/null
  cmake --build "$dir" -j2
done

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== Creating the Wine prefix $WINEPREFIX"
  start=$SECONDS
  wineboot -i >/dev/null 2>&1
  wineserver -w
  echo "   took $((SECONDS - start)) s"
fi

for arch in win32 win64; do
  echo "== Windows $arch tests under Wine"
  start=$SECONDS
  (cd "$root/build/$arch" && ctest --output-on-failure --timeout 600 -j2) || status=1
  echo "   took $((SECONDS - start)) s"
done

# Leave no Wine server behind.
wineserver -w || true
exit "$status"
