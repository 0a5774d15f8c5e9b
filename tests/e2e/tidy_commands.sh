#!/usr/bin/env bash
# End to end through the executable: clean, history and put-back on a copy of the sample
# photos, with a real Trash in a temporary home.
#   tidy_commands.sh VELMO_PRISTEL SAMPLES_DIR
set -euo pipefail
source "$(dirname "$0")/home.sh" "$@"
photos=$HOME/photos
copy_samples
before=$(snapshot)

# A dry run and a declined plan change nothing; --no-cache reads everything and leaves the
# scan cache alone, a run without it keeps what it read.
cache=$HOME/.cache/velmo-pristel/exact-scan.cache
"$program" clean --dry-run --no-cache "$photos" >"$work/dry.txt" || fail "dry run exited $?"
[[ ! -e "$cache" ]] || fail "--no-cache wrote the scan cache"
"$program" clean --dry-run "$photos" >"$work/dry.txt" || fail "dry run exited $?"
[[ -s "$cache" ]] || fail "the scan cache was not written"
grep -q '^Plan: 2 pictures' "$work/dry.txt" || fail "dry run plan: $(cat "$work/dry.txt")"
status=0
echo n | "$program" clean "$photos" >"$work/declined.txt" || status=$?
[[ $status == 1 ]] || fail "declined run exited $status"
[[ "$(snapshot)" == "$before" ]] || fail "a dry or declined run changed the folder"

# A confirmed run moves exactly the marked copies and keeps one copy of each group.
"$program" clean --yes "$photos" >"$work/run.txt" || fail "clean exited $?"
grep -q '^2 moved to the Trash' "$work/run.txt" || fail "report: $(cat "$work/run.txt")"
[[ ! -e "$photos/Backup/Old laptop/IMG_0101.jpg" && ! -e "$photos/Backup/Old laptop/IMG_0102.jpg" ]] || fail "copies still there"
[[ -e "$photos/Pictures/Camera/2021-06-12/IMG_0101.jpg" && -e "$photos/Pictures/Camera/2021-06-12/IMG_0102.jpg" ]] ||
    fail "a kept copy is gone"
[[ $(ls "$XDG_DATA_HOME/Trash/files" | wc -l) == 2 && $(ls "$XDG_DATA_HOME/Trash/info" | wc -l) == 2 ]] ||
    fail "the Trash does not hold the two copies with their records"

# A second run finds nothing more; the history lists the cleanup.
"$program" clean --yes "$photos" >"$work/again.txt" || fail "second clean exited $?"
grep -q 'Nothing is marked' "$work/again.txt" || fail "second run: $(cat "$work/again.txt")"
"$program" history | grep -q '^1\. .* 2 moved, 0 skipped, 0 failed, 0 put back' || fail "history: $("$program" history)"

# Put-back restores the files byte for byte.
"$program" put-back 1 >"$work/back.txt" || fail "put-back exited $?"
[[ "$(snapshot)" == "$before" ]] || fail "put-back did not restore the folder"
"$program" history | grep -q '2 put back' || fail "history after put-back"
echo "clean, history and put-back: ok"
