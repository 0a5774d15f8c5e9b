#!/usr/bin/env bash
# How many crops the look-alike report finds with their original, per kind of crop: 4 % and 7 %
# off every edge, the middle 80 % of each side, and 92 % of each side off the centre (anchored at
# the bottom right). Each original of the shared photo set is scanned with one kind of crop of it
# (one folder per kind), then with all four together; a crop counts as found when it is in one
# group with its original.
#   bench/features_crops.sh [SET_DIR] [PRESET]   (default: build/photo-set, balanced)
#   VP_BINARY=path/to/velmo-pristel compares another build.
set -euo pipefail
cd "$(dirname "$0")/.."
set=${1:-$PWD/build/photo-set}
preset=${2:-balanced}
[[ -f "$set/truth/similar.tsv" ]] || { echo "No photo set in $set (bench/similar.sh builds it)" >&2; exit 1; }
binary=${VP_BINARY:-build/release/app/velmo-pristel} # another build to compare with
[[ -x $binary ]] || { echo "Build the release preset first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

awk -F'\t' '$3 == "master" { print $1 }' "$set/truth/similar.tsv" | while IFS= read -r master; do
  name=$(basename "${master%.*}")
  width=$(vipsheader -f width "$set/$master")
  height=$(vipsheader -f height "$set/$master")
  mkdir -p "$work/together"
  vips copy "$set/$master" "$work/together/$name.jpg[Q=90]"
  crop() { # kind left top width height (per mille of the side)
    mkdir -p "$work/$1"
    cp "$work/together/$name.jpg" "$work/$1/"
    vips extract_area "$set/$master" "$work/$1/$name crop-$1.jpg[Q=90]" \
      $((width * $2 / 1000)) $((height * $3 / 1000)) $((width * $4 / 1000)) $((height * $5 / 1000))
    cp "$work/$1/$name crop-$1.jpg" "$work/together/"
  }
  crop 4pc 40 40 920 920
  crop 7pc 70 70 860 860
  crop 80pc-middle 100 100 800 800
  crop 92pc-off-centre 80 80 920 920
done
count() { # folder
"$binary" --no-cache --similar "$preset" "$1" 2>/dev/null | python3 -c '
import collections, os, re, sys
groups, current = [], None
for line in sys.stdin:
    if line.startswith("similar:"):
        current = []
        groups.append(current)
    elif line.startswith("  ") and current is not None:
        current.append(os.path.basename(line.strip().split("   ")[0]))
    elif not line.strip():
        current = None
found, total = collections.Counter(), collections.Counter()
group_of = {name: n for n, group in enumerate(groups) for name in group}
for name in os.listdir(sys.argv[1]):
    match = re.match(r"(.*) crop-(.*)\.jpg$", name)
    if not match:
        continue
    original, kind = match.group(1) + ".jpg", match.group(2)
    total[kind] += 1
    found[kind] += name in group_of and group_of[name] == group_of.get(original)
for kind in sorted(total):
    print("%-18s %3d of %3d found with their original" % (kind, found[kind], total[kind]))
' "$1"
}
for kind in 4pc 7pc 80pc-middle 92pc-off-centre; do count "$work/$kind"; done
echo "all four crops with their original in one folder:"
count "$work/together"
