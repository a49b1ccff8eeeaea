#!/bin/sh
# Makes the .deb of a Release build tree with `cpack -G DEB` and checks it without
# installing it: the program, stripped, at /usr/bin/orvel, the manual page compressed,
# the copyright and the changelog, nothing else; a Depends line worked out by
# dpkg-shlibdeps; then lintian, where it is installed, with no error or warning.
# Exit status 1 when a check before lintian failed, 2 when lintian did, and 77
# when all the rest passed and lintian is not installed.
# Usage: check_package.sh BUILD_DIR DOC_DIR (DOC_DIR holds orvel.1, copyright, changelog)
set -eu
build=$1
doc=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "$1"
  exit 1
}
grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" ||
  fail "$build is not a Release build"
touch "$work/before"
(cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 ||
  fail "cpack -G DEB failed: $(cat "$work/cpack.log")"
# cpack installs what the folder has built; it does not build the tests first.
built=$(find "$build" -name '*.o' -newer "$work/before")
[ -z "$built" ] || fail "cpack built more first: $built"
set -- "$work"/out/orvel_*.deb
[ -f "$1" ] || fail "cpack made no orvel_*.deb: $(cat "$work/cpack.log")"
deb=$1

# Every entry but the directories, as "mode path".
files=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $1, $6 }')
expected="-rwxr-xr-x ./usr/bin/orvel
-rw-r--r-- ./usr/share/doc/orvel/changelog.gz
-rw-r--r-- ./usr/share/doc/orvel/copyright
-rw-r--r-- ./usr/share/man/man1/orvel.1.gz"
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
# The changelog's latest entry is this version's, by the package's maintainer.
for field in Version Maintainer; do
  [ "$(dpkg-parsechangelog -l "$doc/changelog" -S "$field")" = "$(dpkg-deb --field "$deb" "$field")" ] ||
    fail "the changelog's latest $field is not the package's: $(dpkg-deb --field "$deb" "$field")"
done

# The files themselves, unpacked beside the package (not installed).
root=$work/root
dpkg-deb --extract "$deb" "$root"
gzip -dc "$root/usr/share/man/man1/orvel.1.gz" | cmp -s "$doc/orvel.1" - ||
  fail "the manual page is not $doc/orvel.1"
gzip -dc "$root/usr/share/doc/orvel/changelog.gz" | cmp -s "$doc/changelog" - ||
  fail "the changelog is not $doc/changelog"
cmp -s "$doc/copyright" "$root/usr/share/doc/orvel/copyright" ||
  fail "the copyright is not $doc/copyright"
sections=$(readelf -S --wide "$root/usr/bin/orvel") || fail "the program is not an ELF file"
case $sections in
  *.symtab* | *.debug_*) fail "the program is not stripped" ;;
esac

if ! command -v lintian >/dev/null 2>&1; then
  echo "lintian is not installed: not run"
  exit 77
fi
# Errors and warnings fail; infos are shown too, as a missing hardening flag is only
# an info to lintian, and the program is built to have them all. --no-cfg keeps a
# user's lintianrc from hiding tags.
echo "lintian $(lintian --version)"
status=0
lintian --no-cfg --fail-on error,warning --display-level '>=info' --show-overrides "$deb" \
  >"$work/lintian.log" 2>&1 || status=$?
cat "$work/lintian.log"
if [ "$status" -ne 0 ]; then
  echo "lintian failed the package (status $status)"
  exit 2
fi
if grep -q ' hardening-' "$work/lintian.log"; then
  echo "the program lacks a hardening flag"
  exit 2
fi
