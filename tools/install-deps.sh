#!/bin/sh
# Installs what the build and the tests need, where it is missing (Debian or Ubuntu, as root).
set -eu
missing=""
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v groff >/dev/null 2>&1 || missing="$missing groff-base"  # the manual page's test
# The exports' read-back test: Debian's own python3 and its vobject module.
/usr/bin/python3 -c 'import vobject' >/dev/null 2>&1 || missing="$missing python3 python3-vobject"
[ -f /usr/include/readline/readline.h ] || missing="$missing libreadline-dev"  # line editing
# The package's Depends: cpack -G DEB asks dpkg-shlibdeps for the program's libraries.
command -v dpkg-shlibdeps >/dev/null 2>&1 || missing="$missing dpkg-dev"
# The package's check runs Debian's package checker on the .deb.
command -v lintian >/dev/null 2>&1 || missing="$missing lintian"
[ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
command -v clang++ >/dev/null 2>&1 || missing="$missing clang"
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
  missing="$missing libclang-rt-dev"
[ -z "$missing" ] && exit 0
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# shellcheck disable=SC2086
apt-get install -y -q $missing
