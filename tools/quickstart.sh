#!/usr/bin/env bash
# Builds the Linux plugin and the quarn command, writes a sample dump (no real
# dump can ship) and shows what Quarn makes of it: the listing, a test run and
# an extraction into build/sample-out, checked against the files the sample
# was made of.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/linux"

# As root, installs what the build needs if it is missing (QUARN_NO_INSTALL=1:
# never); as anyone else, says what is missing.
if [ "${QUARN_NO_INSTALL:-0}" != 1 ]; then
  source "$root/tools/install.sh"
  install_missing cmake make g++
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF -DQUARN_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target quarn quarn_wcx make-sample >/dev/null

sample="$root/build/sample.bin"
rm -rf "$root/build/sample-tree"
"$build/make-sample" --tree "$root/build/sample-tree" "$sample"
echo
echo "\$ quarn probe $sample"
"$build/quarn" probe "$sample"
echo
echo "\$ quarn list $sample"
"$build/quarn" list "$sample" >"$root/build/sample-list.txt"
# The disks and their top folders, and a few of the many files.
awk 'NR <= 2 { print; next }
  /^---/ { exit }
  { name = substr($0, 41); depth = gsub("/", "/", name) }
  depth == 0 || (depth == 1 && name !~ /eeprom 1_/) ||
    name ~ /eeprom 1_(0|5000)\.|block (60001|820)\.bin|Музыка/ { print }' "$root/build/sample-list.txt"
echo "   ... (the whole listing: build/sample-list.txt)"
tail -n 2 "$root/build/sample-list.txt"
echo
echo "\$ quarn test $sample"
"$build/quarn" test "$sample"
echo
rm -rf "$root/build/sample-out"
echo "\$ quarn extract $sample -o build/sample-out"
"$build/quarn" extract "$sample" -o "$root/build/sample-out"
echo
echo "\$ diff -r build/sample-tree build/sample-out"
diff -r "$root/build/sample-tree" "$root/build/sample-out"
echo "The extraction holds exactly the files the sample was made of."
echo
echo "\$ quarn list --deleted $sample '*/Deleted'"
"$build/quarn" list --deleted "$sample" '*/Deleted'
echo "(what the phone deleted and the flash still holds: 'quarn extract --deleted' gets it back)"
echo
echo "The plugin for Double Commander: $build/quarn.wcx"
