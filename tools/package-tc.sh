#!/usr/bin/env bash
# Packs both Windows builds with pluginst.inf into build/Quarn-tc.zip: opened
# in Total Commander, the zip offers to install the plugin.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
w32="$root/build/win32/Quarn.wcx"
w64="$root/build/win64/Quarn.wcx64"
for f in "$w32" "$w64"; do
  [ -f "$f" ] || { echo "package-tc: $f is missing: build the Windows targets first (tools/test-windows.sh)" >&2; exit 2; }
done
out="$root/build/Quarn-tc.zip"
rm -f "$out"
python3 -m zipfile -c "$out" "$root/tools/pluginst.inf" "$w32" "$w64"
echo "$out"
