#!/bin/bash
# run_benchmark.sh TOOL BASELINE BENCH_INPUT [DATA_DIR]: checks that TOOL prints what the
# baseline prints on six inputs (made once in DATA_DIR, default build/bench-data), then times
# both and prints a markdown table. Exits non-zero if an output differs or a target is missed.
# LZMA2_CHUNKS=path overrides TOOL, e.g. to time an older build; RUNS (default 7) the runs.
# Two rows are cold: real encoder data with its pages dropped from the cache before each run,
# and the same data through a FUSE mount that waits 2 ms for each read (bench/slow_mount.py,
# run when python3-fusepy and /dev/fuse are there, as root or with fusermount).
set -euo pipefail
tool=${LZMA2_CHUNKS:-$1} base=$2 gen=$3 dir=${4:-build/bench-data} runs=${RUNS:-7}
mkdir -p "$dir"
out=$(mktemp -d)
mount_point=$out/mount
trap 'fusermount -u "$mount_point" 2> /dev/null || true; rm -rf "$out"' EXIT

# Each input is written under a temporary name and renamed, so a file found is complete.
make_input() { # FILE SIZE KIND
  [[ -f $dir/$1 && $(stat -c %s "$dir/$1") == "$2" ]] && return
  echo "generating $dir/$1" >&2
  "$gen" "$3" "$dir/$1.partial"
  mv "$dir/$1.partial" "$dir/$1"
}
make_input dense.lzma2 16777217 dense
make_input dense-compressed.lzma2 14680065 compressed
make_input seek-bound.lzma2 $((81920 * 65539 + 1)) seek-bound
if [[ $(tail -c 2 "$dir/real.xz" 2>/dev/null) != YZ ]]; then # an .xz file ends in YZ
  echo "generating $dir/real.xz (xz -T1 -6, about a minute)" >&2
  "$gen" text /dev/stdout | xz -T1 -6 > "$dir/real.xz.partial"
  mv "$dir/real.xz.partial" "$dir/real.xz"
fi
# The LZMA2 data follows the 12-byte stream header and the block header, (byte 12 + 1) * 4.
real_offset=$(printf %X $((12 + ($(od -An -tu1 -j12 -N1 "$dir/real.xz") + 1) * 4)))
if [[ ! -f $dir/system.lzma2 ]]; then
  echo "generating $dir/system.lzma2 (raw xz -0 of 1.4 GB from /usr, about two minutes)" >&2
  { tar -cf - --sort=name /usr/lib /usr/share /usr/bin 2> /dev/null || true; } |
    head -c 1400M | xz --format=raw --lzma2=preset=0 > "$dir/system.lzma2.partial"
  mv "$dir/system.lzma2.partial" "$dir/system.lzma2"
fi
mkdir -p "$dir/slow"
if [[ ! -f $dir/slow/system-100M.lzma2 ]]; then
  head -c 100M "$dir/system.lzma2" > "$dir/slow/system-100M.lzma2.partial"
  mv "$dir/slow/system-100M.lzma2.partial" "$dir/slow/system-100M.lzma2"
fi
slow_file=$mount_point/system-100M.lzma2
mkdir -p "$mount_point"
if [[ -e /dev/fuse ]] && /usr/bin/python3 -c 'import fusepy' 2> /dev/null; then
  /usr/bin/python3 "$(dirname "$0")/slow_mount.py" "$dir/slow" "$mount_point" 2 2> "$out/mount.log" &
  for _ in $(seq 50); do
    [[ -f $slow_file ]] && break
    sleep 0.1
  done
fi
# Drops a file's pages from the cache (clean pages need no root), so that its reads are cold.
evict() { dd if="$1" iflag=nocache count=0 status=none; }

names=("dense: 4,194,304 stored 1-byte chunks" "dense compressed: 2,097,152 E0 chunks"
  "seek-bound: 81,920 stored 64 KiB chunks, sparse" "real .xz: 64 MiB of text and random data, xz -6"
  "cold disk: system files, raw xz -0, evicted before each run"
  "2 ms a read: the first 100 MiB of those, through FUSE")
files=(dense.lzma2 dense-compressed.lzma2 seek-bound.lzma2 real.xz system.lzma2 "$slow_file")
offsets=(0 0 0 "$real_offset" 0 0)
targets=(5.0 5.0 1.1 0 2.5 4.0)
cold=(0 0 0 0 1 1)
rows=(0 1 2 3 4)
if [[ -f $slow_file ]]; then
  rows+=(5)
