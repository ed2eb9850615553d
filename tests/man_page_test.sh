#!/usr/bin/env bash
# A manual page renders without a single groff warning, and each status in its EXIT STATUS
# section means what it says: for each cause the page gives, the real binary returns that
# status. The page's name says which program it is for.
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

# The section as a reader sees it, one line a status, without hyphens that split words.
groff -man -rHY=0 -rLL=2000n -Tascii -P-cbou "$page" 2>/dev/null |
  awk '/^EXIT STATUS/ { on = 1; next } /^[A-Z]/ { on = 0 } on && NF { $1 = $1; print }' \
    >"$tmp/statuses"

# expect STATUS TAG PHRASE COMMAND: bash runs COMMAND, which must return STATUS, and the page
# must say PHRASE under TAG.
failed=0
expect() {
  local got=0
  bash -c "$4" >/dev/null 2>&1 || got=$?
  [ "$got" = "$1" ] || { echo "returns $got, not $1: $4" >&2; failed=1; }
  grep -E "^$2 " "$tmp/statuses" | grep -qF -- "$3" ||
    { echo "$page does not say under status $2: $3" >&2; failed=1; }
}
export binary tmp
case $(basename "$page") in
lzma2-chunks.1)
  printf '\0' >"$tmp/end-marker"
  # More lines than a pipe holds, so that the tool still writes when its reader has gone.
  printf '\001\000\000a%.0s' $(seq 20000) >"$tmp/chunks"
  expect 0 0 "whatever it found" '"$binary" "$tmp/end-marker" 0'
  expect 0 0 "--help" '"$binary" --help'
  expect 1 1 "does not exist" '"$binary" "$tmp/missing" 0'
  expect 1 1 "is a directory" '"$binary" "$tmp" 0'
  # And nothing printed, which the status alone would not show.
  expect 1 1 "open only for writing" 'out=$("$binary" - 0 0>/dev/null) || [ -n "$out" ]'
  expect 1 1 "read error" '"$binary" /proc/self/mem 0'
  expect 1 1 "/dev/full" '"$binary" "$tmp/end-marker" 0 >/dev/full'
  expect 1 1 "cannot be written" '"$binary" "$tmp/chunks" 0 >/dev/full'
  expect 1 1 "cannot be written" '"$binary" --help >/dev/full'
  expect 1 1 "cannot be written" '"$binary" --version >/dev/full'
  expect 141 1 "status 141" \
    'env --default-signal=PIPE "$binary" "$tmp/chunks" 0 | head -c 1; exit ${PIPESTATUS[0]}'
  expect 1 1 "1 instead when SIGPIPE is ignored" \
    'env --ignore-signal=PIPE "$binary" "$tmp/chunks" 0 | head -c 1; exit ${PIPESTATUS[0]}'
  expect 2 2 "Fewer than two arguments" '"$binary"'
  ;;
lzma2-chunks-xz.1)
  # An empty stream (header, index, footer) as xz writes it for no input, and the same with the
  # CRC32 of its header changed.
  stream() { printf '\3757zXZ\0\0\4%s\0\0\0\0\34\337\104\41\37\266\363\175\1\0\0\0\0\4YZ' "$1"; }
  stream $'\346\326\264\106' >"$tmp/intact.xz"
  stream $'\346\326\264\107' >"$tmp/damaged.xz"
  printf 'no stream here\n' >"$tmp/plain"
  expect 0 0 "every stream is intact" '"$binary" "$tmp/intact.xz"'
  expect 0 0 "--help" '"$binary" --help'
  expect 1 1 "damaged" '"$binary" "$tmp/damaged.xz"'
  expect 1 1 "does not exist" '"$binary" "$tmp/missing"'
  # A named pipe with no writer is refused too, not waited on.
  expect 1 1 "is a pipe" \
    '{ printf x | "$binary" -; [ $? = 1 ]; } && mkfifo "$tmp/fifo" && timeout 10 "$binary" "$tmp/fifo"'
  expect 1 1 "no stream is found" '"$binary" "$tmp/plain"'
  expect 2 2 "No FILE" '"$binary"'
  expect 2 2 "an option is unknown" '"$binary" --scan --unknown'
  expect 1 1 "/dev/full" '"$binary" "$tmp/intact.xz" >/dev/full'
  expect 2 2 "too many arguments" '"$binary" "$tmp/intact.xz" "$tmp/intact.xz"'
  # The damaged file's example, recipe included, as the page renders it: each "$ " line and
  # the lines that go on with it run, and the other lines must be their output.
  groff -man -rHY=0 -rLL=2000n -Tascii -P-cbou "$page" 2>/dev/null |
    sed -n '/^ *\$ seq 1 100000 > lines.txt$/,/^ *same$/{s/^              //p}' >"$tmp/shown"
  grep -E '^(\$ |    )' "$tmp/shown" | sed 's/^\$ //' >"$tmp/example.sh"
  bin_dir=$(cd "$(dirname "$binary")" && pwd)
  (cd "$tmp" && PATH=$bin_dir:$PATH bash -v example.sh 2>&1) |
    sed 's/ *$//' | diff - <(sed 's/^\$ //' "$tmp/shown") >&2 ||
    { echo "$page: the damaged file's example prints other lines" >&2; failed=1; }
  ;;
*)
  echo "no statuses known for $page" >&2
  exit 1
  ;;
esac
exit "$failed"
