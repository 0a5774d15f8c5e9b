#!/usr/bin/env bash
# End to end: the report on a photo set with its ground truth (built by the shared datasets
# tool, once, then kept), scored by the set's own evaluation script.
#   report_on_photo_set.sh VELMO_PRISTEL DATASETS_DIR SET_DIR
set -euo pipefail
program=$1 datasets=$2 set=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ ! -f "$set/truth/similar.tsv" ]]; then
    rm -rf "$set.partial"
    "$datasets/build-photos" --out "$set.partial" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
    rm -rf "$set" && mv "$set.partial" "$set"
fi

score() { # set kinds format-file -> the last JSON line of the scores
    python3 "$datasets/evaluate.py" --dataset "$set" --set "$1" --format project --kinds "$2" \
        --home "$HOME" --json "$work/scores.jsonl" "$3" >/dev/null
    tail -n 1 "$work/scores.jsonl"
}

# Conservative: no group may mix two different originals.
"$program" --similar conservative "$set/similar" >"$work/conservative.txt"
score similar similar "$work/conservative.txt" | python3 -c '
import json, sys
r = json.loads(sys.stdin.read())
assert r["mixed_groups"] == 0, ("mixed groups under conservative", r["top_false_links"])
print("conservative: precision %.3f recall %.3f, no mixed group" % (r["precision"], r["recall"]))'

# Balanced: at least 90 % of the downscaled, re-saved and turned versions are with their original.
"$program" --similar balanced "$set/similar" >"$work/balanced.txt"
score similar similar "$work/balanced.txt" | python3 -c '
import json, sys
r = json.loads(sys.stdin.read())
kinds = ["resize50", "resize25", "jpeg60", "jpeg92", "png", "heic", "rot90", "exif6"]
found = sum(r["per_variant"][k]["with_master"] for k in kinds)
files = sum(r["per_variant"][k]["files"] for k in kinds)
assert found >= 0.9 * files, ("too few versions found under balanced", found, files, r["per_variant"])
print("balanced: precision %.3f recall %.3f, %d of %d versions with their original" % (r["precision"], r["recall"], found, files))'

# Bursts: every frame of every burst is found, and slow or split shots are not taken for one.
# (Different pictures a second apart can be: the series rule accepts hash distances up to 34.)
"$program" --series "$set/series" >"$work/series.txt"
score series series "$work/series.txt" | python3 -c '
import json, sys
r = json.loads(sys.stdin.read())
roles = r["per_role"]
assert r["recall"] == 1.0 and roles["slow"]["in_a_group"] == 0 and roles["split"]["in_a_group"] == 0, r
print("series: precision %.3f recall %.3f" % (r["precision"], r["recall"]))'
