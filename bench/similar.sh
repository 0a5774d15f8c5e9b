#!/usr/bin/env bash
# The look-alike report beside findimagedupes on the shared photo set, in the same run: wall time
# (median of RUNS), peak memory, and the set's own precision and recall for both.
#   bench/similar.sh [SET_DIR] [RUNS]   (default: build/photo-set, built when missing; 3 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
command -v findimagedupes >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq findimagedupes >/dev/null
[[ -f build/release/build.ninja ]] || cmake --preset release >/dev/null
cmake --build --preset release --target velmo-pristel >/dev/null
datasets=../shared/datasets
set=${1:-$PWD/build/photo-set}
runs=${2:-3}
[[ -f "$set/truth/similar.tsv" ]] || "$datasets/build-photos" --out "$set"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() { # name format command...
    local name=$1 format=$2
    shift 2
    local times=()
    for ((run = 0; run < runs; run++)); do
        /usr/bin/time -f "%e %M" -o "$work/$name.time" "$@" >"$work/$name.out" 2>/dev/null
        times+=("$(cat "$work/$name.time")")
    done
    python3 "$datasets/evaluate.py" --dataset "$set" --format "$format" --json "$work/$name.json" \
        $([[ $format == project ]] && echo --kinds similar) "$work/$name.out" >/dev/null
    printf '%s\n' "${times[@]}" | python3 -c '
import json, statistics, sys
name, scores = sys.argv[1], json.loads(open(sys.argv[2]).read().splitlines()[-1])
rows = [line.split() for line in sys.stdin if line.strip()]
wall = statistics.median(float(r[0]) for r in rows)
peak = max(int(r[1]) for r in rows) / 1024
s = scores
print("| %s | %.2f | %.0f | %.3f | %.3f | %.3f | %d |" % (name, wall, peak, s["precision"], s["recall"], s["f1"], s["mixed_groups"]))' "$name" "$work/$name.json"
}

echo "| tool | wall s (median of $runs) | peak MiB | precision | recall | F1 | mixed groups |"
echo "|---|---:|---:|---:|---:|---:|---:|"
for preset in conservative balanced broad; do
    measure "velmo-pristel --similar $preset" project build/release/app/velmo-pristel --similar "$preset" "$set/similar"
done
measure "findimagedupes -R" findimagedupes findimagedupes -R -- "$set/similar"
