#!/usr/bin/env bash
# Pictures per second for measuring (features with the feature print, as the application
# measures) beside the 512-pixel thumbnail alone, in the same run on the same files, and for the
# face check, with 1 and with 4 workers.
#   bench/features.sh [FOLDER] [RUNS]
# Without FOLDER it makes twelve 12-megapixel JPEGs (4032 × 3024, as phone cameras take them)
# from the photos Debian ships with scikit-image: each upscaled with libvips, given sensor-like
# noise so it compresses and decodes like a camera file, and saved at quality 92.
set -euo pipefail
folder=${1:-}
runs=${2:-3}
cd "$(dirname "$0")/.."
bench=$(bench/build.sh features-bench)

work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ -z $folder ]]; then
  folder=$work/photos
  mkdir -p "$folder"
  data=/usr/lib/python3/dist-packages/skimage/data
  n=0
  for source in astronaut.png coffee.png chelsea.png rocket.jpg motorcycle_left.png hubble_deep_field.jpg; do
    for turn in d0 d90; do
      n=$((n + 1))
      # Upscale to cover 4032 × 3024, crop to exactly that, turn every other one to portrait.
      vips thumbnail "$data/$source" "$work/big.v" 4032 --height 3024 --size force
      vips gaussnoise "$work/noise.v" 4032 3024 --sigma 6 --mean 0
      vips add "$work/big.v" "$work/noise.v" "$work/noisy.v"
      vips cast "$work/noisy.v" "$work/cast.v" uchar
      vips rot "$work/cast.v" "$folder/photo-$n.jpg[Q=92]" "$turn"
    done
  done
  rm -f "$work"/*.v
fi
find "$folder" -type f \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' -o -iname '*.heic' -o -iname '*.tif' \) |
  sort >"$work/list"
[[ -s $work/list ]] || { echo "No pictures in $folder" >&2; exit 1; }
xargs -d '\n' -a "$work/list" cat >/dev/null # warm the page cache
first=$(head -1 "$work/list")
echo "$(wc -l <"$work/list") pictures like $(vipsheader "$first" | sed 's/^[^:]*: //'), $(du -sh "$folder" | cut -f1) in all, $(nproc) cores"
"$bench" --threads 1 --runs "$runs" "$work/list"
"$bench" --threads 4 --runs "$runs" "$work/list"
