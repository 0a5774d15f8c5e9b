#!/usr/bin/env bash
# The terminal never guesses, end to end through the executable: folder arguments that are not
# folders refuse the whole command; a command's own options never change the stored settings,
# while the folders protected there keep protecting; put-back takes a number of `history` or a
# unique id prefix of 8 or more characters, and relative paths from the working folder; an
# interrupted cleanup is listed as reconciled, with the pictures to check by hand.
#   tidy_never_guesses.sh VELMO_PRISTEL SAMPLES_DIR
set -euo pipefail
source "$(dirname "$0")/home.sh" "$@"
photos=$HOME/photos
copy_samples
settings=$XDG_CONFIG_HOME/velmo-pristel/settings.json
journals=$XDG_DATA_HOME/velmo-pristel/PhotoCleanup/Cleanups
before=$(snapshot)

# ---- A folder argument that is not a folder refuses the whole command: status 2 and one line
# on standard error naming the argument as it was given. Nothing is scanned or moved.
refused "No such folder: $photos/missing" clean --yes "$photos/missing" "$photos"
refused "No such folder: Pictures/missing" clean --yes "$photos" Pictures/missing
refused "Not a folder: Pictures/Scans/rocket.png" clean --yes Pictures/Scans/rocket.png
refused "No such folder: elsewhere" clean --yes --protect elsewhere "$photos"
refused "Not a folder: $photos/Sent/coffee-for-mum.jpg" clean --yes --protect "$photos/Sent/coffee-for-mum.jpg" "$photos"
refused 'Not a folder: "" (an empty argument)' clean --yes ""
refused 'No such folder: two\nlines\x1b[31m' clean --yes $'two\nlines\e[31m'
refused 'put-back needs a cleanup: its number in history, or the first 8 or more characters of its id.' put-back ""
[[ "$(snapshot)" == "$before" && ! -e "$journals" && ! -e "$settings" ]] || fail "a refused command changed something"

# ---- One-off options never change the settings; none are written when there were none.
"$program" clean --dry-run --mode similar --preset broad --priorities newest,mostPixels --protect "$photos/Pictures" "$photos" \
    >/dev/null || fail "dry run with options exited $?"
(cd "$photos" && "$program" clean --dry-run --protect Backup .) >"$work/relative.txt" || fail "relative dry run exited $?"
grep -qF "Protected, nothing in it is moved: $photos/Backup" "$work/relative.txt" ||
    fail "relative --protect: $(cat "$work/relative.txt")"
[[ ! -e "$settings" ]] || fail "a dry run wrote settings: $(cat "$settings")"

# Newest first, with nothing protected, the camera's originals would go: the control case.
"$program" clean --dry-run --json --priorities newest "$photos" >"$work/control.json" || fail "control exited $?"
removes() { python3 -c 'import json, sys; sys.exit(not any(sys.argv[1] in r["path"] for r in json.load(sys.stdin)["plan"]["removals"]))' "$1"; }
removes Pictures/Camera/2021-06-12/IMG_0101.jpg <"$work/control.json" ||
    fail "the control plan does not move the camera's file: $(cat "$work/control.json")"

# Settings as the desktop application leaves them: the camera folder protected.
mkdir -p "$(dirname "$settings")"
cat >"$settings" <<EOF
{
  "photoCleanup.sources": ["$photos/Pictures", "$photos/Sent"],
  "photoCleanup.protected": ["$photos/Pictures"],
  "photoCleanup.preset": "conservative",
  "photoCleanup.priorities": ["oldest", "mostPixels"],
  "photoCleanup.prioritiesRevision": 2,
  "photoCleanup.settingsVersion": 1
}
EOF
cp "$settings" "$work/settings.before"

# The stored protection holds: newest first cannot send the protected originals to the Trash.
"$program" clean --dry-run --json --priorities newest "$photos" >"$work/protected.json" || fail "protected plan exited $?"
! removes Pictures/Camera <"$work/protected.json" || fail "a stored protected folder was not honoured: $(cat "$work/protected.json")"
"$program" clean --dry-run "$photos/Pictures/Camera" >"$work/inside.txt" || fail "inside protected exited $?"
grep -qF "Protected in your settings, nothing in it is moved: $photos/Pictures/Camera" "$work/inside.txt" ||
    fail "a folder inside a protected one: $(cat "$work/inside.txt")"
"$program" clean --yes --mode exact --preset broad --priorities newest --protect "$photos/Sent" "$photos" >"$work/run1.txt" ||
    fail "clean with stored protection exited $?: $(cat "$work/run1.txt")"
grep -q '^2 moved to the Trash' "$work/run1.txt" || fail "report: $(cat "$work/run1.txt")"
[[ -e "$photos/Pictures/Camera/2021-06-12/IMG_0101.jpg" && -e "$photos/Pictures/Camera/2021-06-12/IMG_0102.jpg" ]] ||
    fail "a picture of the protected folder was moved"
