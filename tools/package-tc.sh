#!/usr/bin/env bash
# Packs both Windows builds (build/win32, build/win64) with pluginst.inf into
# build/Quarn-tc.zip: opened in Total Commander, the zip offers to install the
# plugin. cmake/package-tc.cmake does the work, also for the Linux build's
# tc-zip target: each DLL is checked as tests/pe checks it before it is packed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec cmake -DSOURCE_DIR="$root" -DWIN32_BUILD="$root/build/win32" \
  -DWIN64_BUILD="$root/build/win64" -DOUTPUT="$root/build/Quarn-tc.zip" \
  -P "$root/cmake/package-tc.cmake"
