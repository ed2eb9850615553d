#!/usr/bin/env bash
# examples/make_sample.sh succeeds and makes exactly the sample shipped, and the README shows
# exactly what both programs print for it.
# Usage: sample_test.sh SOURCE_DIR LZMA2_CHUNKS LZMA2_CHUNKS_XZ
set -euo pipefail
source_dir=$1 tool=$2 xz_tool=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sample=$source_dir/examples/sample.xz

bash "$source_dir/examples/make_sample.sh" "$tmp/sample.xz"
cmp "$tmp/sample.xz" "$sample" || { echo "make_sample.sh makes another sample" >&2; exit 1; }

# The README's example: the command after "$ ", then its output, indented, up to a blank line.
shown() {
  awk -v command="    \$ $1" '$0 == command { on = 1; next } /^$/ { on = 0 } on' \
    "$source_dir/README.md" | sed 's/^    //'
}
# lzma2-chunks' last line ends in a space and no line feed, which the README cannot show.
(cd "$source_dir" && "$tool" examples/sample.xz 18 && echo) >"$tmp/lzma2-chunks"
(cd "$source_dir" && "$xz_tool" examples/sample.xz) >"$tmp/lzma2-chunks-xz"
for command in "lzma2-chunks examples/sample.xz 18" "lzma2-chunks-xz examples/sample.xz"; do
  shown "$command" | diff - "$tmp/${command%% *}" >&2 ||
    { echo "README shows other output for: $command" >&2; exit 1; }
done
