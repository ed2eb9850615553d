#!/bin/bash
# run_benchmark.sh TOOL BASELINE BENCH_INPUT [DATA_DIR [XZ_TOOL]]: checks that TOOL prints what
# the baseline prints on six inputs (made once in DATA_DIR, default build/bench-data), then
# times both and prints a markdown table; then times XZ_TOOL (lzma2-chunks-xz, by default
# beside TOOL) on a multi-block .xz against TOOL run once per block, and on a firmware-like
# image against grep, both with --structure, in a second table; and XZ_TOOL decoding a
# multi-block and a single-block .xz against xz -t, in a third. Exits non-zero if an output
# differs or a target is missed. LZMA2_CHUNKS=path overrides TOOL, e.g. to time an older build,
# LZMA2_CHUNKS_XZ=path XZ_TOOL; RUNS (default 7) sets the runs; XZ_ONLY=1 makes and times only
# XZ_TOOL's inputs and rows, which take a few minutes where the whole run takes far longer.
# Two rows are cold: real encoder data with its pages dropped from the cache before each run,
# and the same data through a FUSE mount that waits 2 ms for each read (bench/slow_mount.py,
# run when python3-fusepy and /dev/fuse are there, as root or with fusermount).
# A last table is cold too: 20 MiB of that data served over HTTP by nginx and mounted with
# rclone, caching off, 5 ms each way between them (bench/object_storage_mount.sh, as root
# with rclone, nginx-light and ethtool; REMOTE_RUNS, default 3, sets its runs), the tool
# against the one-page reference and cat.
set -euo pipefail
tool=${LZMA2_CHUNKS:-$1} base=$2 gen=$3 dir=${4:-build/bench-data} runs=${RUNS:-7}
xz_tool=${LZMA2_CHUNKS_XZ:-${5:-$(dirname "$1")/lzma2-chunks-xz}} xz_rows=1
delay_line=$(dirname "$gen")/delay_line remote_runs=${REMOTE_RUNS:-3} xz_only=${XZ_ONLY:-0}
if [[ ! -x $xz_tool ]]; then
  echo "no lzma2-chunks-xz at $xz_tool: its rows left out" >&2
  xz_rows=0
fi
mkdir -p "$dir"
out=$(mktemp -d)
mount_point=$out/mount
remote_state=$out/remote-state
trap 'fusermount -u "$mount_point" 2> /dev/null || true
  bash "$(dirname "$0")/object_storage_mount.sh" down "$remote_state"; rm -rf "$out"' EXIT

# Each input is written under a temporary name and renamed, so a file found is complete.
make_input() { # FILE SIZE KIND
  [[ -f $dir/$1 && $(stat -c %s "$dir/$1") == "$2" ]] && return
  echo "generating $dir/$1" >&2
  "$gen" "$3" "$dir/$1.partial"
  mv "$dir/$1.partial" "$dir/$1"
}
if ! ((xz_only)); then
  make_input dense.lzma2 16777217 dense
  make_input dense-compressed.lzma2 14680065 compressed
  make_input seek-bound.lzma2 $((81920 * 65539 + 1)) seek-bound
fi
if [[ $(tail -c 2 "$dir/real.xz" 2>/dev/null) != YZ ]]; then # an .xz file ends in YZ
  echo "generating $dir/real.xz (xz -T1 -6, about a minute)" >&2
  "$gen" text /dev/stdout | xz -T1 -6 > "$dir/real.xz.partial"
  mv "$dir/real.xz.partial" "$dir/real.xz"
fi
# The LZMA2 data follows the 12-byte stream header and the block header, (byte 12 + 1) * 4.
real_offset=$(printf %X $((12 + ($(od -An -tu1 -j12 -N1 "$dir/real.xz") + 1) * 4)))
if ! ((xz_only)) && [[ ! -f $dir/system.lzma2 ]]; then
  echo "generating $dir/system.lzma2 (raw xz -0 of 1.4 GB from /usr, about two minutes)" >&2
  { tar -cf - --sort=name /usr/lib /usr/share /usr/bin 2> /dev/null || true; } |
    head -c 1400M | xz --format=raw --lzma2=preset=0 > "$dir/system.lzma2.partial"
  mv "$dir/system.lzma2.partial" "$dir/system.lzma2"
