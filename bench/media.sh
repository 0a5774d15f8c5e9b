#!/usr/bin/env bash
# The HEVC copies against their estimates on a set of clips, and the encode speed on a 1-minute
# 4K clip: prints one line per clip and the median and worst estimate error.
#   bench/media.sh [CLIP_DIR]
# CLIP_DIR defaults to $TMPDIR/mediabench; the clips are made there with FFmpeg's own sources
# (a moving test pattern and a sine tone) when missing, plus opencv-doc's real recording
# vtest.avi (a street scene) transcoded to H.264.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# The real recording is for this benchmark only, so its package is installed here.
if [[ "$(dpkg-query -W -f='${Status}' opencv-doc 2>/dev/null || true)" != "install ok installed" ]]; then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends opencv-doc >/dev/null || true
fi
[[ -f build/release/build.ninja ]] || cmake --preset release >/dev/null
cmake --build --preset release --target media-bench -j2 >/dev/null

clips=${1:-${TMPDIR:-/tmp}/mediabench}
mkdir -p "$clips"
make() { # NAME SIZE SECONDS RATE [EXTRA...]
    local name=$1 size=$2 seconds=$3 rate=$4
    shift 4
    [[ -s "$clips/$name" ]] && return
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=$rate:duration=$seconds" \
        -f lavfi -i "sine=frequency=440:duration=$seconds" -c:a aac -shortest "$@" "$clips/$name"
}
h264=(-c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p)
make 4k-1min.mp4 3840x2160 60 30 "${h264[@]}"
make 4k-10s.mov 3840x2160 10 30 "${h264[@]}"
make 1080p-20s.mp4 1920x1080 20 30 "${h264[@]}"
make 1080p-60fps-10s.mov 1920x1080 10 60 "${h264[@]}"
make 720p-30s.mp4 1280x720 30 25 "${h264[@]}"
make portrait-1080p-10s.mov 1080x1920 10 30 "${h264[@]}"
make prores-720p-5s.mov 1280x720 5 25 -c:v prores_ks -profile:v 0
make short-3s.mp4 1280x720 3 30 "${h264[@]}"
vtest=$(find /usr/share/doc/opencv-doc -name 'vtest.avi*' 2>/dev/null | head -1 || true)
if [[ -n "$vtest" && ! -s "$clips/vtest.mp4" ]]; then
    [[ "$vtest" == *.gz ]] && { gunzip -c "$vtest" >"$clips/vtest.avi"; vtest=$clips/vtest.avi; }
    ffmpeg -nostdin -v error -y -i "$vtest" -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p "$clips/vtest.mp4"
fi
build/release/bench/media-bench "$clips"/*.mp4 "$clips"/*.mov
