#!/usr/bin/env bash
# A release archive holds both programs, their manual pages, README and licence, and the
# programs in it read the sample exactly as the native builds do.
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
"$native-xz" "$sample" >"$tmp/expected-xz"
if [[ $archive == *.zip ]]; then
  for f in lzma2-chunks.exe lzma2-chunks-xz.exe README.md LICENSE.txt lzma2-chunks.txt \
    lzma2-chunks-xz.txt; do
    [ -f "$top/$f" ] || fail "no $f"
  done
  for f in lzma2-chunks lzma2-chunks-xz; do
    grep -q 'EXIT STATUS' "$top/$f.txt" || fail "manual page $f not rendered"
    grep -q longPathAware "$top/$f.exe" || fail "no manifest that allows long paths in $f.exe"
  done
  binary=$top/lzma2-chunks.exe
  xz_binary=$top/lzma2-chunks-xz.exe
  # The Windows build has no liblzma: it judges by structure alone, and says so.
  "$native-xz" --structure "$sample" >"$tmp/expected-xz"
  sed -i 's/$/\r/; $ s/\r$//' "$tmp/expected"
  sed -i 's/$/\r/' "$tmp/expected-xz"
else
  for f in bin/lzma2-chunks bin/lzma2-chunks-xz share/man/man1/lzma2-chunks.1.gz \
    share/man/man1/lzma2-chunks-xz.1.gz share/doc/lzma2-chunks/README.md \
    share/doc/lzma2-chunks/LICENSE; do
    [ -f "$top/$f" ] || fail "no $f"
  done
  binary=$top/bin/lzma2-chunks
  xz_binary=$top/bin/lzma2-chunks-xz
  for b in "$binary" "$xz_binary"; do
    file "$b" | grep -q 'statically linked' || fail "$b is not statically linked"
  done
fi
# Copied next to the tool, so that Wine sees it under a plain name.
cp "$sample" "$tmp/sample.xz"
(cd "$tmp" && "$@" "$binary" sample.xz 18 >"$tmp/got") || fail "tool in the archive failed"
cmp "$tmp/expected" "$tmp/got" || fail "tool in the archive lists the sample differently"
(cd "$tmp" && "$@" "$xz_binary" sample.xz >"$tmp/got-xz") || fail "lzma2-chunks-xz in the archive failed"
cmp "$tmp/expected-xz" "$tmp/got-xz" || fail "lzma2-chunks-xz in the archive reads the sample differently"
echo "$archive: ok"
