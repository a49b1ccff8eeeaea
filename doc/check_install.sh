#!/bin/sh
# Installs a build tree into a scratch prefix and checks that the program, its
# manual page (compressed, as man reads it), the copyright and the changelog land
# where users look for them, nothing else, and that the installed program runs.
# Usage: check_install.sh CMAKE BUILD_DIR PAGE
set -eu
cmake=$1
build=$2
page=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

fail() {
  echo "$1"
  exit 1
}
files=$(cd "$prefix" && find . -type f | LC_ALL=C sort)
expected="./bin/orvel
./share/doc/orvel/changelog.gz
./share/doc/orvel/copyright
./share/man/man1/orvel.1.gz"
[ "$files" = "$expected" ] || fail "the install gives:
$files
instead of:
$expected"
[ -x "$prefix/bin/orvel" ] || fail "the program at $prefix/bin/orvel is not executable"
gzip -dc "$prefix/share/man/man1/orvel.1.gz" | cmp -s "$page" - ||
  fail "share/man/man1/orvel.1.gz is not $page"

# The installed program quits with 4 then 1. In a session of its own it has no
# terminal to send its clear-screen codes to.
mkdir "$prefix/work"
cd "$prefix/work"
output=$(printf '4\n1\n' | setsid "$prefix/bin/orvel") || fail "the installed program exited with $?"
case $output in
  *Bye...) ;;
  *) fail "the installed program did not say Bye... on quitting: $output" ;;
esac
