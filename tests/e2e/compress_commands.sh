#!/usr/bin/env bash
# End to end through the executable: compress (dry run, declined, confirmed, stopped with
# Ctrl-C), history and put-back on clips made here, with a real Trash in a temporary home; every
# --json document, the plans and the reports of compress and the entries of history, fits the schema.
#   compress_commands.sh VELMO_PRISTEL SAMPLES_DIR SCHEMA
set -euo pipefail
source "$(dirname "$0")/home.sh" "$@"
schema=$3 validate=$(dirname "$0")/validate_json.py
photos=$HOME/videos
mkdir -p "$photos/phone"
clip() { # PATH SIZE SECONDS [EXTRA...]
    local path=$1 size=$2 seconds=$3
    shift 3
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=15:duration=$seconds" \
        -f lavfi -i "sine=frequency=440:duration=$seconds" -c:v libx264 -preset ultrafast -crf 8 -pix_fmt yuv420p \
        -c:a aac -shortest "$@" "$path"
}
clip "$photos/big.mp4" 2560x1440 1 -metadata creation_time=2024-07-14T09:30:00Z
clip "$photos/odd"$'\n'"name.mov" 320x240 1
printf 'still' >"$photos/phone/IMG_0042.HEIC"
printf 'not a movie' >"$photos/broken.mp4" # listed as skipped, with its reason
clip "$photos/phone/IMG_0042.MOV" 320x240 2 -metadata com.apple.quicktime.content.identifier=5A1B2C3D-42 \
    -movflags use_metadata_tags
before=$(snapshot)

"$program" compress --dry-run "$photos" >"$work/dry.txt" || fail "dry run exited $?"
grep -q '^Videos to compress (2, ' "$work/dry.txt" || fail "dry run: $(cat "$work/dry.txt")"
grep -q 'odd\\nname.mov' "$work/dry.txt" || fail "an odd name is not shown escaped: $(cat "$work/dry.txt")"
grep -q '^Live Photos (1)' "$work/dry.txt" || fail "no Live Photo: $(cat "$work/dry.txt")"
"$program" compress --dry-run --json "$photos" >"$work/dry.json" || fail "dry run --json exited $?"
python3 "$validate" "$schema" "$work/dry.json" || fail "the dry run's JSON does not fit the schema"
python3 - "$work/dry.json" <<'PY' || fail "the JSON plan: $(cat "$work/dry.json")"
import json, sys
document = json.load(open(sys.argv[1]))
assert document["command"] == "compress"
assert len(document["plan"]["videos"]) == 2 and len(document["livePhotoPlan"]["removals"]) == 1
assert [s["detail"] for s in document["scan"]["skipped"]] == ["Not a video this computer can read"], document["scan"]["skipped"]
assert "report" not in document and "imageReport" not in document
PY
status=0
echo n | "$program" compress "$photos" >"$work/declined.txt" 2>/dev/null || status=$?
[[ $status == 1 ]] || fail "declined run exited $status"
[[ "$(snapshot)" == "$before" ]] || fail "a dry or declined run changed the folder"

"$program" compress --yes --live-photos "$photos" >"$work/live.txt" || fail "live photos exited $?"
grep -q '^Still kept, movie moved to the Trash: ' "$work/live.txt" || fail "live: $(cat "$work/live.txt")"
[[ -e "$photos/phone/IMG_0042.HEIC" && ! -e "$photos/phone/IMG_0042.MOV" ]] || fail "the Live Photo halves"
"$program" compress --yes --videos "$photos" >"$work/run.txt" || fail "compress exited $?"
[[ $(grep -c '^Compressed: ' "$work/run.txt") == 2 ]] || fail "report: $(cat "$work/run.txt")"
[[ "$(ffprobe -v error -select_streams v -show_entries stream=codec_name,codec_tag_string,width,height \
      -of csv=p=0 "$photos/big.mp4")" == "hevc,hvc1,1920,1080" ]] || fail "the copy is not HEVC 1080p"
ffprobe -v error -show_entries format_tags=creation_time -of csv=p=0 "$photos/big.mp4" | grep -q '^2024-07-14' ||
    fail "the creation time was lost"
[[ -z "$(find "$photos" -name '.*')" ]] || fail "hidden copies left behind"
[[ $(count "$XDG_DATA_HOME/Trash/files") == 3 ]] || fail "the Trash does not hold the three originals"