fi
mkdir -p "$dir/slow"
if ! ((xz_only)) && [[ ! -f $dir/slow/system-100M.lzma2 ]]; then
  head -c 100M "$dir/system.lzma2" > "$dir/slow/system-100M.lzma2.partial"
  mv "$dir/slow/system-100M.lzma2.partial" "$dir/slow/system-100M.lzma2"
fi
slow_file=$mount_point/system-100M.lzma2
mkdir -p "$mount_point"
if ! ((xz_only)) && [[ -e /dev/fuse ]] && /usr/bin/python3 -c 'import fusepy' 2> /dev/null; then
  /usr/bin/python3 "$(dirname "$0")/slow_mount.py" "$dir/slow" "$mount_point" 2 2> "$out/mount.log" &
  for _ in $(seq 50); do
    [[ -f $slow_file ]] && break
    sleep 0.1
  done
fi

# The lzma2-chunks-xz inputs: xz output of the text kind's words and random data.
multi_block=$dir/multi-block.xz firmware=$dir/firmware.img
text_data() {
  [[ -f $out/text ]] || "$gen" text "$out/text"
}
if ((xz_rows)) && [[ ! -f $multi_block ]]; then
  echo "generating $multi_block (xz -0 of 64 MiB, its blocks copied 64 times, 15 s)" >&2
  text_data
  xz -T2 -0 --block-size=4MiB -c "$out/text" > "$out/one.xz"
  "$gen" repeat-blocks "$multi_block.partial" 64 < "$out/one.xz"
  mv "$multi_block.partial" "$multi_block"
fi
# 4 GiB: noise where compressed or encrypted partitions would be, zeros between, and .xz
# streams at odd offsets, plus a stray stream header whose CRC32 fails. The zeros are written,
# not holes, since grep -z would skip holes unread.
if ((xz_rows)) && [[ ! -f $firmware ]]; then
  echo "generating $firmware (4 GiB, with 7 .xz streams in it, 20 s)" >&2
  text_data
  f=$firmware.partial
  # Through a pipe: opening /dev/stdout where it is a file would truncate the file.
  {
    "$gen" noise /dev/stdout $((512 << 20)) 1
    head -c 512M /dev/zero
    "$gen" noise /dev/stdout $((1024 << 20)) 2
    head -c 512M /dev/zero
    "$gen" noise /dev/stdout $((1024 << 20)) 3
    head -c 512M /dev/zero
  } | cat > "$f"
  head -c 2M "$out/text" | xz -6 > "$out/s1.xz"
  head -c 12M "$out/text" | tail -c 4M | xz -9 --check=crc32 > "$out/s2.xz"
  head -c 16M "$out/text" | xz -T2 -1 --block-size=1MiB --check=none > "$out/s3.xz"
  printf 'firmware 1.0\n' | xz --check=sha256 > "$out/s4.xz"
  xz < /dev/null > "$out/s5.xz" # no blocks
  { cat "$out/s4.xz" && printf '\0\0\0\0' && cat "$out/s5.xz"; } > "$out/s4-s5.xz"
  printf '\xFD7zXZ\0\0\4\0\0\0\0' > "$out/stray" # check CRC64, a CRC32 of 0
  : > "$f.streams"
  plant() { # FILE OFFSET
    dd if="$1" of="$f" bs=64K seek="$2" oflag=seek_bytes conv=notrunc status=none
    [[ $1 == */stray ]] || printf '%08X\n' "$2" >> "$f.streams"
  }
  plant "$out/s1.xz" $((0x0ABCDEF1))
  plant "$out/stray" $((0x13579BDF))
  plant "$out/s2.xz" $((0x2345678B)) # in zeros, which the tool steps over after a stream
  plant "$out/s3.xz" $((0x4A5B6C7D))
  plant "$out/s4-s5.xz" $((0x98765433))
  printf '%08X\n' $((0x98765433 + $(stat -c %s "$out/s4.xz") + 4)) >> "$f.streams"
  plant "$out/s1.xz" $((0xC0FFEE11))
  plant "$out/s4.xz" $((0xFEDCBA97))
  mv "$f.streams" "$firmware.streams"
  mv "$f" "$firmware"
