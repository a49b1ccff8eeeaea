#!/bin/sh
# The test command: every test once, built with AddressSanitizer and UBSan; the
# program built in Release, and its .deb package checked; a 30-second fuzz run of
# the whole dialogue. Details go to build-logs/; the last line is "N passed,
# M failed" (", K skipped" after it when a test was skipped), where N and M count
# the tests, with the Release build, the package and the fuzz run as one item
# each. Exit status 1 when anything failed.
set -u
cd "$(dirname "$0")/.."
jobs=2
logs=build-logs
mkdir -p "$logs"
passed=0
failed=0
skipped=0
start=$(date +%s)
elapsed() { echo "$(($(date +%s) - start)) s"; }

# One item's result: a line to read at a glance, and the count.
result() { # ok|fail text
  if [ "$1" = ok ]; then
    passed=$((passed + 1))
    echo "passed: $2 ($(elapsed))"
  else
    failed=$((failed + 1))
    echo "FAILED: $2 ($(elapsed))"
  fi
}

# The fuzz run builds with clang on its own: it goes alongside the Release build,
# after the tests, so that nothing else loads the machine while they run.
fuzz() {
  if fuzz/run.sh 30 >"$logs/fuzz.log" 2>&1; then echo ok; else echo fail; fi >"$logs/fuzz.status"
}

echo "building with AddressSanitizer and UBSan (log: $logs/asan-build.log)"
if cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVEL_SANITIZE=ON \
  -DCMAKE_REQUIRE_FIND_PACKAGE_GTest=ON >"$logs/asan-build.log" 2>&1 &&
  cmake --build build-asan -j"$jobs" >>"$logs/asan-build.log" 2>&1; then
  echo "running the tests (log: $logs/tests.log; built in $(elapsed))"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" >"$logs/tests.log" 2>&1
  # "100% tests passed, 0 tests failed out of 115"
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/tests.log")
  total=$(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')
  bad=$(echo "$summary" | sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/')
  # ctest counts a skipped test among the passed; here it is a count of its own.
  skipped=$(grep -c '(Skipped)$' "$logs/tests.log")
  if [ -n "$summary" ] && [ "$total" -gt 0 ]; then
    passed=$((passed + total - bad - skipped))
    failed=$((failed + bad))
    echo "tests: $((total - bad - skipped)) passed, $bad failed, $skipped skipped ($(elapsed))"
    sed -n '/tests failed out of/,$p' "$logs/tests.log" | grep -E '^[[:space:]]+[0-9]+ - ' || true
  else
    result fail "the tests did not run (see $logs/tests.log)"
  fi
else
  result fail "the sanitizer build (see $logs/asan-build.log)"
fi

fuzz &
fuzz_pid=$!
echo "building the program in Release and its package, and a 30-second fuzz run (logs: $logs/release-build.log, $logs/package.log, $logs/fuzz.log)"
# The program as users get it. Its install is not made to build every target
# first: the tests built in Release too would take a minute and check nothing
# the sanitizer build does not.
if cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  >"$logs/release-build.log" 2>&1 &&
  cmake --build build-rel -j"$jobs" --target orvel >>"$logs/release-build.log" 2>&1; then
  result ok "the program builds in Release"
  # The .deb of that build, checked without installing it.
  if doc/check_package.sh build-rel doc/orvel.1 >"$logs/package.log" 2>&1; then
    result ok "cpack -G DEB gives /usr/bin/orvel, stripped, and its manual page"
  else
    result fail "the package (see $logs/package.log)"
  fi
else
  result fail "the Release build (see $logs/release-build.log)"
fi
wait "$fuzz_pid"
runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$logs/fuzz.log")
if [ "$(cat "$logs/fuzz.status")" = ok ]; then
  result ok "fuzz run, 30 seconds, ${runs:-?} inputs"
else
  result fail "fuzz run (see $logs/fuzz.log; the input is in build-fuzz/artifacts/)"
fi

if [ "$skipped" -gt 0 ]; then
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
