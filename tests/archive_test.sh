#!/usr/bin/env bash
# A release archive holds the tool, its manual page, README and licence, and the tool in it
# lists the sample exactly as the native build does.
# Usage: archive_test.sh ARCHIVE SAMPLE_XZ NATIVE_BINARY [RUNNER...]
# With a RUNNER (qemu, wine) the tool in the archive runs under it; a .zip is for Windows,
# whose lines end in CR LF.
set -euo pipefail
archive=$1 sample=$2 native=$3
shift 3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "$archive: $*" >&2; exit 1; }

(cd "$tmp" && cmake -E tar xf "$archive")
top=$tmp/$(basename "$archive" | sed -E 's/\.(zip|tar\.gz)$//')
[ -d "$top" ] || fail "no folder $(basename "$top") inside"
"$native" "$sample" 18 >"$tmp/expected"
if [[ $archive == *.zip ]]; then
  for f in lzma2-chunks.exe README.md LICENSE.txt lzma2-chunks.txt; do
    [ -f "$top/$f" ] || fail "no $f"
  done
  grep -q 'EXIT STATUS' "$top/lzma2-chunks.txt" || fail "manual page not rendered"
  grep -q longPathAware "$top/lzma2-chunks.exe" || fail "no manifest that allows long paths"
  binary=$top/lzma2-chunks.exe
  sed -i 's/$/\r/; $ s/\r$//' "$tmp/expected"
else
  for f in bin/lzma2-chunks share/man/man1/lzma2-chunks.1.gz share/doc/lzma2-chunks/README.md \
    share/doc/lzma2-chunks/LICENSE; do
    [ -f "$top/$f" ] || fail "no $f"
  done
  binary=$top/bin/lzma2-chunks
  file "$binary" | grep -q 'statically linked' || fail "binary is not statically linked"
fi
# Copied next to the tool, so that Wine sees it under a plain name.
cp "$sample" "$tmp/sample.xz"
(cd "$tmp" && "$@" "$binary" sample.xz 18 >"$tmp/got") || fail "tool in the archive failed"
cmp "$tmp/expected" "$tmp/got" || fail "tool in the archive lists the sample differently"
echo "$archive: ok"
