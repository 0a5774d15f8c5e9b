#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Idempotent, and silent when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config git ccache
  libgtest-dev
  nlohmann-json3-dev
  libssl-dev
  libvips-dev libvips-tools zlib1g-dev
  libraw-dev libheif-dev libde265-dev libavcodec-dev  # FFmpeg's HEVC decoder checks HEIC pictures
  libtiff-dev
  libplist-dev
  libsqlite3-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libx265-199  # movies; x265 through libavcodec
  ffmpeg  # the test and benchmark clips are made with its own sources (testsrc2, sine)
  qt6-base-dev libqt6svg6 fonts-dejavu-core  # the desktop window; its tests run offscreen
  shared-mime-info
  libopencv-contrib-dev opencv-data libdlib-dev libdlib-data python3-skimage
  time
  python3 libimage-exiftool-perl
  pandoc python3-jsonschema  # the manual page; the JSON documents checked against their schema
  zsh fish  # their completions are checked in the tests
  clang libclang-rt-14-dev  # libFuzzer, for the fuzz tests of the readers
  desktop-file-utils appstream libxml2-utils  # validating the desktop entry, metainfo and icon
  shotwell xvfb xauth dbus-daemon  # a real photo library made by its own program, started without a display
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
