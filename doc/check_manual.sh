#!/bin/sh
# Renders the manual page as man(1) would and fails on any warning groff gives.
# Usage: check_manual.sh PAGE. Fails where groff is not installed: it is a test
# requirement (tools/install-deps.sh installs it).
set -u
page=$1
command -v groff >/dev/null 2>&1 || { echo "groff is not installed (tools/install-deps.sh installs it)"; exit 1; }
status=0
# -ww turns on every warning; -z formats without output, -Tutf8 as a terminal shows it.
for device in "-z" "-Tutf8"; do
  # groff reports warnings on stderr and still exits 0: its stderr is the verdict.
  warnings=$(groff -man -ww "$device" "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    printf 'groff -man -ww %s %s:\n%s\n' "$device" "$page" "$warnings"
    status=1
  fi
done
exit $status