else
  echo "no FUSE mount (needs /dev/fuse, python3-fusepy, root or fusermount): 2 ms row left out" >&2
fi
path_of() { [[ ${files[$1]} == /* ]] && echo "${files[$1]}" || echo "$dir/${files[$1]}"; }

# The baseline prints 32-bit positions, so the 5 GiB input is checked against its listing.
seek_bound_listing() {
  echo ofs=0
  printf '%08X: 01 u=65536\n' $(seq 0 65539 $((81919 * 65539)))
  printf '%08X: 00 ' $((81920 * 65539))
}

same=1
for i in "${rows[@]}"; do
  f=$(path_of "$i") ofs=${offsets[i]} status=0 expected=0
  "$tool" "$f" "$ofs" > "$out/tool" || status=$?
  if ((i == 2)); then
    seek_bound_listing > "$out/expected"
  else
    "$base" "$f" "$ofs" > "$out/expected" || expected=$?
  fi
  if ((status == expected)) && cmp "$out/tool" "$out/expected" >&2; then
    echo "check ${files[i]}: tool output and exit status as expected" >&2
  else
    echo "check ${files[i]}: tool DIFFERS (exit status $status, expected $expected)" >&2
    same=0
  fi
done
((same)) || { echo "run_benchmark: outputs differ, not timing" >&2; exit 1; }

median() { xargs -n1 <<< "$1" | sort -n | sed -n "$((runs / 2 + 1))p"; }

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) CPUs," \
  "Linux $(uname -r). Date: $(date -u '+%Y-%m-%d %H:%M UTC'). Median of $runs runs of each" \
  "program after a warm-up, alternating, output to /dev/null."
echo
echo "| input | size | lzma2-chunks | baseline | speedup | target | tool peak RSS | baseline peak RSS | met |"
echo "|---|---|---|---|---|---|---|---|---|"
met=1
for i in "${rows[@]}"; do
  echo "timing ${files[i]##*/}" >&2
  args=("$(path_of "$i")" "${offsets[i]}") progs=("$tool" "$base") times=("" "")
  # The warm-up (page cache, loader) also gives each program's peak RSS.
  for p in 0 1; do /usr/bin/time -f %M -o "$out/kib$p" "${progs[p]}" "${args[@]}" > /dev/null; done
  # Tool, baseline, baseline, tool, ...: alternating, and each program first in turn, so
  # drift on a shared machine hits both alike. Times in microseconds.
  for ((k = 0; k < 2 * runs; k++)); do
    p=$(((k + k / 2) % 2))
    ((cold[i])) && evict "${args[0]}"
    t0=${EPOCHREALTIME//[.,]/}
    "${progs[p]}" "${args[@]}" > /dev/null
    times[p]+=" $((${EPOCHREALTIME//[.,]/} - t0))"
  done
  awk -v name="${names[i]}" -v size="$(stat -c %s "${args[0]}")" -v target="${targets[i]}" \
    -v t="$(median "${times[0]}")" -v b="$(median "${times[1]}")" \
    -v tk="$(tail -n1 "$out/kib0")" -v bk="$(tail -n1 "$out/kib1")" 'BEGIN {
    ok = b / t >= target && tk <= 4096; gib = size >= 2 ^ 30; goal = ""
    if (target) goal = sprintf("≥ %.1fx, ", target)
    printf "| %s | %.1f %s | %.1f ms | %.1f ms | %.2fx | %sRSS ≤ 4096 KiB | %d KiB | %d KiB | %s |\n",
      name, size / 2 ^ (gib ? 30 : 20), gib ? "GiB" : "MiB", t / 1000,
      b / 1000, b / t, goal, tk, bk, ok ? "yes" : "NO"
    exit ok ? 0 : 1 }' || met=0
done
# Reading the whole file, for scale: on slow storage a walk should beat it.
if [[ -f $slow_file ]]; then
  cat_times=""
  for ((k = 0; k < runs; k++)); do
    evict "$slow_file"
    t0=${EPOCHREALTIME//[.,]/}
    cat "$slow_file" > /dev/null
    cat_times+=" $((${EPOCHREALTIME//[.,]/} - t0))"
  done
  echo
  echo "cat of the whole 100 MiB through the 2 ms mount: $(($(median "$cat_times") / 1000)) ms (median)."
fi
exit $((!met))