"$program" history >"$work/history.txt"
grep -q '^C1\. .* 2 compressed, 0 skipped, 0 not compressed, 0 originals back' "$work/history.txt" ||
    fail "history: $(cat "$work/history.txt")"
"$program" put-back C1 >"$work/back.txt" || fail "put-back C1 exited $?"
"$program" put-back 1 >>"$work/back.txt" || fail "put-back 1 exited $?"
[[ "$(snapshot)" == "$before" ]] || fail "put-back did not restore the folder: $(cat "$work/back.txt")"
"$program" history | grep -q '2 originals back' || fail "history after put-back"
"$program" history --json >"$work/history.json" || fail "history --json exited $?"
python3 "$validate" "$schema" "$work/history.json" || fail "history's JSON does not fit the schema"
python3 - "$work/history.json" <<'PY' || fail "history's JSON: $(cat "$work/history.json")"
import json, sys
entries = json.load(open(sys.argv[1]))
assert sorted(e["kind"] for e in entries) == ["cleanup", "compression"], entries
videos = [e for e in entries if e["kind"] == "compression"][0]
assert [list(i["outcome"]) for i in videos["items"]] == [["originalRestored"]] * 2, videos
PY
status=0
"$program" put-back C7 2>"$work/err.txt" || status=$?
[[ $status == 2 ]] || fail "put-back of a compression that is not there exited $status"

# A detailed JPEG becomes a HEIC beside it, and comes back.
vips resize "$samples/Pictures/Camera/2022-03-05/IMG_0203.jpg" "$photos/photo.jpg[Q=97]" 3
before=$(snapshot)
"$program" compress --yes --images "$photos" >"$work/images.txt" || fail "compress --images exited $?"
grep -q '^Compressed: .*photo.jpg .* as photo.heic$' "$work/images.txt" || fail "images: $(cat "$work/images.txt")"
[[ -e "$photos/photo.heic" && ! -e "$photos/photo.jpg" ]] || fail "the HEIC copy did not take the photo's place"
"$program" put-back C1 >/dev/null || fail "put-back of the photo exited $?"
[[ "$(snapshot)" == "$before" ]] || fail "the photo did not come back"
# The same through --json: the scan of the photos, their plan and the report fit the schema.
"$program" compress --yes --json --images "$photos" >"$work/images.json" || fail "compress --yes --json --images exited $?"
python3 "$validate" "$schema" "$work/images.json" || fail "the conversion's JSON does not fit the schema"
python3 - "$work/images.json" "$photos" <<'PY' || fail "the conversion's JSON: $(cat "$work/images.json")"
import json, sys
document, photos = json.load(open(sys.argv[1])), sys.argv[2]
assert document["imagePlan"]["images"][0]["path"] == photos + "/photo.jpg"
[item] = document["imageReport"]["items"]
assert item["replacedBy"] == photos + "/photo.heic" and item["outcome"]["compressed"]["newSize"] > 0, item
assert document["plan"]["videos"] == [] and "report" not in document
PY
"$program" put-back C1 >/dev/null || fail "put-back of the photo converted through --json exited $?"
[[ "$(snapshot)" == "$before" ]] || fail "the photo converted through --json did not come back"

# Ctrl-C during an encode stops it; the original stays, the partial copy goes to the Trash.
rm -rf "$photos"/* "$XDG_DATA_HOME/Trash"
clip "$photos/long.mp4" 1280x720 20
before=$(snapshot)
"$program" compress --yes "$photos" >"$work/stopped.txt" 2>/dev/null &
runner=$!
for _ in $(seq 600); do [[ -n "$(find "$photos" -name '.*')" ]] && break; sleep 0.1; done
kill -INT $runner
status=0
wait $runner || status=$?
[[ $status == 1 ]] || fail "a stopped run exited $status: $(cat "$work/stopped.txt")"
grep -q '^Skipped (Stopped while it was being compressed; the original is untouched.)' "$work/stopped.txt" ||
    fail "stopped: $(cat "$work/stopped.txt")"
[[ "$(snapshot)" == "$before" && -z "$(find "$photos" -name '.*')" ]] || fail "a stopped run changed the folder"
echo "compress, history and put-back: ok"
