#!/usr/bin/env bash
# File names are bytes, end to end through the executable: copies whose names are not UTF-8, hold
# a line break or an escape sequence, in a folder whose own name is not UTF-8, go through
# `clean --dry-run --json`, `clean --yes`, `history` and `put-back` with their exact bytes, and
# every name is printed escaped.
#   tidy_names.sh VELMO_PRISTEL SAMPLES_DIR
set -euo pipefail
source "$(dirname "$0")/home.sh" "$@"

photos=$HOME/$'Fotos \xff'
mkdir -p "$photos"
original=$samples/Pictures/Camera/2021-06-12/IMG_0101.jpg
cp "$original" "$photos/IMG_0101.jpg"
touch -d '2021-06-12 09:14:03' "$photos/IMG_0101.jpg" # the oldest: the one kept
latin1=$'caf\xe9 copy.jpg' newline=$'two\nlines.jpg' escape=$'red\e[31mX.jpg' reserved=$'\xf4\x8f\xbf\xbf.jpg'
for name in "$latin1" "$newline" "$escape" "$reserved" "plain copy.jpg"; do cp "$original" "$photos/$name"; done
before=$(snapshot)

# Names in --json output decode to the exact bytes of the files (README.md: the escape of names).
decoded_paths() { # JSON on stdin; a jq-like path to a list of objects with "path", or "history"
    python3 -c '
import json, sys
def decode(text):
    out = bytearray()
    for ch in text:
        cp = ord(ch)
        out += bytes([cp - 0x10FF00]) if 0x10FF80 <= cp <= 0x10FFFF else ch.encode("utf-8")
    return bytes(out)
raw = sys.stdin.buffer.read()
raw.decode("ascii")  # the output is ASCII alone
data = json.loads(raw)
items = data["plan"]["removals"] if sys.argv[1] == "plan" else [item["removal"] for report in data for item in report["items"]]
for item in items:
    sys.stdout.buffer.write(decode(item["path"]) + b"\0")
' "$1" | sort -z | od -c
}
expected=$(for name in "$latin1" "$newline" "$escape" "$reserved" "plain copy.jpg"; do printf '%s\0' "$photos/$name"; done |
    sort -z | od -c)

"$program" clean --dry-run --json "$photos" >"$work/plan.json" || fail "clean --dry-run --json exited $?"
[[ "$(decoded_paths plan <"$work/plan.json")" == "$expected" ]] || fail "the plan's paths: $(cat "$work/plan.json")"

# On the terminal every name is escaped: one line each, no escape character, bytes as \xNN.
"$program" clean --dry-run "$photos" >"$work/dry.txt" || fail "clean --dry-run exited $?"
! grep -q $'\e' "$work/dry.txt" || fail "an escape sequence reached the terminal: $(cat -v "$work/dry.txt")"
[[ $(grep -c '^  trash ' "$work/dry.txt") == 5 ]] || fail "five lines to trash: $(cat -v "$work/dry.txt")"
for shown in 'Fotos \xff/caf\xe9 copy.jpg' 'Fotos \xff/two\nlines.jpg' 'Fotos \xff/red\x1b[31mX.jpg' \
    $'Fotos \\xff/\xf4\x8f\xbf\xbf.jpg'; do
    grep -qF "  trash $HOME/$shown" "$work/dry.txt" || fail "not shown as $shown: $(cat -v "$work/dry.txt")"
done
grep -q '^Plan: 5 pictures' "$work/dry.txt" || fail "dry run plan: $(cat -v "$work/dry.txt")"
[[ "$(snapshot)" == "$before" ]] || fail "a dry run changed the folder"

# A confirmed run moves all five, none stopping the others.
"$program" clean --yes "$photos" >"$work/run.txt" 2>"$work/run.err" || fail "clean --yes exited $?: $(cat -v "$work/run.txt" "$work/run.err")"
grep -q '^5 moved to the Trash' "$work/run.txt" || fail "report: $(cat -v "$work/run.txt")"
[[ $(grep -c '^Moved to Trash: ' "$work/run.txt") == 5 ]] || fail "five report lines: $(cat -v "$work/run.txt")"
! grep -q $'\e' "$work/run.txt" || fail "an escape sequence in the report"
[[ $(count "$photos") == 1 && -e "$photos/IMG_0101.jpg" ]] || fail "the copies are still there"
[[ $(count "$XDG_DATA_HOME/Trash/files") == 5 && $(count "$XDG_DATA_HOME/Trash/info") == 5 ]] || fail "the Trash does not hold the five"
[[ -e "$XDG_DATA_HOME/Trash/files/$latin1" && -e "$XDG_DATA_HOME/Trash/files/$newline" ]] ||
    fail "names changed in the Trash: $(ls -b "$XDG_DATA_HOME/Trash/files")"

# The history, read back from the journal, has the exact paths.
"$program" history >"$work/history.txt" || fail "history exited $?"
grep -q '^1\. .* 5 moved, 0 skipped, 0 failed, 0 put back' "$work/history.txt" || fail "history: $(cat "$work/history.txt")"
"$program" history --json >"$work/history.json" || fail "history --json exited $?"
[[ "$(decoded_paths history <"$work/history.json")" == "$expected" ]] || fail "history's paths: $(cat "$work/history.json")"

# Put back one by its name as shown on the terminal, then the rest by the cleanup's number.
"$program" put-back 1 "$HOME/Fotos \\xff/caf\\xe9 copy.jpg" >"$work/back-one.txt" || fail "put-back of one exited $?: $(cat "$work/back-one.txt")"
[[ -e "$photos/$latin1" && ! -e "$photos/$newline" ]] || fail "put-back of one: $(cat -v "$work/back-one.txt")"
grep -qF "Put back: $HOME/Fotos \\xff/caf\\xe9 copy.jpg" "$work/back-one.txt" || fail "put-back line: $(cat -v "$work/back-one.txt")"
"$program" put-back 1 >"$work/back.txt" || fail "put-back exited $?: $(cat -v "$work/back.txt")"
! grep -q $'\e' "$work/back.txt" || fail "an escape sequence in put-back"
[[ "$(snapshot)" == "$before" ]] || fail "put-back did not restore the exact names and contents"
"$program" history | grep -q '5 put back' || fail "history after put-back: $("$program" history)"
[[ ! -e "$XDG_CONFIG_HOME/velmo-pristel" || -z "$(find "$XDG_CONFIG_HOME" -name settings.json)" ]] ||
    fail "the terminal saved settings"
echo "names that are not UTF-8: ok"