fi
rm -f "$out/text"

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
if ((xz_only)); then
  rows=()
elif [[ -f $slow_file ]]; then
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

# The per-block baseline: each block's LZMA2 data follows its header, and xz lists where
# each block begins (field 5) and its header size (field 12).
block_offsets="" block_count=0 planted=0
# shellcheck disable=SC2317 # run through progs
per_block() { for o in $block_offsets; do "$tool" "$1" "$o"; done; }
# The two rows against the loop and grep measure the walk over headers, not decoding.
# shellcheck disable=SC2317 # run through progs
xz_structure() { "$xz_tool" --structure "$@"; }
# With -z NUL ends a line, so each magic sequence ends one; without it a long run of zeros is
# one line, which grep holds whole. Not to /dev/null, where grep stops at the first match.
magic_line='\xFD7zXZ$'
grep_magic() { LC_ALL=C grep -c -a -z -P "$magic_line" "$1" > "$out/count"; }
if ((xz_rows)); then
  block_offsets=$(xz --robot -lvv "$multi_block" |
    awk -F '\t' '$1 == "block" { printf "%X\n", $5 + $12 }')
  block_count=$(wc -w <<< "$block_offsets")
  status=0 expected=0
  xz_structure "$multi_block" > "$out/tool" || status=$?
  # The listings alone; lzma2-chunks leaves a listing's last line open, lzma2-chunks-xz ends it.
  grep -Ev '^(stream [0-9]+ at |block [0-9]+\.[0-9]+ at |index at |[0-9]+ streams?: )' \
    "$out/tool" > "$out/listings" || true
  for o in $block_offsets; do
    "$tool" "$multi_block" "$o" || expected=$?
    echo
  done > "$out/expected"
  if ((status == 0 && expected == 0 && block_count > 0)) &&
    cmp "$out/listings" "$out/expected" >&2; then
    echo "check ${multi_block##*/}: lzma2-chunks-xz lists its $block_count blocks as lzma2-chunks" \
      "does" >&2
  else
    echo "check ${multi_block##*/}: listings DIFFER (exit status $status, lzma2-chunks" \
      "$expected)" >&2
    same=0
  fi
  status=0
  xz_structure "$firmware" > "$out/tool" || status=$?
  sed -n 's/^stream [0-9]* at \([0-9A-F]*\): intact.*/\1/p' "$out/tool" > "$out/found"
  planted=$(wc -l < "$firmware.streams")
  summary="$planted streams: $planted intact, 0 damaged, 0 truncated"
  # grep should count the stray header too.
  grep_magic "$firmware"
  if ((status == 0 && $(cat "$out/count") == planted + 1)) &&
    cmp "$out/found" "$firmware.streams" >&2 && [[ $(tail -n1 "$out/tool") == "$summary" ]]; then
    echo "check ${firmware##*/}: lzma2-chunks-xz finds the $planted streams planted, grep" \
      "their magic and the stray one" >&2
  else
    echo "check ${firmware##*/}: lzma2-chunks-xz or grep DIFFERS (exit status $status," \
      "grep counts $(cat "$out/count"), last line: $(tail -n1 "$out/tool"))" >&2
    same=0
  fi
  # Decoding must find each stream of the decoding rows intact and list what --structure
  # lists, or the rows would time a different report.
  verdict='^stream 1 at [0-9A-F]*: intact'
  for f in "$multi_block" "$dir/real.xz"; do
    status=0
    "$xz_tool" "$f" > "$out/tool" || status=$?
    xz_structure "$f" > "$out/structure" || true
    if ((status == 0)) && [[ $(tail -n1 "$out/tool") == "1 stream: 1 intact, 0 damaged, 0 truncated" ]] &&
      cmp <(grep -v "$verdict" "$out/tool") <(grep -v "$verdict" "$out/structure") >&2; then
      echo "check ${f##*/} decoded: intact, the same listings as --structure" >&2
    else
      echo "check ${f##*/} decoded: NOT intact or listings differ (exit status $status," \
        "last line: $(tail -n1 "$out/tool"))" >&2
      same=0
    fi
  done
