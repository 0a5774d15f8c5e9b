#!/usr/bin/env bash
# Rebuilds the sample photos from the freely licensed pictures of Debian's python3-skimage.
# Needs: python3-skimage, libvips-tools, libimage-exiftool-perl. Run from this folder.
set -euo pipefail
cd "$(dirname "$0")"
src=/usr/lib/python3/dist-packages/skimage/data
rm -rf Pictures Downloads Backup Edits Sent
mkdir -p "Pictures/Camera/2021-06-12" "Pictures/Camera/2022-03-05" Pictures/Scans Downloads "Backup/Old laptop" Edits Sent
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

camera() { # file date: EXIF date, make and model as a phone writes them
    exiftool -q -overwrite_original -DateTimeOriginal="$2" -CreateDate="$2" -Make=Velmo -Model="Sample Phone" "$1"
}

# Originals.
vips copy "$src/coffee.png" "Pictures/Camera/2021-06-12/IMG_0101.jpg[Q=92,strip]"
camera "Pictures/Camera/2021-06-12/IMG_0101.jpg" "2021:06:12 09:14:03"
vips copy "$src/chelsea.png" "Pictures/Camera/2021-06-12/IMG_0102.jpg[Q=92,strip]"
camera "Pictures/Camera/2021-06-12/IMG_0102.jpg" "2021:06:12 17:40:51"
vips copy "$src/rocket.jpg" "Pictures/Scans/rocket.png"

# Exact copies.
cp -p "Pictures/Camera/2021-06-12/IMG_0101.jpg" "Backup/Old laptop/IMG_0101.jpg"
cp -p "Pictures/Camera/2021-06-12/IMG_0102.jpg" "Backup/Old laptop/IMG_0102.jpg"

# Other versions of the coffee photo: downscaled, re-saved, turned, cropped.
vips resize "Pictures/Camera/2021-06-12/IMG_0101.jpg" "Downloads/coffee (1).jpg[Q=85,strip]" 0.5
vips copy "Pictures/Camera/2021-06-12/IMG_0101.jpg" "Sent/coffee-for-mum.jpg[Q=60]"
vips rot "Pictures/Camera/2021-06-12/IMG_0101.jpg" "Edits/coffee turned.jpg[Q=90,strip]" d90
vips crop "Pictures/Camera/2021-06-12/IMG_0101.jpg" "Edits/coffee cropped.jpg[Q=90]" 24 16 552 368
# And of the cat: re-saved as PNG for a screenshot.
vips copy "Pictures/Camera/2021-06-12/IMG_0102.jpg" "Downloads/Screenshot cat.png"

# A burst: four frames one second apart, the frame drifting a little across the astronaut photo.
for frame in 0 1 2 3; do
    left=$((8 + frame * 6))
    vips crop "$src/astronaut.png" "$tmp/frame.v" "$left" 16 460 460
    vips copy "$tmp/frame.v" "Pictures/Camera/2022-03-05/IMG_020$((frame + 1)).jpg[Q=90,strip]"
    camera "Pictures/Camera/2022-03-05/IMG_020$((frame + 1)).jpg" "2022:03:05 11:02:1$frame"
done
du -sh .
