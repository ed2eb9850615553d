#!/usr/bin/env bash
# Remakes examples/sample.xz: a small real .xz file whose one block holds its LZMA2 data at
# 0x18. Numbers compress well; the xz output in the middle does not, so the stream holds
# more than one kind of chunk.
set -euo pipefail
cd "$(dirname "$0")/.."
{ seq 1 20000; seq 1 400000 | xz -9 -T1 | head -c 70000; seq 1 30000; } |
  xz --format=xz --check=crc64 -6 -T1 >examples/sample.xz
