#!/bin/sh
# The benchmark: a session of 300 customer adds and 300 searches typed through a
# pipe, timed against the floor program, which does only the same file input and
# output. bench/run.sh [rounds], 5 by default; prints the medians, the ratio and
# the program's peak memory. A second floor also flushes the directory after each
# rename, as the program's saves do, to show what that flush costs.
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
r=0
while [ $r -lt "$rounds" ]; do
  measure "$build/orvel" >>"$work/program"
  if grep -q 'File Not' "$work/out" || ! tail -c 7 "$work/out" | grep -q 'Bye'; then
    echo "bench: the session did not run as scripted" >&2
    exit 1
  fi
  measure "$build/floor" $adds $searches >>"$work/floor"
  measure "$build/floor" $adds $searches sync-dir >>"$work/floor_dir"
  r=$((r + 1))
done

program_us=$(cut -d' ' -f1 "$work/program" | median)
floor_us=$(cut -d' ' -f1 "$work/floor" | median)
floor_dir_us=$(cut -d' ' -f1 "$work/floor_dir" | median)
program_kb=$(cut -d' ' -f2 "$work/program" | sort -n | tail -1)
echo "session: $adds adds, $searches searches, $rounds rounds (median wall time)"
echo "program: $((program_us / 1000)) ms, peak memory $program_kb kB"
echo "floor:   $((floor_us / 1000)) ms; with the directory flushed too: $((floor_dir_us / 1000)) ms"
awk -v p="$program_us" -v f="$floor_us" -v d="$floor_dir_us" \
  'BEGIN { printf "ratio program/floor: %.2f (against the floor that flushes the directory: %.2f)\n", p / f, p / d }'
