#!/usr/bin/env bash
# Two processes at once through the executable: two cleanups of one folder that would each keep
# the copy the other moves, and history or a dry run started while a cleanup is moving pictures.
#   two_processes.sh VELMO_PRISTEL SAMPLES_DIR
set -euo pipefail
source "$(dirname "$0")/home.sh" "$@"
photos=$HOME/photos
pairs=120
mkdir -p "$photos/old" "$photos/new"
# Pairs of byte-identical pictures, each pair different from the others: bytes after the end of
# a JPEG are read by nobody but a byte comparison.
original=$samples/Pictures/Camera/2021-06-12/IMG_0101.jpg
for ((i = 0; i < pairs; i++)); do
    { cat "$original"; printf 'pair %d' "$i"; } >"$photos/old/$i.jpg"
    cp "$photos/old/$i.jpg" "$photos/new/$i.jpg"
done
touch -d '2020-01-01 10:00' "$photos/old/"*.jpg
touch -d '2024-01-01 10:00' "$photos/new/"*.jpg

# Opposite priorities: one cleanup keeps the old copies, the other the new ones.
"$program" clean --yes --priorities oldest "$photos" >"$work/first.txt" 2>&1 &
first=$!
"$program" clean --yes --priorities newest "$photos" >"$work/second.txt" 2>&1 &
second=$!
wait $first || true
wait $second || true
for ((i = 0; i < pairs; i++)); do
    [[ -e "$photos/old/$i.jpg" || -e "$photos/new/$i.jpg" ]] || fail "both copies of pair $i went to the Trash"
done
left=$(find "$photos" -name '*.jpg' | wc -l)
[[ $left == "$pairs" ]] || fail "$left pictures left of $((2 * pairs)), expected one of each pair"

# Put everything back, then one cleanup with history and dry runs started while it moves.
"$program" put-back 1 >/dev/null 2>&1 || true
"$program" put-back 2 >/dev/null 2>&1 || true
[[ $(find "$photos" -name '*.jpg' | wc -l) == $((2 * pairs)) ]] || fail "put-back did not bring everything back"
"$program" clean --yes --priorities oldest "$photos" >"$work/third.txt" 2>&1 &
third=$!
while kill -0 $third 2>/dev/null; do
    "$program" history >/dev/null 2>&1 || true
    "$program" clean --dry-run "$photos" >/dev/null 2>&1 || true
done
wait $third || fail "the cleanup watched by others exited $?: $(tail -3 "$work/third.txt")"
grep -q "^$pairs moved to the Trash" "$work/third.txt" || fail "cleanup: $(tail -3 "$work/third.txt")"
"$program" history >"$work/history.txt"
head -1 "$work/history.txt" | grep -q "$pairs moved, 0 skipped, 0 failed" || fail "history: $(head -1 "$work/history.txt")"
grep -q 'reconciled' <(head -1 "$work/history.txt") && fail "a running cleanup was settled from outside"
"$program" put-back 1 >/dev/null || fail "put-back of the watched cleanup exited $?"
[[ $(find "$photos" -name '*.jpg' | wc -l) == $((2 * pairs)) ]] || fail "not every picture came back"
echo "two processes: ok"
