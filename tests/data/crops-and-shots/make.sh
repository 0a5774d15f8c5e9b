#!/usr/bin/env bash
# Makes the pictures of this folder from photos Debian's python3-skimage ships (see
# samples/README.md for their sources and licences). Run it again to remake them; it needs vips.
#
#   crops/    one photo (coffee.png) and crops of it: 4 % and 7 % off every edge, the middle
#             80 % of each side, and 92 % of each side off the centre. All one photo.
#   shots/    different shots of one subject, never versions of one another: the stereo pair
#             (two cameras, one moment), and two frames of one scene in which something moved
#             (the rocket passing over the astronaut).
set -euo pipefail
cd "$(dirname "$0")"
data=/usr/lib/python3/dist-packages/skimage/data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jpeg='[Q=85,strip]'
mkdir -p crops shots

vips copy "$data/coffee.png" "crops/coffee.jpg$jpeg" # 600 x 400
vips extract_area "$data/coffee.png" "crops/coffee 4 percent off each edge.jpg$jpeg" 24 16 552 368
vips extract_area "$data/coffee.png" "crops/coffee 7 percent off each edge.jpg$jpeg" 42 28 516 344
vips extract_area "$data/coffee.png" "crops/coffee middle 80 percent.jpg$jpeg" 60 40 480 320
vips extract_area "$data/coffee.png" "crops/coffee 92 percent off centre.jpg$jpeg" 48 32 552 368

vips thumbnail "$data/motorcycle_left.png" "shots/motorcycle left camera.jpg$jpeg" 512
vips thumbnail "$data/motorcycle_right.png" "shots/motorcycle right camera.jpg$jpeg" 512

# The rocket (a third of the frame's width) over the astronaut, then further along.
vips thumbnail "$data/rocket.jpg" "$work/rocket.v" 180 --height 240 --size force
vips insert "$data/astronaut.png" "$work/rocket.v" "$work/first.v" 300 40
vips insert "$data/astronaut.png" "$work/rocket.v" "$work/second.v" 180 200
vips copy "$work/first.v" "shots/astronaut and rocket 1.jpg$jpeg"
vips copy "$work/second.v" "shots/astronaut and rocket 2.jpg$jpeg"
