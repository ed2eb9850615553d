#!/usr/bin/env bash
# Remakes examples/sample.xz from the tool's own sources: a small real .xz file whose one
# block holds its LZMA2 data at 0x18.
set -euo pipefail
cd "$(dirname "$0")/.."
cat src/*.h src/*.cpp | xz --format=xz --check=crc64 -6 -T1 > examples/sample.xz
