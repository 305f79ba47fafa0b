#!/usr/bin/env bash
# Times Quarn against bsdtar on the same files: the sample dump that
# make-sample writes, and a tar of the tree make-sample writes beside it
# (DISK.BIN images, folders, files, EEPROM blocks, lost chunks). Measures
# `quarn list` against `bsdtar -tvf` and `quarn extract` of everything against
# `bsdtar -xf`, each several times, and prints the medians and the ratios.
#
#   bench/tar_compare.sh [-b BUILD] [-n RUNS] [--desc DESC | --dump DUMP]
#
#   -b BUILD      build folder with quarn and make-sample (default:
#                 build/linux, configured and built when they are missing)
#   -n RUNS       runs of each command (default 11)
#   --desc DESC   a description for make-sample instead of its built-in sample
#   --dump DUMP   an existing dump; its tree is what `quarn extract` makes of it
#
# Files are read from the page cache: every command runs once untimed first.
# quarn and bsdtar take turns, run by run.
# bsdtar comes with Debian's libarchive-tools.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/linux"
runs=11
desc=""
dump=""
while [ $# -gt 0 ]; do
  case "$1" in
    -b) build=$(cd "$2" && pwd); shift 2 ;;
    -n) runs=$2; shift 2 ;;
    --desc) desc=$(realpath "$2"); shift 2 ;;
    --dump) dump=$(realpath "$2"); shift 2 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "tar_compare: unexpected argument '$1'" >&2; exit 2 ;;
  esac
done
if ! command -v bsdtar >/dev/null; then
  echo "tar_compare: bsdtar is missing: apt-get install libarchive-tools" >&2
  exit 2
fi
if [ ! -x "$build/quarn" ] || [ ! -x "$build/make-sample" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF -DQUARN_BENCH=OFF >/dev/null
  cmake --build "$build" -j2 --target quarn make-sample >/dev/null
fi
quarn="$build/quarn"

work=$(mktemp -d "${TMPDIR:-/tmp}/quarn-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ -n "$dump" ]; then
  "$quarn" extract "$dump" -o "$work/tree" >/dev/null
else
  dump="$work/sample.bin"
  "$build/make-sample" ${desc:+--desc "$desc"} --tree "$work/tree" "$dump" >/dev/null
fi
tar -cf "$work/sample.tar" -C "$work/tree" .

# Same files both ways, before anything is timed.
"$quarn" extract "$dump" -o "$work/check" >/dev/null
diff -r "$work/tree" "$work/check" >/dev/null ||
  echo "tar_compare: warning: quarn extract differs from the tree" >&2
rm -rf "$work/check"

now() { date +%s%N; }

# Median wall times in milliseconds of `runs` runs of two commands, taken in
# turns so that whatever else the machine does weighs on both alike; $1 names
# a function run before each run, untimed. The commands are given as the
# names of two functions. Prints the two medians on one line.
median_pair_ms() {
  local prepare=$1 first=$2 second=$3
  local a=() b=() start end i
  "$prepare"; "$first" >/dev/null 2>&1; "$prepare"; "$second" >/dev/null 2>&1
  for ((i = 0; i < runs; i++)); do
    "$prepare"; start=$(now); "$first" >/dev/null 2>&1; end=$(now)
    a+=($(( (end - start) / 1000 )))
    "$prepare"; start=$(now); "$second" >/dev/null 2>&1; end=$(now)
    b+=($(( (end - start) / 1000 )))
  done
  echo "$(median "${a[@]}") $(median "${b[@]}")"
}
median() {
  printf '%s\n' "$@" | sort -n |
    awk '{ t[NR] = $1 } END { m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2;
                              printf "%.2f\n", m / 1000 }'
}
nothing() { :; }
fresh_out() { rm -rf "$work/out"; mkdir "$work/out"; }
quarn_list() { "$quarn" list "$dump"; }
tar_list() { bsdtar -tvf "$work/sample.tar"; }
quarn_extract() { "$quarn" extract "$dump" -o "$work/out"; }
tar_extract() { bsdtar -xf "$work/sample.tar" -C "$work/out"; }

read -r quarn_list tar_list < <(median_pair_ms nothing quarn_list tar_list)
read -r quarn_extract tar_extract < <(median_pair_ms fresh_out quarn_extract tar_extract)

files=$(find "$work/tree" -type f | wc -l)
folders=$(find "$work/tree" -mindepth 1 -type d | wc -l)
bytes=$(find "$work/tree" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
echo "$files files, $folders folders, $bytes bytes; dump $(stat -c %s "$dump") bytes," \
  "tar $(stat -c %s "$work/sample.tar") bytes; median of $runs runs, warm cache"
awk -v ql="$quarn_list" -v tl="$tar_list" -v qe="$quarn_extract" -v te="$tar_extract" 'BEGIN {
  printf "%-9s %12s %12s %14s\n", "", "quarn ms", "bsdtar ms", "quarn/bsdtar"
  printf "%-9s %12.2f %12.2f %14.2f\n", "list", ql, tl, (tl > 0 ? ql / tl : 0)
  printf "%-9s %12.2f %12.2f %14.2f\n", "extract", qe, te, (te > 0 ? qe / te : 0)
}'
