#!/usr/bin/env bash
# Makes the README's gallery: one small JPEG per adjustment, each written by the
# velmora command itself from a 320-pixel-wide copy of the sample photograph.
#   scripts/gallery.sh [path/to/velmora]      (needs python3-pil for the resize)
set -euo pipefail
cd "$(dirname "$0")/.."
velmora=${1:-build/release/tools/velmora}
out=docs/gallery
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

/usr/bin/python3 - "$work/small.png" <<'PY'
import sys
from PIL import Image
img = Image.open("sample/creek.jpg")
small = img.resize((320, round(320 * img.height / img.width)), Image.LANCZOS)
small.save(sys.argv[1])
# A faded copy with a colour cast, each channel squeezed into a range of its
# own: the sample already spans 0..255 in every channel, so auto levels
# would leave it as it is.
spans = [(50, 190), (40, 200), (65, 215)]
bands = [band.point(lambda v, lo=lo, hi=hi: lo + v * (hi - lo) // 255)
         for band, (lo, hi) in zip(small.convert("RGB").split(), spans)]
Image.merge("RGB", bands).save(sys.argv[1].replace("small", "faded"))
PY

input=small
run() {  # run NAME ADJUSTMENT [OPTIONS...], on $work/$input.png
  local name=$1 adjustment=$2; shift 2
  "$velmora" "$adjustment" "$work/$input.png" "$out/$name.jpg" "$@"
}
run original       brightness --value 0
run grayscale      grayscale
run sepia          sepia
run invert         invert
run brightness     brightness --value 25
run contrast       contrast --value 40
run gamma          gamma --gamma 1.8
run levels         levels --black 30 --white 215 --gamma 1.2
input=faded
run auto_levels_input brightness --value 0
run auto_levels    auto-levels
input=small
run curves         curves --points 0:0,64:40,192:225,255:255
run vignette       vignette --strength 80 --radius 60
run saturation     saturation --amount 70
run hue            hue --degrees 150
run replace        replace --from 70,75,50 --to 255,80,0 --tolerance 25
run colorize       colorize --color 40,110,220 --intensity 45
run white_balance  white-balance --temperature 5
run color_balance  color-balance --shadows=0,0,10 --highlights=8,4,0
run selective      selective --hue 90 --range 45 --sat-min 10 --red 60,40 --blue=-50,0
ls -s "$out"