fi
((same)) || { echo "run_benchmark: outputs differ, not timing" >&2; exit 1; }

median() { xargs -n1 <<< "$1" | sort -n | sed -n "$((runs / 2 + 1))p"; }

# time_pair: times progs[0] against progs[1], each given args, evicting args[0] first when
# evict_first is 1, and leaves their medians in t and b, in microseconds.
time_pair() {
  local times=("" "") k p t0
  # Tool, baseline, baseline, tool, ...: alternating, and each program first in turn, so
  # drift on a shared machine hits both alike. Times in microseconds.
  for ((k = 0; k < 2 * runs; k++)); do
    p=$(((k + k / 2) % 2))
    ((evict_first)) && evict "${args[0]}"
    t0=${EPOCHREALTIME//[.,]/}
    "${progs[p]}" "${args[@]}" > /dev/null
    times[p]+=" $((${EPOCHREALTIME//[.,]/} - t0))"
  done
  t=$(median "${times[0]}") b=$(median "${times[1]}")
  # Every run, for judging the spread on a shared machine.
  echo "  runs in ms: tool$(xargs -n1 <<< "${times[0]}" | awk '{ printf " %.0f", $1 / 1000 }');" \
    "baseline$(xargs -n1 <<< "${times[1]}" | awk '{ printf " %.0f", $1 / 1000 }')" >&2
}

# time_row NAME TARGET TOOL_KIB BASELINE_KIB: time_pair, then prints the row; false if its
# target is missed.
time_row() {
  time_pair
  name=$1 awk -v size="$(stat -c %s "${args[0]}")" -v target="$2" \
    -v t="$t" -v b="$b" -v tk="$3" -v bk="$4" 'BEGIN {
    name = ENVIRON["name"] # not -v, which would take its backslashes for escapes
    ok = b / t >= target && tk <= 4096; gib = size >= 2 ^ 30; goal = ""
    if (target) goal = sprintf("≥ %.1fx, ", target)
    printf "| %s | %.1f %s | %.1f ms | %.1f ms | %.2fx | %sRSS ≤ 4096 KiB | %d KiB | %d KiB | %s |\n",
      name, size / 2 ^ (gib ? 30 : 20), gib ? "GiB" : "MiB", t / 1000,
      b / 1000, b / t, goal, tk, bk, ok ? "yes" : "NO"
    exit ok ? 0 : 1 }'
}

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) CPUs," \
  "Linux $(uname -r). Date: $(date -u '+%Y-%m-%d %H:%M UTC'). Median of $runs runs of each" \
  "program after a warm-up, alternating, output to /dev/null."
