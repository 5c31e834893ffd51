#!/usr/bin/env bash
# Draws the pictures of the thematic styles shown in the README (docs/thematic/): every
# style for New Jersey's codes on a map of the state, and for every code on a map of the
# contiguous states as usa.jpg shows them, 1200 pixels wide, from a
# sales list with a segment and a revenue per code.
#
# usage: scripts/thematic-pictures.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
zembra=$build/bin/zembra
out=$root/docs/thematic
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
csv=$root/assets/zipcodes
sales() {  # codes on standard input -> Zip,Segment,Revenue
  awk 'BEGIN { print "Zip,Segment,Revenue"; split("Retail Office Farm", s, " ") }
       { printf "%s,%s,%d\n", $1, s[NR % 3 + 1], 100 + (NR * 37) % 900 }'
}
tail -n +2 "$csv/zipcodes.csv" "$csv/zip_towns.csv" | awk -F, 'NF > 1 { print $1 }' | sales > "$work/all.csv"
awk -F, '$5 == "NJ" { print $1 }' "$csv/zipcodes.csv" "$csv/zip_towns.csv" | sales > "$work/nj.csv"

for style in category value density states counties; do
  extra=()
  case $style in
    category) extra=(--category Segment) ;;
    value | counties) extra=(--value Revenue) ;;
  esac
  "$zembra" render -f "$work/nj.csv" --column Zip --style "$style" "${extra[@]}" \
    --region NJ --width 800 --title "New Jersey" --subtitle "Sales by zip code ($style)" \
    -o "$out/nj-$style.png" >/dev/null
  "$zembra" render -f "$work/all.csv" --column Zip --style "$style" "${extra[@]}" \
    --region 24,50,-125,-66.4 --width 1200 --title "Every zip code" \
    --subtitle "Sales by zip code ($style)" \
    -o "$out/usa-$style.jpg" >/dev/null
done
ls -l "$out"
