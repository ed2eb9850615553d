#!/usr/bin/env bash
# `cmake --install` puts both programs, their manual pages, README and licence under the
# prefix, and nothing else, and the installed programs read the sample .xz file as the
# build's do.
# Usage: install_test.sh CMAKE BUILD_DIR SAMPLE_XZ MAN_PAGE XZ_MAN_PAGE
set -euo pipefail

cmake=$1
build_dir=$2
sample=$3
page=$4
xz_page=$5
prefix=$(mktemp -d "$build_dir/install-test.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

"$cmake" --install "$build_dir" --prefix "$prefix" >/dev/null
# What a user expects there, and no more: Debian's own files go into the .deb only.
printf '%s\n' ./bin/lzma2-chunks{,-xz} ./share/doc/lzma2-chunks/{LICENSE,README.md} \
  ./share/man/man1/lzma2-chunks{,-xz}.1.gz | LC_ALL=C sort |
  diff <(cd "$prefix" && find . ! -type d | LC_ALL=C sort) - >&2

binary=$prefix/bin/lzma2-chunks
installed_page=$prefix/share/man/man1/lzma2-chunks.1.gz
[ -x "$binary" ] || { echo "no executable $binary" >&2; exit 1; }
gzip -dc "$installed_page" | cmp "$page" -
gzip -dc "$prefix/share/man/man1/lzma2-chunks-xz.1.gz" | cmp "$xz_page" -

# With a 64 KiB stack, which the tool's buffers must not be on.
(ulimit -s 64 && exec "$binary" "$sample" 18) >"$prefix/out" ||
  { echo "installed binary failed on $sample" >&2; exit 1; }
"$build_dir/lzma2-chunks" "$sample" 18 | cmp - "$prefix/out" ||
  { echo "installed binary lists $sample otherwise than the build's" >&2; exit 1; }
(ulimit -s 64 && exec "$binary-xz" "$sample") >"$prefix/out-xz" ||
  { echo "installed lzma2-chunks-xz failed on $sample" >&2; exit 1; }
"$build_dir/lzma2-chunks-xz" "$sample" | cmp - "$prefix/out-xz" ||
  { echo "installed lzma2-chunks-xz reads $sample otherwise than the build's" >&2; exit 1; }
