#!/usr/bin/env bash
# Catalogs from the terminal, through the executable over real catalogs: the mistakes a person
# makes, a dry run and a declined question that leave the catalog's bytes alone, a catalog open
# in its program refused before anything is read, a marking with its backup, history and undo,
# and every --json document against the schema.
#   catalog_commands.sh VELMO_PRISTEL CATALOG_SCENE SCHEMA
set -euo pipefail
scene=$2 schema=$3
source "$(dirname "$0")/home.sh" "$1" ""
photos=$work validate=$(dirname "$0")/validate_json.py
export TMPDIR=$work # the scenes are made inside the run's folder and go with it
lightroom=$("$scene" lightroom)
captureOne=$("$scene" capture-one)
sum() { sha256sum "$1" | cut -d' ' -f1; }
# The flags in id order, as numbers (an undone flag is written back as the whole number it was).
picks() { python3 -c 'import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute("SELECT group_concat(pick) FROM (SELECT CAST(pick AS REAL) AS pick FROM Adobe_images ORDER BY id_local)").fetchone()[0])' "$1"; }
run() { # STATUS ARGUMENT...: runs from $work, standard output in out.txt, standard error in err.txt
    local expected=$1 status=0
    shift
    (cd "$work" && "$program" "$@" >"$work/out.txt" 2>"$work/err.txt") || status=$?
    [[ $status == "$expected" ]] || fail "$* exited $status, not $expected: $(cat "$work/out.txt" "$work/err.txt")"
}

# ---- Mistakes: status 2, one line, the catalog untouched.
before=$(sum "$lightroom")
refused "No such catalog: nowhere.lrcat" clean --lightroom nowhere.lrcat
refused "--lightroom needs a value (velmo-pristel clean --help)" clean --lightroom
refused "--lightroom and --capture-one do not go together." clean --lightroom "$lightroom" --capture-one "$captureOne"
refused "clean scans the catalog's own photos, not folders: ." clean --lightroom "$lightroom" .
refused "--protect is for folders; in a catalog, flag or rate the photos to keep instead." clean --lightroom "$lightroom" --protect .
refused "That is not a Capture One catalog (.cocatalog)." clean --capture-one "$lightroom" --dry-run
echo "not a database" >"$work/fake.lrcat"
refused "The catalog could not be read: file is not a database" clean --lightroom fake.lrcat --dry-run
refused "undo needs a marking: its number in history, or the first 8 or more characters of its id." undo
refused "There is no marking 1 in the history; it lists 0." undo 1
refused "undo takes one marking: 2 is one too many" undo 1 2
[[ $(sum "$lightroom") == "$before" ]] || fail "a refused command changed the catalog"

# ---- A dry run and a "no" change nothing; the question names the catalog.
run 0 clean --lightroom "$lightroom" --dry-run --json
python3 "$validate" "$schema" "$work/out.txt"
grep -q '"outcome":"planned"' "$work/out.txt" || fail "dry run: $(cat "$work/out.txt")"
echo n | run 1 clean --lightroom "$lightroom"
grep -qF 'Mark 2 pictures Rejected in Main.lrcat? [y/N]' "$work/err.txt" || fail "question: $(cat "$work/err.txt")"
grep -q '^Plan: 2 pictures to mark Rejected in Main.lrcat' "$work/out.txt" || fail "plan: $(cat "$work/out.txt")"
grep -q '^Nothing was marked.$' "$work/out.txt" || fail "declined: $(cat "$work/out.txt")"
[[ $(sum "$lightroom") == "$before" ]] || fail "a dry run or a declined question changed the catalog"

# ---- Open in Lightroom Classic: refused with the sentence before the scan, status 3.
touch "$lightroom.lock"
run 3 clean --lightroom "$lightroom" --yes
grep -qx 'Quit Lightroom Classic first. Its catalog is only changed while Lightroom is closed.' "$work/err.txt" ||
    fail "open catalog: $(cat "$work/err.txt")"
rm "$lightroom.lock"
[[ $(sum "$lightroom") == "$before" ]] || fail "an open catalog was changed"

# ---- Marked, with a backup that is a whole catalog; a second run finds nothing left to mark.
flags=$(picks "$lightroom")
run 0 clean --lightroom "$lightroom" --yes --json
python3 "$validate" "$schema" "$work/out.txt"
backup=$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert d["outcome"]=="finished"; print(d["marking"]["record"]["backupPath"])' "$work/out.txt")
[[ -f "$backup" && $(dirname "$backup") == "$(dirname "$lightroom")/Velmo Pristel Backups" ]] || fail "no backup: $backup"
[[ $(picks "$backup") == "$flags" ]] || fail "the backup is not the catalog before the marking"
[[ $(picks "$lightroom") != "$flags" ]] || fail "nothing was marked"
run 0 clean --lightroom "$lightroom" --yes --json
grep -q '"outcome":"nothingToDo"' "$work/out.txt" || fail "rejected photos were offered again: $(cat "$work/out.txt")"

# ---- Capture One, asked and answered; the id it prints takes the tagging back.
# Records keep the second a marking was made, so the two must not share one for "newest first".
sleep 1.1
echo y | run 0 clean --capture-one "$captureOne"
grep -q '^Tagged Red: ' "$work/out.txt" || fail "tagging: $(cat "$work/out.txt")"
id=$(sed -n 's/.*take this back with: velmo-pristel undo \([0-9A-F]\{8\}\)$/\1/p' "$work/out.txt")
[[ -n $id ]] || fail "no undo hint: $(cat "$work/out.txt")"

# ---- history lists both, newest first, and its JSON says which is which.
run 0 history
grep -q '^1\. .*  2 tagged Red in Main, backup Main .*\.cocatalog  \[' "$work/out.txt" || fail "history: $(cat "$work/out.txt")"
grep -q '^2\. .*  2 marked Rejected in Main.lrcat, backup Main .*\.lrcat  \[' "$work/out.txt" || fail "history: $(cat "$work/out.txt")"
run 0 history --json
python3 -c 'import json,sys; kinds=[e["kind"] for e in json.load(open(sys.argv[1]))]; assert kinds==["captureOne","lightroom"], kinds' "$work/out.txt"

# ---- undo by id and by number; twice is refused; the flags are back.
run 0 undo "$id"
grep -qx '2 no longer tagged Red in Main' "$work/out.txt" || fail "undo: $(cat "$work/out.txt")"
run 0 undo 2
grep -qx '2 no longer Rejected in Main.lrcat' "$work/out.txt" || fail "undo: $(cat "$work/out.txt")"
[[ $(picks "$lightroom") == "$flags" ]] || fail "undo did not give the flags back: $flags, now $(picks "$lightroom")"
run 3 undo 2
grep -qx 'That marking was taken back already.' "$work/out.txt" || fail "second undo: $(cat "$work/out.txt")"
run 0 history
grep -q '(taken back)' "$work/out.txt" || fail "history after undo: $(cat "$work/out.txt")"
echo "catalog commands: ok"
