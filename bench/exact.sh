#!/usr/bin/env bash
# Times the exact scan against the Debian duplicate finders on a generated 10 GB library tree.
#   bench/exact.sh [TREE_DIR]     (default: $TMPDIR/exactbench; built when missing)
# Extra arguments after the folder go to run_bench.py (e.g. --no-cold --warm-runs 3).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq jdupes rmlint fdupes rdfind duff hyperfine time >/dev/null
[[ -f build/release/build.ninja ]] || cmake --preset release >/dev/null
cmake --build --preset release --target exact-scan >/dev/null
tree=${1:-${TMPDIR:-/tmp}/exactbench}
shift || true
bench=../shared/bench/exact
[[ -f "$tree/ground_truth.json" ]] || python3 "$bench/gen_tree.py" --out "$tree"
python3 "$bench/run_bench.py" --bench "$tree" --md "$tree/results.md" \
    --candidate "$PWD/build/release/bench/exact-scan --content-only" --candidate-label "velmo-pristel exact scan" "$@"
echo "Results: $tree/results.md"
