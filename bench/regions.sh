#!/usr/bin/env bash
# Whole commands side by side: renders on a map drawn on the fly (--region) against the
# same renders on the shipped usa.jpg. The 598 New Jersey codes of the demo with
# --region NJ, and every code of the database with --region fit. Prints hyperfine's
# table and the ratios against the targets.
#
# usage: bench/regions.sh [BUILD_DIR]   (default: build)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_start regions.sh "${1:-build}"
awk -F, '$5 == "NJ" { print $1 }' "$csv/zipcodes.csv" > "$work/nj.txt"
echo "regions.sh: $(wc -l < "$work/nj.txt") New Jersey codes, $(wc -l < "$work/all.txt") in all"

hyperfine --warmup 1 --min-runs 5 --style basic --export-json "$work/times.json" \
  -n "nj on usa.jpg" "$zembra render -f $work/nj.txt -o $work/usa.jpg" \
  -n "nj --region NJ" "$zembra render -f $work/nj.txt --region NJ -o $work/nj.jpg" \
  -n "all on usa.jpg" "$zembra render -f $work/all.txt -o $work/all-usa.jpg" \
  -n "all --region fit" "$zembra render -f $work/all.txt --region fit -o $work/all-fit.jpg"

bench_ratios comparison \
  "598 NJ codes, --region NJ vs usa.jpg|nj --region NJ|nj on usa.jpg|2.5" \
  "all codes, --region fit vs usa.jpg|all --region fit|all on usa.jpg|3.0"
