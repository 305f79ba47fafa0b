#!/usr/bin/env bash
# Builds the two Windows builds with mingw-w64 (build/win32: Quarn.wcx,
# build/win64: Quarn.wcx64, under the repository root) and runs their tests:
# the static checks of the DLLs natively, the test programs under Wine.
# Installs nothing: tools/test-all.sh does that.
#
#   tools/test-windows.sh [REPO_ROOT]
#
# 64-bit test programs run on every machine. 32-bit ones run only where the
# kernel runs 32-bit x86 code and Wine's 32-bit loader starts (found out once
# here, the kernel first); elsewhere CTest reports them skipped, with the
# reason on one line. QUARN_WINE32=0 pretends the machine cannot (to test that
# case on one that can), with QUARN_WINE32_REASON as the reason if given. Without wine, the cross compilers or a Wine prefix, a developer's
# run is skipped with a message; a CI run (CI=true) fails.
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
runner="$root/cmake/wine-run.sh"
prefix="$root/build/wineprefix"

status=0
# Something the tests need is missing: CI fails, a developer's run skips what
# is left.
missing() {
  if [ "${CI:-}" = true ]; then
    echo "FAILED: $1" >&2
    exit 1
  fi
  echo "SKIPPED: $1"
  exit "$status"
}

mingw=()
for tool in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix \
  i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null 2>&1 || mingw+=("$tool")
done
if ((${#mingw[@]} > 0)); then
  packages="g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix"
  missing "the Windows builds need mingw-w64, missing ${mingw[*]} (apt-get install $packages)"
fi
wine=yes
if ! command -v wine >/dev/null 2>&1 && [ ! -x /usr/lib/wine/wine64 ]; then
  wine=
fi

# Whether 32-bit programs can run here: decided once, for every test run.
if [ -n "${QUARN_WINE32:-}" ]; then
  case $QUARN_WINE32 in
    # tools/test-all.sh gives the reason it found (the kernel, or the 32-bit
    # packages that could not be installed today).
    0) QUARN_WINE32_REASON=${QUARN_WINE32_REASON:-QUARN_WINE32=0 pretends this machine cannot run 32-bit x86 programs} ;;
    1) ;;
    *) echo "test-windows: QUARN_WINE32 must be 0 or 1, not '$QUARN_WINE32'" >&2 && exit 2 ;;
  esac
elif [ -n "$wine" ]; then
  set +e
  QUARN_WINE32_REASON=$("$runner" --can-run-32)
  rc=$?
  set -e
  case $rc in
    0) QUARN_WINE32=1 ;;
    1) QUARN_WINE32=0 ;;
    *)
      [ "${CI:-}" = true ] && missing "$QUARN_WINE32_REASON"
      QUARN_WINE32=0
      ;;
  esac
fi
export QUARN_WINE32 QUARN_WINE32_REASON

for arch in win32:i686 win64:x86_64; do
  dir="$root/build/${arch%%:*}"
  echo "== Windows ${arch%%:*} build ($dir)"
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-${arch#*:}.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=ON -DQUARN_BENCH=OFF \
    -DQUARN_WINEPREFIX="$prefix" >/dev/null
  cmake --build "$dir" -j2
done

echo "== Static checks of the Windows DLLs"
for arch in win32 win64; do
  (cd "$root/build/$arch" && ctest -L static --no-tests=error --output-on-failure) || status=1
done
echo "== The Total Commander zip"
"$root/tools/package-tc.sh" || status=1

if [ -z "$wine" ]; then
  missing "the Windows tests under Wine need wine (apt-get install wine wine32 wine64)"
fi

# Leave no Wine server behind, whatever happens.
trap '"$runner" "$prefix" --stop' EXIT
start=$SECONDS
message=$("$runner" "$prefix" --prefix 2>&1) || missing "${message#wine-run.sh: }"
echo "== Wine prefix ready ($((SECONDS - start)) s)"

for arch in win32 win64; do
  echo "== Windows $arch tests under Wine"
  if [ "$arch" = win32 ] && [ "$QUARN_WINE32" = 0 ]; then
    echo "SKIPPED: the 32-bit test programs, which load Quarn.wcx: $QUARN_WINE32_REASON"
  fi
  start=$SECONDS
  (cd "$root/build/$arch" && ctest -LE static --no-tests=error --output-on-failure --timeout 600 -j2) ||
    status=1
  echo "   took $((SECONDS - start)) s"
done
exit "$status"
