#!/usr/bin/env bash
# Times the real exact scan (`velmo-pristel --exact`) on the realized 10 GB library tree, a first
# scan and a rescan, beside jdupes, rdfind, rmlint and rmlint --xattr (its rescan), then prints
# the ratios and where the time of our first scan and rescan goes, stage by stage.
#   bench/exact.sh [TREE_DIR] [run_bench.py options, e.g. --warm-runs 3 --no-cold --no-limits]
# TREE_DIR defaults to $TMPDIR/exactbench; it is generated (gen_tree.py, 2-3 min) and realized
# (realize.py: its JPEG, PNG, HEIC and TIFF become real pictures, about a minute) when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# The peers are for this benchmark only, so they are installed here and not by scripts/deps.sh.
peers=(jdupes rmlint rdfind fdupes duff hyperfine time attr)
missing=()
for package in "${peers[@]}"; do
  [[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)" == "install ok installed" ]] || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
[[ -f build/release/build.ninja ]] || cmake --preset release >/dev/null
cmake --build --preset release --target velmo-pristel exact-scan >/dev/null

tree=${1:-${TMPDIR:-/tmp}/exactbench}
shift || true
bench=../shared/bench/exact
[[ -f "$tree/ground_truth.json" ]] || python3 "$bench/gen_tree.py" --out "$tree"
python3 "$bench/realize.py" --bench "$tree" >/dev/null # idempotent
root=$(python3 -c 'import os,sys; print(os.path.realpath(os.path.join(sys.argv[1], "tree")))' "$tree")

# Our caches live beside the tree, one per row: the first scan starts from none every time; the
# rescan keeps the one its untimed warm-up run wrote.
caches=$tree/velmo-caches
rm -rf "$caches"
mkdir -p "$caches"
app=$PWD/build/release/app/velmo-pristel
scanner=$PWD/build/release/bench/exact-scan
first="rm -rf '$caches/first' && XDG_CACHE_HOME='$caches/first' '$app' --exact"
rescan="XDG_CACHE_HOME='$caches/rescan' '$app' --exact"
# rmlint --xattr keeps its checksums in extended attributes of the files; its untimed warm-up run
# writes them (once: later runs leave the files alone). Fed the pictures alone, as the project's
# scope is. It runs first among the candidates, so that the change times its writing moves are
# already moved when our rescan's warm-up run fills its cache.
pictures="find \"\$1\" -name '.*' -prune -o -type f \\( $(python3 - "$bench" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
import benchlib
print(" -o ".join(f"-iname '*.{e}'" for e in sorted(benchlib.PICTURE_EXTS)))
EOF
) \\) -print0"
rmlintXattr="bash -c $(printf '%q' "$pictures | rmlint -0 -T df -F --without-fiemap --xattr -o fdupes") _"

python3 "$bench/run_bench.py" --bench "$tree" --md "$tree/results.md" \
    --tools jdupes,jdupes-pictures,rdfind,rmlint,rmlint-pictures \
    --candidate "$rmlintXattr" --candidate-label "rmlint --xattr, rescan (pictures, find-fed)" \
    --candidate "$first" --candidate-label "velmo-pristel --exact, first scan" \
    --candidate "$rescan" --candidate-label "velmo-pristel --exact, rescan" \
    --candidate "$scanner --content-only" --candidate-label "exact-scan --content-only (no decoding)" \
    "$@"

# Ratios of our two rows to the peers, from the run just made.
python3 - "$tree" <<'EOF'
import glob, json, os, sys
tree = sys.argv[1]
run = sorted(glob.glob(os.path.join(tree, "runs", "*", "results.json")))[-1]
tools = json.load(open(run))["tools"]
def median(key):
    return tools.get(key, {}).get("warm")
rows = {"first scan": "candidate2", "rescan": "candidate3"}
peers = {"jdupes": "jdupes", "rdfind": "rdfind", "rmlint": "rmlint", "rmlint --xattr rescan": "candidate1"}
print("\nWarm medians and ratios (ours / theirs), from " + os.path.dirname(run))
for name, key in rows.items():
    ours = median(key)
    if ours is None:
        continue
    parts = [f"{peer} {median(k):.2f} s: {ours / median(k):.2f}x" for peer, k in peers.items() if median(k)]
    cpu = tools[key].get("warm_cpu")
    print(f"  velmo-pristel {name} {ours:.2f} s (CPU {cpu:.2f} s, peak {tools[key].get('warm_rss_mib', 0):.0f} MiB); "
          + "; ".join(parts))
EOF

# Where the time goes: the same scan (the exact-scan program runs ExactMatcher as the report
# does) with a new cache, then again with that cache. Wall and CPU seconds per stage.
echo
echo "Stage split (wall s / CPU s of the process), first scan and rescan:"
rm -rf "$caches/stages"
"$scanner" --times --cache "$caches/stages/exact-scan.cache" "$root" 2>"$caches/first.times" >/dev/null
"$scanner" --times --cache "$caches/stages/exact-scan.cache" "$root" 2>"$caches/rescan.times" >/dev/null
paste "$caches/first.times" "$caches/rescan.times" |
    awk 'BEGIN { printf "  %-14s %16s %16s\n", "stage", "first scan", "rescan" }
         { printf "  %-14s %7.2f / %6.2f %7.3f / %6.3f\n", $1, $2, $3, $5, $6; w1 += $2; c1 += $3; w2 += $5; c2 += $6 }
         END { printf "  %-14s %7.2f / %6.2f %7.3f / %6.3f\n", "total", w1, c1, w2, c2 }'
echo "Results: $tree/results.md"
