#!/usr/bin/env bash
# The command line as scripts and people meet it, through the executable: every mistake is one
# line on standard error and status 2 with nothing on standard output; the help lists what the
# options take; --json documents fit their schema in every outcome; what a scan left out is
# counted on standard error; the question goes to standard error; history's dates are ISO 8601.
#   command_line.sh VELMO_PRISTEL SAMPLES_DIR SCHEMA
set -euo pipefail
source "$(dirname "$0")/home.sh" "$@"
schema=$3 validate=$(dirname "$0")/validate_json.py
photos=$HOME/photos
export TZ=UTC # the samples are dated in UTC; commands below choose their own zone
copy_samples
echo "not a picture" >"$photos/Downloads/damaged.jpg"
mkdir -p "$photos/.thumbnails" && cp "$photos/Sent/coffee-for-mum.jpg" "$photos/.thumbnails/"

# ---- Mistakes: status 2, one line naming what was wrong, nothing on standard output.
refused "No such folder: $HOME/Picturs" --exact "$HOME/Picturs"
refused "No such folder: braod (nor is it a preset: conservative, balanced or broad)" --similar braod .
refused "Unknown option: --similr (velmo-pristel --help lists them)" --similr .
refused "Unknown option: -x (velmo-pristel --help lists them)" -x
refused "Not a folder: Sent/coffee-for-mum.jpg" --exact Sent/coffee-for-mum.jpg
refused "Folders go right after --similar, before other options: ." --similar --json .
refused "Give one of --exact, --similar and --series, not both --series and --similar." --series . --similar
refused "--json goes with --exact, --similar or --series." --json .
refused "No such command or folder: cleen (the commands are clean, compress, history, put-back and undo)" cleen .
refused "Unknown option for clean: --yse (velmo-pristel clean --help lists them)" clean --yse .
refused "Unknown option for history: --dry-run (velmo-pristel history --help lists them)" history --dry-run
refused "history takes no folders or names: ." history .
refused "--preset takes conservative, balanced or broad, not braod" clean --preset=braod .
refused "clean --json needs --yes or --dry-run: it never asks." clean --json .
refused "--protect needs a value (velmo-pristel clean --help)" clean . --protect
refused "No Shotwell library at $HOME/shotwel.db." clean --library "$HOME/shotwel.db"
refused "No Shotwell library at $HOME/shotwel.db." compress --library "$HOME/shotwel.db"

# ---- A library that is there but is no database is refused (status 3), by both commands.
printf 'not a database' >"$work/photo.db"
for command in clean compress; do
    status=0
    "$program" $command --library "$work/photo.db" --yes >"$work/junk.out" 2>"$work/junk.err" || status=$?
    [[ $status == 3 && ! -s "$work/junk.out" ]] || fail "$command of a damaged library exited $status"
    grep -q "^The Shotwell library at $work/photo.db could not be read" "$work/junk.err" ||
        fail "$command of a damaged library: $(cat "$work/junk.err")"
done

# "--" ends the options: a folder whose name begins with a hyphen is a folder.
mkdir -p "$work/-odd"
cp "$photos/Sent/coffee-for-mum.jpg" "$work/-odd/a.jpg" && cp "$photos/Sent/coffee-for-mum.jpg" "$work/-odd/b.jpg"
(cd "$work" && "$program" --exact -- -odd) >"$work/odd.txt" || fail "--exact -- -odd exited $?"
grep -q '^2 pictures compared, 1 identical group$' "$work/odd.txt" || fail "--exact -- -odd: $(cat "$work/odd.txt")"
rm -r "$work/-odd"

# ---- Help where people look; every priority and preset with its line, the report's words.
"$program" --help >"$work/help.txt" || fail "--help exited $?"
"$program" clean --help >"$work/clean-help.txt" || fail "clean --help exited $?"
for word in conservative balanced broad "close pairs" "quality N" --json --skipped --no-cache "Exit status"; do
    grep -qF -- "$word" "$work/help.txt" || fail "--help does not mention $word"
done
for word in mostPixels largestFile filedNotInbox oldest newest shallowest sharpest bestQuality eyesOpen mostSmiles \
    "Standard order: eyesOpen,bestQuality" --interactive --protect; do
    grep -qF -- "$word" "$work/clean-help.txt" || fail "clean --help does not mention $word"
