#!/bin/sh
# A bounded fuzz run of the whole dialogue from the seed corpus and the kept
# regressions: fuzz/run.sh [seconds], 50 by default. Non-zero on any crash,
# hang or sanitizer report; the input that caused it is left in build-fuzz/artifacts/.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-50}
build="$root/build-fuzz"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DORVEL_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target fuzz_dialogue -j2

# The fuzzer adds to the corpus it is given: work on a copy. Paths are absolute,
# as the target works in a directory of its own.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$build/artifacts"
cp "$root"/fuzz/corpus/* "$work/corpus/"
if [ -d "$root/fuzz/regressions" ]; then
  find "$root/fuzz/regressions" -type f -exec cp {} "$work/corpus/" \;
fi
"$build/fuzz/fuzz_dialogue" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=8192 -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$work/corpus"
