#!/bin/sh
# Runs a cross-built Windows test program under Wine, unattended (CI runs as
# root with no display): no debug output, no offer to install Mono or Gecko,
# and the tests' own prefix, created on first use. Concurrent first uses (ctest
# -j) wait for one another on a lock instead of creating the prefix twice.
#
#   wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
set -e
prefix=$1
shift
if ! command -v wine >/dev/null 2>&1; then
  echo "wine-run.sh: wine is not installed (apt-get install wine wine32 wine64)" >&2
  exit 127
fi
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot -i >/dev/null 2>&1
      # The registry reaches the disk when the server goes.
      wineserver -w
    fi
  ) 9>"$prefix.lock"
fi
exec wine "$@"
