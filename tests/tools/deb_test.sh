#!/usr/bin/env bash
# The Debian package as a clean machine gets it: built with CPack from this
# build, checked (its control fields, exactly the files it should hold),
# unpacked with dpkg -x into a folder of its own (no root, nothing installed)
# and used from there: quarn --version, probe and list of a sample that the
# packaged make-sample writes, the host tests against the packaged (stripped)
# plugin, man -w finding the manual page, and bash completing `quarn li` with
# the completion bash-completion finds in the package.
#
#   deb_test.sh CPACK BUILD_DIR QUARN [HOST_TESTS]
#
# QUARN is the build's own command, to compare with. Without dpkg-dev's tools
# the test exits 77, which CTest reports as skipped.
set -uo pipefail
cpack=$1 build=$2 quarn=$3 host_tests=${4:-}

missing=()
for tool in dpkg dpkg-deb dpkg-shlibdeps dpkg-architecture; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]} > 0)); then
  echo "SKIPPED: the package test needs ${missing[*]} (apt-get install dpkg-dev)"
  exit 77
fi

build=$(cd "$build" && pwd) || exit 1
tmp=$(mktemp -d "$build/deb-test.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

version_line=$("$quarn" --version)
version=$(awk '{ print $2 }' <<<"$version_line")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null)
deb=$tmp/quarn_${version}_${arch}.deb
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log"
  echo "FAILED: cpack -G DEB"
  exit 1
fi
if [[ ! -f $deb ]]; then
  echo "FAILED: cpack wrote no $(basename "$deb"): $(cd "$tmp" && echo *.deb)"
  exit 1
fi

# The control fields; Depends as dpkg-shlibdeps computed it.
expect_field() {
  local got
  got=$(dpkg-deb -f "$deb" "$1")
  [[ $got == $2 ]] || fail "field $1 is '$got', expected $2"
}
expect_field Package quarn
expect_field Version "$version"
expect_field Architecture "$arch"
expect_field Section utils
expect_field Homepage 'https://*'
expect_field Maintainer '*<*@*>'
expect_field Depends '*libc6 (>= *libstdc++6 (>= *'
expect_field Description $'read flash dumps * as archives\n*Double Commander*'

# Exactly these files, the plugin where Debian puts arch-dependent files.
plugin=usr/lib/$multiarch/quarn/quarn.wcx
expected="./usr/bin/make-sample ./usr/bin/quarn ./$plugin
./usr/share/bash-completion/completions/quarn ./usr/share/doc/quarn/README.md
./usr/share/man/man1/quarn.1.gz"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $NF }' | LC_ALL=C sort | paste -sd ' ')
[[ $files == "$(echo $expected)" ]] || fail "the package holds: $files; expected: $(echo $expected)"

root=$tmp/root
dpkg -x "$deb" "$root" || fail "dpkg -x"
bin=$root/usr/bin

# The command, as installed.
[[ $("$bin/quarn" --version) == "$version_line" ]] ||
  fail "the packaged quarn --version says '$("$bin/quarn" --version)', the build's '$version_line'"
[[ $("$bin/quarn" version) == "$version_line" ]] || fail "quarn version differs from --version"
if "$bin/make-sample" "$tmp/sample.bin" >/dev/null; then
  probe=$("$bin/quarn" probe "$tmp/sample.bin")
  [[ $probe == "$tmp/sample.bin: Siemens flash dump" ]] || fail "quarn probe: $probe"
  if ! "$bin/quarn" list "$tmp/sample.bin" >"$tmp/list.txt"; then
    fail "quarn list of the sample"
  elif ! "$quarn" list "$tmp/sample.bin" | cmp -s - "$tmp/list.txt"; then
    fail "the packaged quarn lists the sample otherwise than the build's"
  fi
else
  fail "the packaged make-sample"
fi

# The plugin, as Double Commander loads it.
if [[ -n $host_tests ]] &&
  ! QUARN_TEST_PLUGIN=$root/$plugin "$host_tests" --gtest_brief=1 >"$tmp/host.log" 2>&1; then
  cat "$tmp/host.log"
  fail "the host tests against the packaged plugin"
fi

# The manual page where man looks for it.
page=$root/usr/share/man/man1/quarn.1.gz
if command -v man >/dev/null; then
  found=$(MANPATH=$root/usr/share/man man -w quarn 2>&1)
  [[ $found == "$page" ]] || fail "man -w quarn: '$found', expected $page"
  MANPATH=$root/usr/share/man MANWIDTH=80 man -P cat quarn 2>/dev/null | grep -q '^ *quarn - ' ||
    fail "man quarn shows no NAME line"
else
  zcat "$page" 2>/dev/null | grep -q '^\.TH QUARN 1 ' || fail "$page is no gzipped manual page"
fi

# The completion, found by bash-completion as a user's first Tab after
# `quarn` finds it (with the package's share first), else sourced.
completions() {
  PATH=$bin:$PATH XDG_DATA_DIRS=$root/usr/share BASH_COMPLETION_USER_DIR=$tmp/none \
    bash --norc --noprofile -c '
    if [[ -r /usr/share/bash-completion/bash_completion ]]; then
      source /usr/share/bash-completion/bash_completion
      __load_completion quarn || exit 3
    else
      source "$1"
    fi
    shift
    COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" COMP_POINT=${#COMP_LINE}
    function=$(complete -p quarn | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
    "$function" quarn "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
    printf "%s\n" "${COMPREPLY[@]}"' bash "$root/usr/share/bash-completion/completions/quarn" "$@"
}
[[ $(completions quarn li) == list ]] || fail "quarn li<Tab>: '$(completions quarn li)'"
got=$(completions quarn list "$tmp/sample.bin" FFS/So)
[[ $got == FFS/Sounds/ ]] || fail "quarn list sample.bin FFS/So<Tab>: '$got'"

if ((failures > 0)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "deb: $(basename "$deb") installs and works from a folder of its own"
