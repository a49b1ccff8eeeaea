#!/bin/sh
# The benchmark: a session of 300 customer adds and 300 searches typed through a
# pipe, timed against the floor program, which does only the same file input and
# output. bench/run.sh [rounds], 5 by default; prints the medians and the best
# times, the ratios and the program's peak memory. A second floor also flushes the
# directory after each rename, as the program's saves do (the flushing floor); a
# third also locks the file and reads it whole before each save, and locks it
# shared around each read (the guard floor): what two sessions need at least.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
adds=300
searches=300
build="$root/build-bench"
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" --target orvel -j2 >/dev/null
${CXX:-c++} -O2 -std=c++20 -o "$build/floor" "$root/bench/floor.cc"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
session="$work/session"
{
  echo 1
  i=1
  while [ $i -le $adds ]; do
    printf '1\nSurname%d\nFirst Names %d\nMR\n%d\n%d High Street\nOld Town\nLeeds\nLS%d\n1/2/1970\n0113%d\n6/12/2026\n' \
      $i $i $i $i $((i % 1000)) $i
    i=$((i + 1))
  done
  i=1
  while [ $i -le $searches ]; do
    printf '2\n1\n%d\n3\n' $(((i - 1) % adds + 1))
    i=$((i + 1))
  done
  printf '5\n4\n1\n'
} >"$session"

now() { date +%s%N; }

# Runs one command in a fresh directory with the session on a pipe and no
# controlling terminal; prints its wall time in microseconds and peak memory in kB.
measure() {
  dir="$work/run"
  rm -rf "$dir" && mkdir "$dir"
  start=$(now)
  (cd "$dir" && cat "$session" | /usr/bin/time -f %M -o "$work/rss" setsid "$@" >"$work/out")
  end=$(now)
  [ -s "$dir/customer.dat" ] && [ "$(wc -c <"$dir/customer.dat")" -eq 90000 ] ||
    { echo "bench: $1 left no whole customer.dat" >&2; exit 1; }
  echo "$(((end - start) / 1000)) $(cat "$work/rss")"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$work/program"
: >"$work/floor"
: >"$work/floor_dir"
: >"$work/floor_guard"
r=0
while [ $r -lt "$rounds" ]; do
  measure "$build/orvel" >>"$work/program"
  if grep -q 'File Not' "$work/out" || ! tail -c 7 "$work/out" | grep -q 'Bye'; then
    echo "bench: the session did not run as scripted" >&2
    exit 1
  fi
  measure "$build/floor" $adds $searches >>"$work/floor"
  measure "$build/floor" $adds $searches sync-dir >>"$work/floor_dir"
  measure "$build/floor" $adds $searches guard >>"$work/floor_guard"
  r=$((r + 1))
done

# The median and the best wall time of one command's rounds, in microseconds.
med() { cut -d' ' -f1 "$work/$1" | median; }
best() { cut -d' ' -f1 "$work/$1" | sort -n | head -1; }
program_us=$(med program) program_best=$(best program)
floor_us=$(med floor) floor_best=$(best floor)
floor_dir_us=$(med floor_dir) floor_dir_best=$(best floor_dir)
floor_guard_us=$(med floor_guard) floor_guard_best=$(best floor_guard)
program_kb=$(cut -d' ' -f2 "$work/program" | sort -n | tail -1)
echo "session: $adds adds, $searches searches, $rounds rounds (median wall time; best in brackets)"
echo "program:        $((program_us / 1000)) ms ($((program_best / 1000))), peak memory $program_kb kB"
echo "plain floor:    $((floor_us / 1000)) ms ($((floor_best / 1000)))"
echo "flushing floor: $((floor_dir_us / 1000)) ms ($((floor_dir_best / 1000)))"
echo "guard floor:    $((floor_guard_us / 1000)) ms ($((floor_guard_best / 1000)))"
awk -v p="$program_us" -v d="$floor_dir_us" -v g="$floor_guard_us" \
  -v pb="$program_best" -v db="$floor_dir_best" -v gb="$floor_guard_best" \
  'BEGIN { printf "ratio program/flushing floor: %.2f (best %.2f); program/guard floor: %.2f (best %.2f); guard floor/flushing floor: %.2f\n", p / d, pb / db, p / g, pb / gb, g / d }'
