#!/usr/bin/env bash
# Packs both Windows builds with pluginst.inf into build/Quarn-tc.zip: opened
# in Total Commander, the zip offers to install the plugin. Each DLL is first
# checked as tests/pe checks it (machine, exports including the Unicode ones,
# system imports only, stripped), so a package never carries a plugin that a
# host would load without its Unicode interface.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
w32="$root/build/win32/Quarn.wcx"
w64="$root/build/win64/Quarn.wcx64"
for f in "$w32" "$w64"; do
  [ -f "$f" ] || { echo "package-tc: $f is missing: build the Windows targets first (tools/test-windows.sh)" >&2; exit 2; }
done
check() {
  cmake -DOBJDUMP="$(command -v "$1-w64-mingw32-objdump")" -DFILE="$2" -DMACHINE="$3" \
    -DEXPORTS="$root/tests/pe/exports.txt" -DSYSTEM_DLLS="$root/tests/pe/system-dlls.txt" \
    -DSTRIPPED=1 -P "$root/tests/pe/pe-check.cmake" >/dev/null
}
check i686 "$w32" i386
check x86_64 "$w64" x86-64
out="$root/build/Quarn-tc.zip"
rm -f "$out"
python3 -m zipfile -c "$out" "$root/tools/pluginst.inf" "$w32" "$w64"
echo "$out"
