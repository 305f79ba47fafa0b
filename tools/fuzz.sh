#!/usr/bin/env bash
# Builds the fuzz target with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz, writes its seed dumps, and
# fuzzes for SECONDS (default 60). The corpus grows in build/fuzz/corpus and
# is kept between runs; an input that crashes or hangs is saved in
# build/fuzz/artifacts and the run fails. Replay one with
#   build/fuzz/fuzz/quarn_fuzz build/fuzz/artifacts/crash-...
# and keep it as a named case in tests/unit/fuzz_regression_test.cpp.
#
#   tools/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$root/build/fuzz"

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ is missing (apt-get install clang libclang-rt-14-dev)" >&2
  exit 1
fi
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUARN_FUZZ=ON -DQUARN_TESTS=OFF -DQUARN_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target quarn_fuzz quarn_fuzz_seeds
mkdir -p "$build/corpus" "$build/artifacts"
"$build/fuzz/quarn_fuzz_seeds" "$build/corpus"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== Fuzzing for $seconds s"
"$build/fuzz/quarn_fuzz" "$build/corpus" -dict="$root/fuzz/quarn.dict" \
  -max_total_time="$seconds" -timeout=10 \
  -rss_limit_mb=2048 -max_len=262144 -artifact_prefix="$build/artifacts/" -print_final_stats=1 \
  2>&1 | grep -E '^(#[0-9]+ +DONE|cov:|stat::number_of_executed_units|stat::peak_rss|==[0-9]+==|SUMMARY|artifact_prefix|Test unit written)' || true
# libFuzzer's status is lost in the pipe: a saved artifact tells a failure.
if compgen -G "$build/artifacts/*" >/dev/null; then
  echo "fuzz: inputs that fail are in $build/artifacts" >&2
  exit 1
fi
echo "fuzz: no crash, hang or sanitizer report"