done
"$program" history --help | grep -q '^Usage: velmo-pristel history' || fail "history --help"
"$program" put-back --help | grep -q '^Usage: velmo-pristel put-back' || fail "put-back --help"
[[ "$("$program" --version)" =~ ^velmo-pristel\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version: $("$program" --version)"

# ---- Reports: the fixed format on standard output, what was left out on standard error.
"$program" --exact "$photos" >"$work/exact.txt" 2>"$work/exact.err" || fail "--exact exited $?"
[[ "$(tail -1 "$work/exact.txt")" == "14 pictures compared, 2 identical groups" ]] || fail "--exact: $(cat "$work/exact.txt")"
[[ "$(cat "$work/exact.err")" == "Left out: 1 damaged, 1 hidden. --skipped lists them." ]] ||
    fail "--exact told: $(cat "$work/exact.err")"
"$program" --exact "$photos" --skipped 2>"$work/listed.err" >/dev/null || fail "--skipped exited $?"
grep -qxF "  damaged: $photos/Downloads/damaged.jpg" "$work/listed.err" || fail "--skipped: $(cat "$work/listed.err")"
grep -qxF "  hidden: $photos/.thumbnails" "$work/listed.err" || fail "--skipped: $(cat "$work/listed.err")"

# ---- JSON documents fit the schema, whatever the outcome.
"$program" --json --exact "$photos" >"$work/exact.json" 2>/dev/null || fail "--exact --json exited $?"
TZ=Asia/Kolkata "$program" --json --similar broad "$photos" >"$work/similar.json" 2>/dev/null || fail "--similar --json exited $?"
"$program" --series "$photos" --json >"$work/series.json" 2>/dev/null || fail "--series --json exited $?"
"$program" clean --dry-run --json --mode similar "$photos" >"$work/planned.json" 2>/dev/null || fail "clean --dry-run --json exited $?"
"$program" clean --yes --json "$photos" >"$work/finished.json" 2>"$work/finished.err" || fail "clean --yes --json exited $?"
"$program" clean --yes --json "$photos" >"$work/nothing.json" 2>/dev/null || fail "second clean --yes --json exited $?"
python3 "$validate" "$schema" "$work"/{exact,similar,series,planned,finished,nothing}.json || fail "a document does not fit the schema"
python3 - "$work" <<'PY' || fail "the documents do not say what happened"
import json, sys
work = sys.argv[1]
load = lambda name: json.load(open(f"{work}/{name}.json"))
exact, similar, finished, nothing = load("exact"), load("similar"), load("finished"), load("nothing")
assert [g["kind"] for g in exact["groups"]] == ["identical", "identical"], exact["groups"]
assert similar["preset"] == "broad" and similar["summary"]["closePairs"] > 0
# The file's date in local time with its offset; the camera's own clock as written, in any zone.
camera = [m for g in similar["groups"] for m in g["members"] if m["path"].endswith("Camera/2021-06-12/IMG_0101.jpg")]
assert camera and camera[0]["date"] == "2021-06-12T14:44:03+05:30", camera
assert camera[0]["captureDate"] == "2021-06-12T09:14:03", camera
assert {s["reason"] for s in exact["skipped"]} == {"corrupt", "hidden"}, exact["skipped"]
for group in exact["groups"]:
    keepers = [m for m in group["members"] if m["keeper"]]
    assert len(keepers) == 1 and keepers[0]["path"] == group["keeper"]["path"], group
    assert "/Pictures/Camera/" in group["keeper"]["path"], group  # the oldest copy
assert finished["outcome"] == "finished" and len(finished["report"]["items"]) == 2, finished
assert nothing["outcome"] == "nothingToDo" and "report" not in nothing, nothing
PY
grep -q '^Left out: 1 damaged, 1 hidden' "$work/finished.err" || fail "clean did not tell what it left out: $(cat "$work/finished.err")"

# ---- The question goes to standard error; standard output carries the groups and the plan.
"$program" put-back 1 >/dev/null || fail "put-back exited $?"
status=0
echo n | "$program" clean "$photos" >"$work/asked.out" 2>"$work/asked.err" || status=$?
[[ $status == 1 ]] || fail "a declined clean exited $status"
grep -qF 'to the Trash? [y/N]' "$work/asked.err" || fail "no question on standard error: $(cat "$work/asked.err")"
! grep -qF '[y/N]' "$work/asked.out" || fail "the question went to standard output"
[[ "$(tail -1 "$work/asked.out")" == "Nothing was moved." ]] || fail "declined: $(tail -2 "$work/asked.out")"
# Into one file, the question still comes after the plan it asks about.
echo n | "$program" clean "$photos" >"$work/merged.txt" 2>&1 || true
[[ $(grep -n '^Plan: ' "$work/merged.txt" | cut -d: -f1) -lt $(grep -n 'to the Trash? \[y/N\]' "$work/merged.txt" | cut -d: -f1) ]] ||
    fail "the question came before the plan: $(cat "$work/merged.txt")"

# ---- history: ISO 8601 dates in local time, in JSON too.
TZ=Asia/Kolkata "$program" history >"$work/history.txt" || fail "history exited $?"
grep -Eq '^1\. [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}  0 moved, 0 skipped, 0 failed, 2 put back' "$work/history.txt" ||
    fail "history: $(cat "$work/history.txt")"
TZ=Asia/Kolkata "$program" history --json >"$work/history.json" || fail "history --json exited $?"
python3 - "$work/history.json" <<'PY' || fail "history's JSON dates: $(cat "$work/history.json")"
import json, sys
reports = json.load(open(sys.argv[1]))
assert reports and reports[0]["started"].endswith("+05:30"), reports[0]["started"]
assert all(item["at"].endswith("+05:30") for item in reports[0]["items"])
PY
echo "the command line: ok"
