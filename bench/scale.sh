#!/usr/bin/env bash
# Candidate proposal and pair evaluation at scale, on synthetic pictures: random hashes with
# planted near copies, quarter-turned copies and bursts (similarity-bench describes them).
#   bench/scale.sh [SEED]
# The whole comparing pass (candidates, evaluation, pairs kept) at 10,000, 100,000 and 200,000
# pictures; the band pass alone, counting its proposals without keeping them, at 100,000 with
# every comparison loop this processor has and at 1,000,000 with the fastest.
set -euo pipefail
seed=${1:-7}
cd "$(dirname "$0")/.."
bench=$(bench/build.sh similarity-bench)
for n in 10000 100000 200000; do "$bench" scale "$n" "$seed"; done
for loop in wide popcount portable; do
  "$bench" proposals 100000 "$loop" "$seed" 2>/dev/null | sed "s/^/$loop: /" || true
done
"$bench" proposals 1000000 "" "$seed"
