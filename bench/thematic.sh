#!/usr/bin/env bash
# Whole commands side by side: the thematic styles for every code of the database on
# usa.jpg against the plain marker render of the same codes. Density and filled counties
# are held to targets (2x and 3x); the other styles are shown beside them. Prints
# hyperfine's table and the ratios.
#
# usage: bench/thematic.sh [BUILD_DIR]   (default: build)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_start thematic.sh "${1:-build}"
# The same codes as a sales list with a segment and a revenue column.
awk 'BEGIN { print "Zip,Segment,Revenue"; split("Retail Office Farm", s, " ") }
     { printf "%s,%s,%d\n", $1, s[NR % 3 + 1], 100 + NR % 97 }' "$work/all.txt" > "$work/all.csv"
echo "thematic.sh: $(wc -l < "$work/all.txt") codes"
rows=(-f "$work/all.csv" --column Zip)

hyperfine --warmup 1 --min-runs 5 --style basic --export-json "$work/times.json" \
  -n "plain markers" "$zembra render -f $work/all.txt -o $work/plain.jpg" \
  -n "density" "$zembra render -f $work/all.txt --style density -o $work/density.jpg" \
  -n "counties" "$zembra render -f $work/all.txt --style counties -o $work/counties.jpg" \
  -n "states, by revenue" "$zembra render ${rows[*]} --value Revenue --style states -o $work/states.jpg" \
  -n "category" "$zembra render ${rows[*]} --category Segment --style category -o $work/category.jpg" \
  -n "value" "$zembra render ${rows[*]} --value Revenue --style value -o $work/value.jpg"

bench_ratios "comparison (all codes, usa.jpg)" \
  "density vs plain markers|density|plain markers|2.0" \
  "filled counties vs plain markers|counties|plain markers|3.0" \
  "states, by revenue vs plain markers|states, by revenue|plain markers|" \
  "category vs plain markers|category|plain markers|" \
  "value vs plain markers|value|plain markers|"
