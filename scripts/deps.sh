#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Idempotent, and silent when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config git ccache
  libgtest-dev
  nlohmann-json3-dev
  libssl-dev
  libvips-dev libvips-tools
  libraw-dev libheif-dev libde265-dev
  libtiff-dev
  libplist-dev
  libsqlite3-dev
  shared-mime-info
  libopencv-contrib-dev opencv-data libdlib-dev libdlib-data python3-skimage
  time
  python3 libimage-exiftool-perl
  clang libclang-rt-14-dev  # libFuzzer, for the fuzz tests of the readers
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
