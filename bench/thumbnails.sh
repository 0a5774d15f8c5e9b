#!/usr/bin/env bash
# Thumbnails every picture of a folder at 512 pixels (or SIZE) with the picture service and with
# libvips's own vipsthumbnail, in the same run on the same files, and prints pictures per second
# and peak memory for each.
#   bench/thumbnails.sh FOLDER [SIZE] [RUNS]
# Each configuration runs RUNS times (default 3) after one pass that warms the page cache; the
# fastest run counts. Times are wall-clock for the whole process, start-up included, so both pay the same.
set -euo pipefail
folder=${1:?usage: bench/thumbnails.sh FOLDER [SIZE] [RUNS]}
size=${2:-512}
runs=${3:-3}
cd "$(dirname "$0")/.."
bench=$(bench/build.sh thumbnail-bench)

work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --list "$folder" >"$work/list"
count=$(wc -l <"$work/list")
((count > 0)) || { echo "No pictures in $folder" >&2; exit 1; }
xargs -d '\n' -a "$work/list" cat >/dev/null

# One timed run: appends "seconds peak_kb" to the file named by the first argument.
measure() {
  local into=$1
  shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
  cat "$work/time" >>"$work/$into"
}

# The fastest run of a configuration and its peak memory.
best() { sort -n "$work/$1" | head -1; }

report() { # label seconds kb
  awk -v label="$1" -v s="$2" -v kb="$3" -v n="$count" \
    'BEGIN { printf "%-28s %7.2f s  %7.1f pictures/s  peak %6.1f MB\n", label, s, n / s, kb / 1024 }'
}

# vipsthumbnail writes each thumbnail out; the uncompressed .v format into memory keeps that
# cost to a copy. Our program keeps the pixels in memory, as the scan does. The runs take
# turns, so a busy machine slows every configuration alike.
mkdir -p "$work/out"
for ((run = 0; run < runs; run++)); do
  measure ours1 "$bench" --size "$size" --threads 1 "$work/list"
  measure vips1 xargs -d '\n' -a "$work/list" vipsthumbnail -s "$size" -o "$work/out/%s.v"
  measure ours4 "$bench" --size "$size" --threads 4 "$work/list"
  measure vips4 xargs -d '\n' -P 4 -n 16 -a "$work/list" vipsthumbnail -s "$size" -o "$work/out/%s.v"
done
read -r ours1_s ours1_kb < <(best ours1)
read -r vips1_s vips1_kb < <(best vips1)
read -r ours4_s ours4_kb < <(best ours4)
read -r vips4_s vips4_kb < <(best vips4)

echo "$count pictures from $folder, longest side $size, best of $runs runs, $(nproc) cores"
report "velmo-pristel, 1 worker" "$ours1_s" "$ours1_kb"
report "vipsthumbnail, 1 process" "$vips1_s" "$vips1_kb"
report "velmo-pristel, 4 workers" "$ours4_s" "$ours4_kb"
report "vipsthumbnail, 4 processes" "$vips4_s" "$vips4_kb"
echo "(peak memory is per process: the four vipsthumbnail processes together hold about four times that)"
# The scan always thumbnails on four workers; vipsthumbnail is at its best as one process
# using libvips's own threads, so the last ratio sets each at its best.
awk -v a="$ours1_s" -v b="$vips1_s" -v c="$ours4_s" -v d="$vips4_s" 'BEGIN {
  best = b < d ? b : d
  printf "speed ratio (ours / vipsthumbnail): %.2f with 1 worker, %.2f with 4, %.2f each at its best\n",
    b / a, d / c, best / (a < c ? a : c) }'
