#!/usr/bin/env bash
# clean --library on a Shotwell library of PHOTOS photos (3,000 by default) over copies of the
# sample pictures: Shotwell makes the database under a virtual display, the photos are added as
# rows of its schema, then the plan (--dry-run) and the tagging of every copy (--yes) are timed.
#   bench/library.sh [PHOTOS]
set -euo pipefail
photos=${1:-3000}
cd "$(dirname "$0")/.."
scripts/deps.sh >&2
build=build/bench-release
[[ -f $build/build.ninja ]] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVP_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target velmo-pristel >/dev/null
program=$PWD/$build/app/velmo-pristel
work=$(mktemp -d)
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
group=
cleanup() { [[ -n $group ]] && kill -KILL -- "-$group" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$HOME"
database=$XDG_DATA_HOME/shotwell/data/photo.db
NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory setsid timeout -k 5 120 xvfb-run -a dbus-run-session -- shotwell \
    >"$work/shotwell.log" 2>&1 &
group=$!
for _ in $(seq 600); do
    [[ -f $database ]] && python3 -c "import sqlite3,sys; sys.exit(0 if sqlite3.connect('$database').execute('SELECT COUNT(*) FROM VersionTable').fetchone()[0] else 1)" 2>/dev/null && break
    sleep 0.1
done
sleep 2
kill -TERM -- "-$group" 2>/dev/null || true
sleep 2
kill -KILL -- "-$group" 2>/dev/null || true
group=
[[ -f $database ]] || { echo "Shotwell made no database: $(cat "$work/shotwell.log")" >&2; exit 1; }
python3 - "$database" "$photos" "$HOME/Pictures" <<'PY'
import glob, os, shutil, sqlite3, subprocess, sys
database, count, pictures = sys.argv[1], int(sys.argv[2]), sys.argv[3]
samples = sorted(glob.glob('samples/**/*.jpg', recursive=True) + glob.glob('samples/**/*.png', recursive=True))
size = {f: tuple(int(subprocess.check_output(['vipsheader', '-f', k, f])) for k in ('width', 'height')) for f in samples}
connection = sqlite3.connect(database)
for i in range(count):
    source = samples[i % len(samples)]
    folder = f'{pictures}/{i // 100:04d}'
    os.makedirs(folder, exist_ok=True)
    target = f'{folder}/{i:06d}-{os.path.basename(source)}'
    shutil.copyfile(source, target)
    status = os.stat(target)
    width, height = size[source]
    connection.execute('INSERT INTO PhotoTable (filename, width, height, filesize, timestamp, exposure_time, orientation, '
                       'original_orientation, import_id, event_id, time_created, flags, rating, file_format, editable_id) '
                       'VALUES (?, ?, ?, ?, ?, ?, 1, 1, 1, -1, ?, 0, 0, ?, -1)',
                       (target, width, height, status.st_size, int(status.st_mtime), 1700000000 + i, int(status.st_mtime),
                        2 if target.endswith('.png') else 0))
connection.commit()
PY
echo "$photos photos, $(du -sh "$HOME/Pictures" | cut -f1) (page cache warm), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/time -f "plan (--dry-run): %e s wall, %U s user, %S s system, %M KB peak" \
    "$program" clean --library --dry-run --json >"$work/plan.json"
/usr/bin/time -f "tag every copy (--yes): %e s wall, %U s user, %S s system, %M KB peak (scan, backup, re-checks, one transaction, rescan)" \
    "$program" clean --library --yes --json >"$work/tagged.json"
python3 -c "import json; d = json.load(open('$work/tagged.json')); print(len(d['albumReport']['added']), 'tagged,', len(d['albumReport']['skipped']), 'skipped')"
