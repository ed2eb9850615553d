#!/usr/bin/env bash
# Remakes examples/sample.xz (or the file named): a small real .xz file whose one block
# holds its LZMA2 data at 0x18. Numbers compress well; the xz output at the end does not, so
# the stream holds more than one kind of chunk. That output is cut from a whole file rather
# than a pipe, which head would close early and kill xz with SIGPIPE.
set -euo pipefail
out=$(realpath "${1:-$(dirname "$0")/sample.xz}")
packed=$(mktemp)
trap 'rm -f "$packed"' EXIT
seq 1 400000 | xz -9 -T1 >"$packed"
{ seq 1 20000; seq 1 30000; head -c 70000 "$packed"; } |
  xz --format=xz --check=crc64 -6 -T1 >"$out"
