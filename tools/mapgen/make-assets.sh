#!/usr/bin/env bash
# Redraws the committed pictures in assets/Images from the boundary data.
#   tools/mapgen/make-assets.sh <path to zembra-mapgen>   (draws from the installed boundary data)
# The build never runs this: the pictures are committed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mapgen=${1:?usage: make-assets.sh <path to zembra-mapgen>}
images="$here/../../assets/Images"
maps="$images/Maps"
overlays="$images/Overlays"
mkdir -p "$maps" "$overlays"

# The bounds of the shipped maps come from the map catalogue (--map); each map gets its
# world file (usa.jgw beside usa.jpg).
"$mapgen" --map usa --width 2000 --out "$maps/usa.jpg"
"$mapgen" --map alaska --width 1500 --out "$maps/alaska.jpg"
# Hawaii's islands are drawn from the more detailed world outline; the census shoreline,
# which fits the zip codes best on the mainland, is coarse at this zoom.
"$mapgen" --map hawaii --width 1800 --us-land country --out "$maps/hawaii.jpg"

# The client selects the fifth overlay in name order at start-up: red_dot_11.png.
marker() { "$mapgen" --marker "$1" --size "$2" --fill "$3" --outline "$4" --out "$overlays/$5"; }
marker dot 9  1f1f1f 000000 black_dot_9.png
marker dot 13 1f6fd1 0b2a55 blue_dot_13.png
marker dot 11 2ca02c 0f3d0f green_dot_11.png
marker pin 21 f28e1c 5a2e00 orange_pin.png
marker dot 11 d62728 4a0c0c red_dot_11.png
marker pin 25 d62728 4a0c0c red_pin.png
marker dot 15 f2c500 5c4a00 yellow_dot_15.png
ls -l "$maps" "$overlays"