met=1
if ((${#rows[@]})); then
  echo
  echo "| input | size | lzma2-chunks | baseline | speedup | target | tool peak RSS | baseline peak RSS | met |"
  echo "|---|---|---|---|---|---|---|---|---|"
fi
for i in "${rows[@]}"; do
  echo "timing ${files[i]##*/}" >&2
  args=("$(path_of "$i")" "${offsets[i]}") progs=("$tool" "$base") evict_first=${cold[i]}
  # The warm-up (page cache, loader) also gives each program's peak RSS.
  for p in 0 1; do /usr/bin/time -f %M -o "$out/kib$p" "${progs[p]}" "${args[@]}" > /dev/null; done
  time_row "${names[i]}" "${targets[i]}" "$(tail -n1 "$out/kib0")" "$(tail -n1 "$out/kib1")" ||
    met=0
done

# lzma2-chunks-xz against what one would run without it, both warm.
if ((xz_rows)); then
  echo
  echo "| input | size | lzma2-chunks-xz --structure | baseline | speedup | target | tool peak RSS | baseline peak RSS | met |"
  echo "|---|---|---|---|---|---|---|---|---|"
  evict_first=0
  echo "timing ${multi_block##*/}, --structure" >&2
  args=("$multi_block") progs=(xz_structure per_block)
  /usr/bin/time -f %M -o "$out/kib0" "$xz_tool" --structure "$multi_block" > /dev/null
  # The baseline's peak RSS is that of its largest run.
  : > "$out/kib1"
  for o in $block_offsets; do
    /usr/bin/time -a -f %M -o "$out/kib1" "$tool" "$multi_block" "$o"
  done > /dev/null
  blocks=$(sed ':a; s/\B[0-9]\{3\}\>/,&/; ta' <<< "$block_count") # 1,024
  name="multi-block .xz: $blocks blocks of 4 MiB, text and random data, xz -0;"
  name+=" baseline lzma2-chunks run on each block"
  time_row "$name" 10 "$(tail -n1 "$out/kib0")" "$(sort -n "$out/kib1" | tail -n1)" || met=0
  echo "timing ${firmware##*/}, --structure" >&2
  args=("$firmware") progs=(xz_structure grep_magic)
  /usr/bin/time -f %M -o "$out/kib0" "$xz_tool" --structure "$firmware" > /dev/null
  LC_ALL=C /usr/bin/time -f %M -o "$out/kib1" grep -c -a -z -P "$magic_line" "$firmware" \
    > "$out/count"
  name="firmware-like image searched: $planted .xz streams in noise and zeros;"
  name+=" baseline LC_ALL=C grep -c -a -z -P '$magic_line'"
  time_row "$name" 1.0 "$(tail -n1 "$out/kib0")" "$(tail -n1 "$out/kib1")" || met=0

  # Decoding, against xz -t with as many threads as the tool starts: the tool must take no
  # longer, and hold no more than a dictionary and a MiB of buffers a thread, 4 MiB besides.
  threads=$(getconf _NPROCESSORS_ONLN)
  echo
  echo "| input | size | lzma2-chunks-xz | xz -t | tool / xz | target | tool peak RSS | xz peak RSS | RSS limit | met |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  # shellcheck disable=SC2317 # run through progs
  xz_test() { xz -t -T"$xz_threads" "$1"; }
  decode_names=("multi-block .xz: $blocks blocks of 4 MiB, text and random data, xz -0"
    "real .xz: one block, 64 MiB of text and random data, xz -T1 -6")
  decode_files=("$multi_block" "$dir/real.xz")
  decode_xz_threads=("$threads" 1)
  decode_targets=(1.0 1.05)
  for i in 0 1; do
    f=${decode_files[i]} xz_threads=${decode_xz_threads[i]}
    echo "timing ${f##*/}, decoding" >&2
    # The largest dictionary of the file's blocks, from the filter chain xz lists last.
    dict_kib=$(xz --robot -lvv "$f" | awk -F '\t' '$1 == "block" &&
      match($NF, /dict=[0-9]+[KMG]?i?B?/) {
        v = substr($NF, RSTART + 5, RLENGTH - 5); n = v + 0
        n = v ~ /K/ ? n : v ~ /M/ ? n * 1024 : v ~ /G/ ? n * 1048576 : n / 1024
        if (n > d) d = n }
      END { print int(d + 0.999) }')
    limit=$((threads * (dict_kib + 1024) + 4096))
    args=("$f") progs=("$xz_tool" xz_test)
    /usr/bin/time -f %M -o "$out/kib0" "$xz_tool" "$f" > /dev/null
    /usr/bin/time -f %M -o "$out/kib1" xz -t -T"$xz_threads" "$f"
    time_pair
    name=${decode_names[i]} awk -v size="$(stat -c %s "$f")" -v target="${decode_targets[i]}" \
      -v t="$t" -v b="$b" -v tk="$(tail -n1 "$out/kib0")" -v bk="$(tail -n1 "$out/kib1")" \
      -v limit="$limit" -v threads="$threads" -v dict="$dict_kib" -v xt="$xz_threads" 'BEGIN {
      name = ENVIRON["name"]
      ok = t <= target * b && tk <= limit; gib = size >= 2 ^ 30
      printf "| %s; xz -t -T%d | %.1f %s | %.1f ms | %.1f ms | %.3f | ≤ %.2f, RSS ≤ %d × (%d + 1024) + 4096 KiB | %d KiB | %d KiB | %d KiB | %s |\n",
        name, xt, size / 2 ^ (gib ? 30 : 20), gib ? "GiB" : "MiB", t / 1000, b / 1000, t / b,
        target, threads, dict, tk, bk, limit, ok ? "yes" : "NO"
      exit ok ? 0 : 1 }' || met=0
  done
fi
# Object storage: the tool against the one-page reference and cat, each cold, alternating.
mkdir -p "$dir/remote"
if ! ((xz_only)) && [[ ! -f $dir/remote/system-20M.lzma2 ]]; then
  head -c 20M "$dir/system.lzma2" > "$dir/remote/system-20M.lzma2.partial"
  mv "$dir/remote/system-20M.lzma2.partial" "$dir/remote/system-20M.lzma2"
fi
remote_file=$out/remote/system-20M.lzma2
if ! ((xz_only)) && bash "$(dirname "$0")/object_storage_mount.sh" up "$dir/remote" "$out/remote" 5 "$delay_line" \
  "$remote_state"; then
  echo "timing the object storage mount" >&2
  status=0 expected=0
  "$tool" "$remote_file" 0 > "$out/tool" || status=$?
  "$base" "$remote_file" 0 > "$out/expected" || expected=$?
  if ((status != expected)) || ! cmp "$out/tool" "$out/expected" >&2; then
    echo "check object storage: tool DIFFERS (exit status $status, expected $expected)" >&2
    exit 1
  fi
  remote_progs=("$tool" "$base" cat) remote_times=("" "" "") remote_bytes=("" "" "")
  for ((k = 0; k < remote_runs; k++)); do
    for p in 0 1 2; do
      evict "$remote_file"
      : > "$remote_state/sent"
      t0=${EPOCHREALTIME//[.,]/}
      if ((p == 2)); then cat "$remote_file"; else "${remote_progs[p]}" "$remote_file" 0; fi > /dev/null
      remote_times[p]+=" $((${EPOCHREALTIME//[.,]/} - t0))"
      sleep 0.5 # for the server to log the responses cut short
      remote_bytes[p]+=" $(awk '{ s += $1 } END { print s + 0 }' "$remote_state/sent")"
    done
  done
  runs=$remote_runs
  t=$(median "${remote_times[0]}") b=$(median "${remote_times[1]}") c=$(median "${remote_times[2]}")
  echo
  echo "| input | size | lzma2-chunks | one-page reference | cat | tool / reference | target | MB sent: tool, reference, cat | met |"
  echo "|---|---|---|---|---|---|---|---|---|"
  awk -v t="$t" -v b="$b" -v c="$c" -v tb="$(median "${remote_bytes[0]}")" \
    -v bb="$(median "${remote_bytes[1]}")" -v cb="$(median "${remote_bytes[2]}")" -v n="$runs" 'BEGIN {
    ok = t / b <= 0.25
    printf "| object storage: 20 MiB of system files, raw xz -0, rclone over HTTP, caching off, 5 ms each way, cold, median of %d | 20.0 MiB | %.1f ms | %.1f ms | %.1f ms | %.2f | ≤ 0.25 | %.0f, %.0f, %.0f | %s |\n",
      n, t / 1000, b / 1000, c / 1000, t / b, tb / 1e6, bb / 1e6, cb / 1e6, ok ? "yes" : "NO"
    exit ok ? 0 : 1 }' || met=0
  runs=${RUNS:-7}
elif ! ((xz_only)); then
  echo "no object storage mount: its row left out" >&2
fi
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
