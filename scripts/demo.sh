#!/usr/bin/env bash
# Zembra's main job: installs what is needed, builds the command line, the map engine, the
# maps and the zip-code database, then puts zip codes on the maps:
#   out/demo-usa.jpg     the sample codes 08873 and 08232 and every zip code of New Jersey
#   out/demo-hawaii.jpg  every zip code of Hawaii
# The zip codes come from assets/zipcodes/zipcodes.csv (state column).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"

# Configure every folder (an earlier configure may have limited them) and build only
# what rendering needs.
cmake -S . -B build -G Ninja -DZEMBRA_ONLY= > build-configure.log 2>&1 \
  || { cat build-configure.log; exit 1; }
rm -f build-configure.log
cmake --build build --target zembra zembra_engine zembra_assets zembra_zipcodes_db

zembra="$root/build/bin/zembra"
csv="$root/assets/zipcodes/zipcodes.csv"
mkdir -p out

# Zip codes of one state: the state is the last column of the CSV.
codes_of() { awk -F, -v s="$1" 'NR > 1 && $NF == s { print $1 }' "$csv"; }

echo
echo "== The sample zip codes 08873 and 08232, and all of New Jersey, on usa.jpg"
codes_of NJ | grep -v -x -e 08873 -e 08232 \
  | "$zembra" render 08873 08232 -f - --map usa -o out/demo-usa.jpg

echo
echo "== Every zip code of Hawaii on hawaii.jpg"
codes_of HI | "$zembra" render --map hawaii --marker blue_dot_13 -o out/demo-hawaii.jpg

echo
echo "== What lies under pixel 1724,406 of usa.jpg (zip code, latitude, longitude, city and state)"
"$zembra" lookup 1724 406 --map usa

echo
echo "Pictures written:"
echo "  $root/out/demo-usa.jpg"
echo "  $root/out/demo-hawaii.jpg"
