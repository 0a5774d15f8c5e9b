#!/usr/bin/env bash
# Times the shared thumbnail cache on 1,000 pictures (or COUNT): cold (an empty cache, so every
# picture is decoded and its PNG written) and warm (the same cache again, so only PNGs are read),
# with 1 and with 4 worker threads, beside the picture service alone (no cache), and prints
# milliseconds per picture, pictures per second, peak memory and the cache's size on disk.
#   bench/shared_thumbnails.sh [--size N] [--count N] [FOLDER]
# Without FOLDER the pictures are made here: 25 distinct 12-megapixel JPEGs (4032 × 3024, as a
# phone writes them, enlarged from the bundled samples), each reached under 40 names through hard
# links, since the cache keys on the name. With FOLDER, its first COUNT pictures are used.
# The page cache is warmed before each run, so both runs measure work, not the disk.
set -euo pipefail
size=256
count=1000
folder=
while (($#)); do
  case $1 in
    --size) size=${2:?}; shift 2 ;;
    --count) count=${2:?}; shift 2 ;;
    -*) echo "usage: bench/shared_thumbnails.sh [--size N] [--count N] [FOLDER]" >&2; exit 2 ;;
    *) folder=$1; shift ;;
  esac
done
cd "$(dirname "$0")/.."
bench=$(bench/build.sh shared-thumbnails-bench)
lister=$(bench/build.sh thumbnail-bench)

# On disk, not in memory: the cache's writes and renames are part of what is measured.
work=$(mktemp -d -p "${TMPDIR:-/var/tmp}")
trap 'rm -rf "$work"' EXIT

if [[ -z $folder ]]; then
  folder=$work/pictures
  mkdir -p "$folder/originals"
  mapfile -t samples < <(find samples -name '*.jpg' | sort)
  for ((i = 0; i < 25; i++)); do
    sample=${samples[i % ${#samples[@]}]}
    # Each distinct: enlarged, and mirrored on the second pass over the samples.
    vips thumbnail "$sample" "$work/big.v" 4032 --height 3024 --size force
    if ((i >= ${#samples[@]})); then
      vips flip "$work/big.v" "$work/mirrored.v" horizontal
      mv "$work/mirrored.v" "$work/big.v"
    fi
    vips copy "$work/big.v" "$folder/originals/photo-$i.jpg[Q=90]"
  done
  for ((n = 0; n < count; n++)); do
    ln "$folder/originals/photo-$((n % 25)).jpg" "$folder/IMG_$(printf '%04d' "$n").jpg"
  done
  rm -f "$work/big.v"
fi
"$lister" --list "$folder" | grep -v '/originals/' | head -n "$count" >"$work/list"
pictures=$(wc -l <"$work/list")
((pictures > 0)) || { echo "No pictures in $folder" >&2; exit 1; }

run() { # label threads cache
  xargs -d '\n' -a "$work/list" cat >/dev/null
  local line
  line=$("$bench" --cache "$3" --size "$size" --threads "$2" "$work/list")
  awk -v label="$1" -v line="$line" 'BEGIN {
    split(line, f, " ")
    for (i = 1; i < length(f); i += 2) v[f[i]] = f[i + 1]
    printf "%-22s %8.2f ms/picture %8.1f pictures/s   %6.2f s   peak %6.1f MB\n",
      label, v["ms_per_picture"], 1000 / v["ms_per_picture"], v["seconds"], v["peak_rss_mb"] }'
}

# The picture service alone, without the cache, for comparison with the cold runs.
decode_only() { # threads
  xargs -d '\n' -a "$work/list" cat >/dev/null
  "$lister" --size "$size" --threads "$1" "$work/list" | awk -v label="decode only, $1 thread(s)" '{
    for (i = 1; i < NF; i += 2) v[$i] = $(i + 1)
    printf "%-22s %8.2f ms/picture %8.1f pictures/s   %6.2f s   peak %6.1f MB\n",
      label, 1000 * v["seconds"] / v["pictures"], v["pictures_per_second"], v["seconds"], v["peak_rss_mb"] }'
}

echo "$pictures pictures from $folder, thumbnails of $size pixels, $(nproc) cores"
for threads in 1 4; do
  decode_only "$threads"
  cache=$work/cache-$threads
  run "cold, $threads thread(s)" "$threads" "$cache"
  run "warm, $threads thread(s)" "$threads" "$cache"
done
echo "cache on disk: $(du -sk "$work/cache-1" | cut -f1) KB for $pictures thumbnails"