[[ ! -e "$photos/Backup/Old laptop/IMG_0101.jpg" && ! -e "$photos/Backup/Old laptop/IMG_0102.jpg" ]] ||
    fail "the backup copies were not moved: $(cat "$work/run1.txt")"
cmp -s "$settings" "$work/settings.before" || fail "the settings changed: $(cat "$settings")"

# ---- put-back: a number is a place in history, an id needs 8 characters and one match.
id=$("$program" history | sed -n 's/^1\. .*\[\(.*\)\]$/\1/p')
[[ ${#id} == 36 ]] || fail "no id in history: $("$program" history)"
refused "There is no cleanup 2 in the history; it lists 1." put-back 2
refused "There is no cleanup 0 in the history; it lists 1." put-back 0
if [[ ${id:0:7} =~ ^[0-9]+$ ]]; then # fewer than 8 digits are a number, even when an id begins so
    refused "There is no cleanup ${id:0:7} in the history; it lists 1." put-back "${id:0:7}"
else
    refused "A cleanup's id needs at least 8 characters, or give its number in history: ${id:0:7}" put-back "${id:0:7}"
fi
refused "No cleanup in the history has an id that begins with 00000000-." put-back 00000000-
refused "Not a picture of that cleanup: Pictures/Camera/2021-06-12/IMG_0101.jpg" put-back 1 Pictures/Camera/2021-06-12/IMG_0101.jpg
[[ ! -e "$photos/Backup/Old laptop/IMG_0101.jpg" ]] || fail "a refused put-back put something back"
# A relative path is taken from the working folder; the id by its first 8 characters.
(cd "$photos/Backup/Old laptop" && "$program" put-back "${id:0:8}" IMG_0101.jpg) >"$work/back1.txt" ||
    fail "put-back by id and relative path exited $?: $(cat "$work/back1.txt")"
[[ -e "$photos/Backup/Old laptop/IMG_0101.jpg" && ! -e "$photos/Backup/Old laptop/IMG_0102.jpg" ]] ||
    fail "put-back of one picture: $(cat "$work/back1.txt")"
# Two cleanups whose ids begin alike: the prefix they share refuses, naming how many.
twin=${id:0:9}FFFF-4FFF-8FFF-FFFFFFFFFFFF
sed "s/$id/$twin/g" "$journals/cleanup-$id.jsonl" >"$journals/cleanup-$twin.jsonl"
refused "2 cleanups have ids that begin with ${id:0:8}; give more of the id." put-back "${id:0:8}"
refused "2 cleanups have ids that begin with $(tr 'A-Z' 'a-z' <<<"${id:0:9}"); give more of the id." put-back "$(tr 'A-Z' 'a-z' <<<"${id:0:9}")"
rm "$journals/cleanup-$twin.jsonl"
"$program" put-back 1 >"$work/back.txt" || fail "put-back 1 exited $?: $(cat "$work/back.txt")"
[[ "$(snapshot)" == "$before" ]] || fail "put-back did not restore the folder"

# ---- An interrupted cleanup: its journal lost the last outcome and its end, and that picture is
# not in the Trash either. `history` reconciles it and says so, with the picture to check by hand.
rm "$settings"
"$program" clean --yes "$photos" >"$work/run2.txt" || fail "second clean exited $?"
journal=$(ls "$journals"/*.jsonl | grep -v "$id")
id2=$(basename "$journal" .jsonl) id2=${id2#cleanup-}
lost=$(grep -c '"kind":"outcome"' "$journal")
[[ $lost == 2 ]] || fail "the journal: $(cat "$journal")"
grep -v '"kind":"finished"' "$journal" | sed '$d' >"$work/cut.jsonl" && cat "$work/cut.jsonl" >"$journal"
lostName=$(ls "$XDG_DATA_HOME/Trash/files" | grep IMG_0102)
rm "$XDG_DATA_HOME/Trash/files/$lostName" "$XDG_DATA_HOME/Trash/info/$lostName.trashinfo"
"$program" history >"$work/history.txt" 2>"$work/history.err" || fail "history exited $?"
# (Two cleanups that start within one second may be listed either way round: find it by its id.)
grep -q "^[12]\. .* 1 moved, 0 skipped, 0 failed, 0 put back (interrupted, reconciled), 1 to check by hand  \[$id2\]$" "$work/history.txt" ||
    fail "history of a reconciled cleanup: $(cat "$work/history.txt")"
grep -q '^1 cleanup interrupted earlier has been worked out' "$work/history.err" || fail "no notice: $(cat "$work/history.err")"
"$program" history --json | grep -q '"unknown":' || fail "history --json has no picture to check by hand"
[[ ! -e "$settings" ]] || fail "the terminal wrote settings"
echo "the terminal never guesses: ok"
