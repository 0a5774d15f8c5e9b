#!/usr/bin/env bash
# Candidate proposal and pair evaluation at scale, on synthetic pictures with planted near copies,
# quarter-turned copies and bursts (similarity-bench describes them), whose other hashes are drawn
# from a model of real photos' hashes, and, for comparison, uniform random bits.
#   bench/scale.sh [SEED]
# The model is fitted once to the hashes of real crops and frames and kept in
# build/hash-model/model.txt: the shared photo set's originals (build/photo-set, built when
# missing, as bench/similar.sh does), opencv-doc's sample photos and one frame in 50 of its
# street recording vtest.avi, 40 seeded crops of each. The fit prints how the model's hashes
# compare with the real ones and with uniform bits.
# Then, for each kind of hash: the whole comparing pass that builds an index (candidates,
# evaluation, the pairs a grouping can read kept) at 100,000 pictures, median of three runs; and
# the same at 1,000,000, once.
set -euo pipefail
seed=${1:-7}
cd "$(dirname "$0")/.."
bench=$(bench/build.sh similarity-bench)
models=build/hash-model
model=$models/model.txt
if [[ ! -s $model ]]; then
    set_dir=$PWD/build/photo-set
    [[ -f "$set_dir/truth/similar.tsv" ]] || ../shared/datasets/build-photos --out "$set_dir"
    if [[ "$(dpkg-query -W -f='${Status}' opencv-doc 2>/dev/null || true)" != "install ok installed" ]]; then
        sudo_cmd=(); [[ $EUID -ne 0 ]] && sudo_cmd=(sudo)
        DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends opencv-doc >/dev/null
    fi
    mkdir -p "$models/frames"
    vtest=$(find /usr/share/doc/opencv-doc -name 'vtest.avi*' | head -1)
    [[ $vtest == *.gz ]] && { gunzip -c "$vtest" >"$models/vtest.avi"; vtest=$models/vtest.avi; }
    ffmpeg -nostdin -v error -y -i "$vtest" -vf "select=not(mod(n\,50))" -vsync 0 -q:v 3 "$models/frames/vtest_%03d.jpg"
    {
        awk -F'\t' -v set="$set_dir" '$3 == "master" { print set "/" $1 }' "$set_dir/truth/similar.tsv"
        ls /usr/share/doc/opencv-doc/examples/data/*.jpg
        ls "$PWD/$models"/frames/*.jpg
    } >"$models/list.txt"
    "$bench" real-hashes "$models/list.txt" "$models/real.tsv" 40
    # Pictures of one scene are not unrelated: the frames of the recording, and the two windows
    # cut from one photograph.
    python3 - "$models/real.tsv" "$set_dir" >"$models/scenes.tsv" <<'EOF'
import csv, sys
real, set_dir = sys.argv[1], sys.argv[2]
original = {}
for row in csv.DictReader(open(set_dir + "/truth/similar.tsv"), delimiter="\t"):
    name = row["original"].removesuffix("-left").removesuffix("-right")
    original[set_dir + "/" + row["path"]] = name
for line in open(real):
    source, hashes = line.rstrip("\n").split("\t")
    print(("vtest" if "/frames/vtest_" in source else original.get(source, source)) + "\t" + hashes)
EOF
    "$bench" fit "$models/scenes.tsv" "$model"
fi

# Each run under /usr/bin/time: wall and CPU seconds and the peak resident memory of the whole
# process, the pictures included.
timed() {
    /usr/bin/time -f '  (%e s wall, %U s user + %S s system CPU, peak RSS %M KiB)' "$@" 2>&1
}
median_of_three() { # prints the run with the median time of three
    for run in 1 2 3; do timed "$@" | grep -v '^  then' | paste -sd' '; done | sort -t: -k2 -n | sed -n 2p
}
for hashes in "$model" uniform; do
    echo "hashes: $hashes (load average $(cut -d' ' -f1-3 /proc/loadavg))"
    median_of_three "$bench" scale 100000 "$seed" "$hashes"
    timed "$bench" stream 1000000 "$seed" "$hashes"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
