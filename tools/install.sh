# Installing Debian packages for the scripts that build and test Quarn
# (tools/test-all.sh, tools/quickstart.sh, .ci/run). Sourced by bash:
#
#   install_missing PACKAGE...   installs those not yet installed; fails,
#                                naming them, for those apt-get cannot install
#   install_wine32 FOLDER        where the kernel runs 32-bit x86 programs,
#                                adds the i386 architecture and Wine's 32-bit
#                                loader; sets and exports QUARN_WINE32 (1 or
#                                0) and, with 0, QUARN_WINE32_REASON
#
# Nothing is fetched when everything is there, so a second run installs
# nothing and does not need the network. A package index that does not
# download (a mirror in the middle of a sync) is a warning, not the end: what
# can be installed from the lists apt has is installed. The 32-bit Wine
# packages are never required: where the kernel cannot run 32-bit code they
# buy nothing, and where the i386 archive is out of step with the amd64 one
# the 32-bit tests are skipped with the reason. QUARN_WINE32=0 or 1 set
# beforehand stands for the kernel's answer (to test both cases anywhere).

install_log=${TMPDIR:-/tmp}/quarn-install.log
install_refreshed=
: >"$install_log" 2>/dev/null || install_log=/dev/null

install_say() { echo "install: $*"; }

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

# apt-get update, at most once a run unless the architectures change.
install_refresh() {
  [ -n "$install_refreshed" ] && return 0
  install_refreshed=yes
  if ! apt-get update -qq >>"$install_log" 2>&1; then
    install_say "warning: a package index did not download (apt-get update failed," \
      "see $install_log); going on with the lists apt has"
  fi
}

# The last error apt-get wrote, for a one-line reason.
install_error() {
  grep -E '^E: ' "$install_log" | tail -n 1 | sed 's/^E: //'
}

# apt-get install, quietly, into the log.
install_run() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" \
    >>"$install_log" 2>&1
}

install_missing() {
  local missing=() failed=() package
  for package; do
    installed "$package" || missing+=("$package")
  done
  ((${#missing[@]} > 0)) || return 0
  if [ "$(id -u)" != 0 ]; then
    install_say "missing ${missing[*]}: run as root to install them (or install them and set" \
      "QUARN_NO_INSTALL=1)" >&2
    return 1
  fi
  install_say "installing ${missing[*]}"
  install_refresh
  install_run "${missing[@]}" && return 0
  # One at a time, to name those that cannot be installed.
  for package in "${missing[@]}"; do
    installed "$package" || install_run "$package" || failed+=("$package")
  done
  ((${#failed[@]} > 0)) || return 0
  install_say "cannot install ${failed[*]}: $(install_error) (see $install_log)" >&2
  return 1
}

install_wine32() {
  local reason
  case ${QUARN_WINE32:-} in
    0)
      QUARN_WINE32_REASON=${QUARN_WINE32_REASON:-QUARN_WINE32=0 pretends this machine cannot run 32-bit x86 programs}
      ;;
    1) unset QUARN_WINE32_REASON ;;
    *)
      if reason=$("$(dirname "${BASH_SOURCE[0]}")/../cmake/can-run-32.sh" "$1"); then
        QUARN_WINE32=1
        unset QUARN_WINE32_REASON
      else
        QUARN_WINE32=0 QUARN_WINE32_REASON=$reason
      fi
      ;;
  esac
  export QUARN_WINE32 QUARN_WINE32_REASON
  if [ "$QUARN_WINE32" = 0 ]; then
    install_say "$QUARN_WINE32_REASON: installing only the 64-bit packages"
    return 0
  fi
  installed wine32:i386 && return 0
  if [ "$(id -u)" != 0 ]; then
    reason="Wine's 32-bit loader is not installed (as root: apt-get install wine32:i386)"
  else
    install_say "installing wine32:i386"
    local added=
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      dpkg --add-architecture i386 && added=yes && install_refreshed=
    fi
    install_refresh
    install_run wine32:i386 && return 0
    reason="the 32-bit Wine packages cannot be installed today (apt-get install wine32:i386: $(install_error))"
    # Leave the machine as it was: an i386 index that keeps failing to
    # download only slows every later apt-get update.
    if [ -n "$added" ]; then
      dpkg --remove-architecture i386 >>"$install_log" 2>&1 || true
    fi
  fi
  QUARN_WINE32=0 QUARN_WINE32_REASON=$reason
  install_say "$reason: the 32-bit tests will be skipped"
}
