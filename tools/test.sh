#!/bin/sh
# The test command: every test once, built with AddressSanitizer and UBSan; the
# program built in Release, and its .deb package checked (with lintian, where it is
# installed); a 30-second fuzz run of the whole dialogue. Details go to build-logs/;
# the last line is "N passed, M failed" (", K skipped" after it when something was
# skipped), where N and M count the tests, with the Release build, the package,
# lintian and the fuzz run as one item each. Exit status 1 when anything failed.
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

# One item's result: a line to read at a glance, and the count. The time is when
# the item ended (now, unless given).
result() { # ok|fail|skip text [seconds]
  at=${3:-$(($(date +%s) - start))}
  case $1 in
    ok) passed=$((passed + 1)) && echo "passed: $2 ($at s)" ;;
    skip) skipped=$((skipped + 1)) && echo "skipped: $2 ($at s)" ;;
    *) failed=$((failed + 1)) && echo "FAILED: $2 ($at s)" ;;
  esac
}

# Two lanes run beside the sanitizer build and the tests, which mostly wait on the
# program and on sleeps: the fuzz run from the start, as its 30 seconds are a fixed
# time on one core, and the Release build and the package from when the tests start.
# Each step leaves "STATUS SECONDS" in build-logs/STEP.status for the lines at the
# end. Nothing is niced: other developers' builds share the machine, and a niced
# step waits for all of them (a starved fuzz input could also outlast its timeout).
finish() { # step status
  echo "$2 $(($(date +%s) - start))" >"$logs/$1.status"
}
status() { # step: sets code and at from its file; a failure now if it left none
  code=1
  at=$(($(date +%s) - start))
  if [ -f "$logs/$1.status" ]; then read -r code at <"$logs/$1.status"; fi
}
release_lane() {
  # The program as users get it, alone: its install does not build the tests first.
  if cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release >"$logs/release-build.log" 2>&1 &&
    cmake --build build-rel -j"$jobs" --target orvel >>"$logs/release-build.log" 2>&1; then
    finish release 0
    # The .deb of that build, checked without installing it: status 1 for a failed
    # check of the package, 2 for lintian's, 77 for no lintian.
    doc/check_package.sh build-rel doc >"$logs/package.log" 2>&1
    finish package $?
  else
    finish release 1
  fi
}
fuzz_lane() {
  fuzz/run.sh 30 >"$logs/fuzz.log" 2>&1
  finish fuzz $?
}

rm -f "$logs"/*.status
echo "building with AddressSanitizer and UBSan, and a 30-second fuzz run beside it (logs: $logs/asan-build.log, $logs/fuzz.log)"
fuzz_lane &
fuzz_pid=$!
if cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVEL_SANITIZE=ON \
  -DCMAKE_REQUIRE_FIND_PACKAGE_GTest=ON >"$logs/asan-build.log" 2>&1 &&
  cmake --build build-asan -j"$jobs" >>"$logs/asan-build.log" 2>&1; then
  echo "running the tests, and the program built in Release and its package beside them (logs: $logs/tests.log, $logs/release-build.log, $logs/package.log; built in $(elapsed))"
  release_lane &
  release_pid=$!
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
  echo "building the program in Release and its package (logs: $logs/release-build.log, $logs/package.log)"
  release_lane &
  release_pid=$!
fi

wait "$release_pid"
status release
if [ "$code" = 0 ]; then
  result ok "the program builds in Release" "$at"
  status package
  case $code in
    0 | 2 | 77)
      result ok "cpack -G DEB gives the program, stripped, its manual page compressed, copyright and changelog" "$at"
      case $code in
        0) result ok "lintian finds no error or warning in the package" "$at" ;;
        2) result fail "lintian on the package (see $logs/package.log)" "$at" ;;
        *) result skip "lintian on the package: lintian is not installed" "$at" ;;
      esac
      ;;
    *) result fail "the package (see $logs/package.log)" "$at" ;;
  esac
else
  result fail "the Release build (see $logs/release-build.log)" "$at"
fi
wait "$fuzz_pid"
runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$logs/fuzz.log")
status fuzz
if [ "$code" = 0 ]; then
  result ok "fuzz run, 30 seconds, ${runs:-?} inputs" "$at"
else
  result fail "fuzz run (see $logs/fuzz.log; the input is in build-fuzz/artifacts/)" "$at"
fi

if [ "$skipped" -gt 0 ]; then
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
