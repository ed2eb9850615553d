#!/usr/bin/env bash
# The manual page renders without a single groff warning, and its EXIT STATUS section
# lists exactly the statuses the real binary returns.
# Usage: man_page_test.sh MAN_PAGE BINARY
set -euo pipefail

page=$1
binary=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# groff exits 0 even when it warns, so any text on stderr is the failure.
groff -man -ww -z "$page" 2>"$tmp/warnings"
if [ -s "$tmp/warnings" ]; then
  echo "groff warnings in $page:" >&2
  cat "$tmp/warnings" >&2
  exit 1
fi

# The tags of the EXIT STATUS section, from the page as a reader sees it.
groff -man -Tascii -P-cbou "$page" 2>/dev/null \
  | awk '/^EXIT STATUS/ { in_section = 1; next }
         /^[A-Z]/ { in_section = 0 }
         in_section && /^ +[0-9]+( |$)/ { print $1 }' \
  | sort -u >"$tmp/documented"

# The statuses the binary returns, one way to get each: run OUTPUT COMMAND...
run() {
  local output=$1
  shift
  "$@" >"$output" 2>/dev/null && echo 0 || echo $?
}
printf '\0' >"$tmp/end-marker"
{
  run /dev/null "$binary" "$tmp/end-marker" 0
  run /dev/null "$binary" "$tmp/missing" 0
  run /dev/null "$binary" "$tmp" 0
  run /dev/full "$binary" "$tmp/end-marker" 0
  run /dev/null "$binary"
} | sort -u >"$tmp/returned"

if ! diff -u "$tmp/returned" "$tmp/documented" >&2; then
  echo "exit statuses returned (-) and documented (+) in $page differ" >&2
  exit 1
fi
