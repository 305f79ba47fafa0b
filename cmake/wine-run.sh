#!/bin/sh
# Runs a cross-built Windows test program under Wine, unattended (CI runs as
# root with no display): no debug output, no offer to install Mono or Gecko,
# and the tests' own prefix, created on first use. Concurrent first uses (ctest
# -j) wait for one another on a lock instead of creating the prefix twice.
#
#   wine-run.sh PREFIX PROGRAM [ARGUMENTS...]   run PROGRAM
#   wine-run.sh PREFIX --prefix                 only create the prefix
#   wine-run.sh PREFIX --stop                   end the prefix's wineserver
#   wine-run.sh --can-run-32                    exit 0 if the 32-bit loader runs
#                                               here, else say why: exit 1 if
#                                               the machine cannot run 32-bit
#                                               x86 code, 2 if Wine lacks it
#
# A 32-bit program needs Wine's 32-bit loader, and on Debian `wine` (and so
# `wineboot`) always starts it first, even for 64-bit programs. Some kernels
# cannot run 32-bit x86 code at all. There, a 32-bit program is not run: one
# line says why and the exit code is 77, which the 32-bit tests take as
# "skipped" (cmake/wine-tests.cmake). 64-bit programs and the prefix then go
# through the 64-bit loader, in a prefix of their own (PREFIX-wine64): a prefix
# made without the 32-bit loader lacks its 32-bit half.
#
# QUARN_WINE32: 1 or 0, whether the 32-bit loader runs here (tools/test-windows.sh
# finds out once and exports it, with QUARN_WINE32_REASON); unset, this script
# finds out itself. Set QUARN_WINE32=0 to test the machines that cannot run it
# on one that can.
skip_code=77
wine32_loader=/usr/lib/wine/wine
wine64_loader=/usr/lib/wine/wine64
if [ ! -x "$wine64_loader" ]; then
  wine64_loader=$(command -v wine64 || command -v wine || true)
fi

# Whether the 32-bit loader runs; if not, why not in $reason. The kernel is
# asked first: where it cannot run 32-bit code, whether the loader is
# installed does not matter.
can_run_32() {
  if ! reason=$("$(dirname "$0")/can-run-32.sh" "${TMPDIR:-/tmp}"); then
    return 1
  fi
  if [ ! -x "$wine32_loader" ]; then
    reason="Wine's 32-bit loader $wine32_loader is missing (apt-get install wine32:i386)"
    return 2
  fi
  # The kernel refuses it at once where it cannot run 32-bit code (126).
  out=$("$wine32_loader" --version 2>&1) && return 0
  rc=$?
  why=$(printf '%s\n' "$out" | tail -n 1 | sed 's/.*: //')
  if [ "$rc" = 126 ]; then
    reason="this machine cannot run 32-bit x86 programs ($wine32_loader: $why)"
    return 1
  fi
  reason="Wine's 32-bit loader does not start ($wine32_loader --version: exit $rc, $why)"
  return 2
}

if [ "$1" = --can-run-32 ]; then
  can_run_32 && exit 0
  rc=$?
  echo "$reason"
  exit "$rc"
fi

prefix=$1
shift
if [ -z "$prefix" ] || [ $# = 0 ]; then
  echo "usage: wine-run.sh PREFIX PROGRAM [ARGUMENTS...] | PREFIX --prefix | PREFIX --stop" >&2
  exit 2
fi
if [ -z "$QUARN_WINE32" ]; then
  can_run_32
  case $? in
    0) QUARN_WINE32=1 ;;
    1) QUARN_WINE32=0 QUARN_WINE32_REASON=$reason ;;
    *) QUARN_WINE32=broken ;;
  esac
fi
if [ "$QUARN_WINE32" = 1 ]; then
  wine=$(command -v wine || true)
else
  prefix=$prefix-wine64
  wine=$wine64_loader
fi
if [ -z "$wine" ]; then
  echo "wine-run.sh: wine is not installed (apt-get install wine wine32 wine64)" >&2
  exit 127
fi

# The machine type in the PE header: 014c for i386.
pe_machine() {
  [ "$(head -c 2 "$1" 2>/dev/null)" = MZ ] || return 0
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' '
}
if [ "$QUARN_WINE32" != 1 ] && [ "$(pe_machine "$1")" = 014c ]; then
  if [ "$QUARN_WINE32" = broken ]; then
    # Not this machine's limit: Wine is incomplete, which fails.
    echo "wine-run.sh: $reason" >&2
    exit 127
  fi
  echo "SKIPPED: $(basename "$1") is a 32-bit Windows program and" \
    "${QUARN_WINE32_REASON:-QUARN_WINE32=0 pretends this machine cannot run 32-bit x86 programs}"
  exit "$skip_code"
fi

wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo wineserver)
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ "$1" = --stop ]; then
  # Ends what still runs in the prefix; the registry reaches the disk when
  # the server goes.
  [ -d "$prefix" ] || exit 0
  "$wineserver" -k >/dev/null 2>&1
  "$wineserver" -w >/dev/null 2>&1
  exit 0
fi

if [ ! -f "$prefix/system.reg" ]; then
  if ! mkdir -p "$(dirname "$prefix")" 2>/dev/null; then
    echo "wine-run.sh: cannot create the Wine prefix $prefix (cannot make its folder)" >&2
    exit 1
  fi
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      "$wine" wineboot -i >/dev/null 2>&1
      rc=$?
      "$wineserver" -w >/dev/null 2>&1
      if [ "$rc" != 0 ] || [ ! -f "$prefix/system.reg" ]; then
        echo "wine-run.sh: cannot create the Wine prefix $prefix ($wine wineboot -i: exit $rc)" >&2
        exit 1
      fi
    fi
  ) 9>"$prefix.lock" || exit 1
fi
[ "$1" = --prefix ] && exit 0

"$wine" "$@"
rc=$?
if [ "$rc" = "$skip_code" ]; then
  # That code means "skipped" to CTest; a program that ran never is.
  echo "wine-run.sh: $(basename "$1") exited with $rc, taken as a failure" >&2
  exit 1
fi
exit "$rc"
