#!/bin/sh
# Makes the .deb of a Release build tree with `cpack -G DEB` and checks it without
# installing it: the program, stripped, at /usr/bin/orvel and its manual page, nothing
# else, and a Depends line worked out by dpkg-shlibdeps.
# Usage: check_package.sh BUILD_DIR PAGE
set -eu
build=$1
page=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "$1"
  exit 1
}
grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" ||
  fail "$build is not a Release build"
(cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 ||
  fail "cpack -G DEB failed: $(cat "$work/cpack.log")"
set -- "$work"/out/orvel_*.deb
[ -f "$1" ] || fail "cpack made no orvel_*.deb: $(cat "$work/cpack.log")"
deb=$1

# Every entry but the directories, as "mode path": exactly the program and the page.
files=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $1, $6 }')
expected="-rwxr-xr-x ./usr/bin/orvel
-rw-r--r-- ./usr/share/man/man1/orvel.1"
[ "$files" = "$expected" ] || fail "the package holds:
$files
instead of:
$expected"

# The control's Depends comes from the program's libraries: the C runtime and
# readline (the C++ runtime is linked into the program).
depends=$(dpkg-deb --field "$deb" Depends)
case $depends in
  *libc6\ \(*libreadline8\ \(*) ;;
  *) fail "Depends is not the libraries' worked-out list: '$depends'" ;;
esac

# The files themselves, unpacked beside the package (not installed).
dpkg-deb --extract "$deb" "$work/root"
cmp -s "$page" "$work/root/usr/share/man/man1/orvel.1" || fail "the manual page is not $page"
sections=$(readelf -S --wide "$work/root/usr/bin/orvel") || fail "the program is not an ELF file"
case $sections in
  *.symtab* | *.debug_*) fail "the program is not stripped" ;;
esac
