#!/bin/sh
# Builds and runs every test: a plain build, then one with AddressSanitizer and UBSan.
set -eu
cd "$(dirname "$0")/.."
jobs=2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVEL_SANITIZE=ON
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
# A short fuzz run of the whole dialogue from the seed corpus (clang's libFuzzer).
fuzz/run.sh 30
