#!/bin/sh
# Installs a build tree into a scratch prefix and checks that the program and its
# manual page land where users look for them, and that the installed program runs.
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
[ -x "$prefix/bin/orvel" ] || fail "no program at $prefix/bin/orvel"
cmp -s "$page" "$prefix/share/man/man1/orvel.1" || fail "no copy of $page at share/man/man1/orvel.1"

# The installed program quits with 4 then 1. In a session of its own it has no
# terminal to send its clear-screen codes to.
mkdir "$prefix/work"
cd "$prefix/work"
output=$(printf '4\n1\n' | setsid "$prefix/bin/orvel") || fail "the installed program exited with $?"
case $output in
  *Bye...) ;;
  *) fail "the installed program did not say Bye... on quitting: $output" ;;
esac
