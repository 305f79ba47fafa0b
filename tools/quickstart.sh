#!/usr/bin/env bash
# Builds the Linux plugin and the quarn command, writes a sample dump (no real
# dump can ship) and shows what Quarn makes of it: the listing, a test run and
# an extraction into build/sample-out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/linux"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF -DQUARN_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target quarn quarn_wcx make-sample >/dev/null

sample="$root/build/sample.bin"
"$build/make-sample" "$sample"
echo
echo "\$ quarn probe $sample"
"$build/quarn" probe "$sample"
echo
echo "\$ quarn list $sample"
"$build/quarn" list "$sample"
echo
echo "\$ quarn test $sample"
"$build/quarn" test "$sample"
echo
rm -rf "$root/build/sample-out"
echo "\$ quarn extract $sample -o build/sample-out"
"$build/quarn" extract "$sample" -o "$root/build/sample-out"
echo
echo "The plugin for Double Commander: $build/quarn.wcx"
