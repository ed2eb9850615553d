#!/usr/bin/env bash
# `cmake --install` puts the binary and the manual page under the prefix, and the installed
# binary walks the sample .xz file to its end marker.
# Usage: install_test.sh CMAKE BUILD_DIR SAMPLE_XZ MAN_PAGE
set -euo pipefail

cmake=$1
build_dir=$2
sample=$3
page=$4
[ -f "$sample" ] || { echo "missing sample $sample" >&2; exit 1; }
prefix=$(mktemp -d "$build_dir/install-test.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

"$cmake" --install "$build_dir" --prefix "$prefix" >/dev/null

binary=$prefix/bin/lzma2-chunks
installed_page=$prefix/share/man/man1/lzma2-chunks.1.gz
[ -x "$binary" ] || { echo "no executable $binary" >&2; exit 1; }
gzip -dc "$installed_page" | cmp "$page" -

status=0
"$binary" "$sample" 18 >"$prefix/out" || status=$?
if [ "$status" -ne 0 ]; then
  echo "installed binary exited with $status on $sample" >&2
  exit 1
fi
# The closing line has no line feed: the file ends in ": 00 " exactly, and that is its
# last line.
out=$prefix/out
if [ "$(head -n 1 "$out")" != "ofs=18" ] || [ "$(tail -c 5 "$out"; echo x)" != ": 00 x" ] ||
   ! tail -n 1 "$out" | grep -Eqx '[0-9A-F]{8,}: 00 '; then
  echo "unexpected output on $sample:" >&2
  cat "$out" >&2
  exit 1
fi
