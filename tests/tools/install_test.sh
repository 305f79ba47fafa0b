#!/usr/bin/env bash
# The install decisions of tools/install.sh against stand-ins for apt-get,
# dpkg and dpkg-query on PATH: what is installed, skipped and reported when
# the package index fails, when the 32-bit packages fail, when everything
# succeeds, and on a second run.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# What tools/test-all.sh found out before running the tests is not the
# stand-ins' to see.
unset QUARN_WINE32 QUARN_WINE32_REASON QUARN_NO_INSTALL
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
failures=0

# The stand-ins keep their state in $work: installed (one package a line),
# arch (foreign architectures), calls (what was asked). FAIL_UPDATE=1 makes
# the update fail as a mirror in sync does; FAIL lists packages that cannot be
# installed.
cat >"$work/bin/apt-get" <<'STAND_IN'
#!/bin/bash
echo "apt-get $*" >>"$STATE/calls"
case $* in
  *update*) [ "${FAIL_UPDATE:-0}" = 1 ] && { echo "E: Some index files failed to download."; exit 100; }; exit 0 ;;
esac
for p; do
  case $p in -*|install) continue ;; esac
  for f in ${FAIL:-}; do
    [ "$p" = "$f" ] && { echo "E: Unable to correct problems, you have held broken packages."; exit 100; }
  done
done
for p; do case $p in -*|install) ;; *) echo "$p" >>"$STATE/installed" ;; esac; done
STAND_IN
cat >"$work/bin/dpkg-query" <<'STAND_IN'
#!/bin/bash
grep -qx "${!#}" "$STATE/installed" 2>/dev/null && printf 'ii ' && exit 0
exit 1
STAND_IN
cat >"$work/bin/dpkg" <<'STAND_IN'
#!/bin/bash
echo "dpkg $*" >>"$STATE/calls"
case $1 in
  --print-foreign-architectures) cat "$STATE/arch" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$STATE/arch" ;;
  --remove-architecture) sed -i "/^$2\$/d" "$STATE/arch" ;;
esac
STAND_IN
chmod +x "$work/bin/"*

# run NAME [VAR=VALUE...]: install_missing and install_wine32 as
# tools/test-all.sh calls them, on NAME's state (kept from an earlier run of
# the same NAME); keeps the output, the exit code and what QUARN_WINE32 ends as.
run() {
  local name=$1
  shift
  export STATE=$work/$name
  mkdir -p "$STATE"
  rm -f "$STATE/calls"
  (
    export PATH="$work/bin:$PATH" TMPDIR=$STATE "$@"
    source "$root/tools/install.sh"
    # As root, as CI runs it.
    id() { echo 0; }
    install_missing cmake wine || exit
    install_wine32 "$STATE"
    echo "wine32=$QUARN_WINE32 reason=${QUARN_WINE32_REASON:-}"
  ) >"$STATE/out" 2>&1
  echo $? >"$STATE/rc"
}
expect() { # NAME what-to-check, as a shell test; prints the state on failure
  local name=$1
  shift
  if ! (cd "$work/$name" && eval "$*"); then
    echo "FAILED: $name: $*"
    sed 's/^/  /' "$work/$name/out" "$work/$name/calls" 2>/dev/null
    failures=$((failures + 1))
  fi
}

run all-well QUARN_WINE32=1
expect all-well '[ "$(cat rc)" = 0 ] && grep -qx wine32:i386 installed && grep -qx i386 arch'
expect all-well 'grep -q "wine32=1 reason=$" out && ! grep -q warning out'

# A second run on the same machine asks apt-get nothing.
run all-well QUARN_WINE32=1
expect all-well '[ ! -e calls ] && grep -qx "wine32=1 reason=" out && ! grep -q install: out'

run index-fails QUARN_WINE32=1 FAIL_UPDATE=1
expect index-fails '[ "$(cat rc)" = 0 ] && grep -qx cmake installed && grep -qx wine32:i386 installed'
expect index-fails '[ "$(grep -c "warning: a package index did not download" out)" -ge 1 ]'

run wine32-fails QUARN_WINE32=1 FAIL_UPDATE=1 FAIL=wine32:i386
expect wine32-fails '[ "$(cat rc)" = 0 ] && grep -qx wine installed && ! grep -qx wine32:i386 installed'
expect wine32-fails 'grep -q "^wine32=0 reason=the 32-bit Wine packages cannot be installed today (apt-get install wine32:i386: Unable to correct problems" out'
# The architecture it added is taken back.
expect wine32-fails '! grep -qx i386 arch && grep -q -- "--remove-architecture i386" calls'

run no-ia32 QUARN_WINE32=0 QUARN_WINE32_REASON="this machine cannot run 32-bit x86 programs (test)"
expect no-ia32 '[ "$(cat rc)" = 0 ] && ! grep -q i386 calls && grep -qx wine installed'
expect no-ia32 'grep -qx "install: this machine cannot run 32-bit x86 programs (test): installing only the 64-bit packages" out'

run required-fails QUARN_WINE32=1 FAIL=cmake
expect required-fails '[ "$(cat rc)" != 0 ] && grep -q "install: cannot install cmake: Unable to correct problems" out'
expect required-fails 'grep -qx wine installed && ! grep -q wine32 calls'

# The kernel's answer without any 32-bit package: a yes or a no with the
# reason, never anything else.
reason=$("$root/cmake/can-run-32.sh" "$work")
case $? in
  0) echo "this machine runs 32-bit x86 programs" ;;
  1) case $reason in "this machine cannot run 32-bit x86 programs ("*) echo "$reason" ;;
     *) echo "FAILED: can-run-32.sh: $reason"; failures=$((failures + 1)) ;; esac ;;
  *) echo "FAILED: can-run-32.sh exited neither 0 nor 1"; failures=$((failures + 1)) ;;
esac

echo "$((14 - failures)) passed, $failures failed"
[ "$failures" = 0 ]
