#!/usr/bin/env bash
# Whole commands side by side: renders on a map drawn on the fly (--region) against the
# same renders on the shipped usa.jpg. The 598 New Jersey codes of the demo with
# --region NJ, and every code of the database with --region fit. Prints hyperfine's
# table and the ratios against the targets.
#
# usage: bench/regions.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
zembra=$build/bin/zembra
[ -x "$zembra" ] || { echo "regions.sh: $zembra is not built" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "regions.sh: hyperfine is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
csv=$root/assets/zipcodes
awk -F, '$5 == "NJ" { print $1 }' "$csv/zipcodes.csv" > "$work/nj.txt"
tail -n +2 "$csv/zipcodes.csv" | cut -d, -f1 > "$work/all.txt"
tail -n +2 "$csv/zip_towns.csv" | cut -d, -f1 >> "$work/all.txt"
echo "regions.sh: $(wc -l < "$work/nj.txt") New Jersey codes, $(wc -l < "$work/all.txt") in all"

hyperfine --warmup 1 --min-runs 5 --style basic --export-json "$work/times.json" \
  -n "nj on usa.jpg" "$zembra render -f $work/nj.txt -o $work/usa.jpg" \
  -n "nj --region NJ" "$zembra render -f $work/nj.txt --region NJ -o $work/nj.jpg" \
  -n "all on usa.jpg" "$zembra render -f $work/all.txt -o $work/all-usa.jpg" \
  -n "all --region fit" "$zembra render -f $work/all.txt --region fit -o $work/all-fit.jpg"

python3 - "$work" <<'PY'
import json, os, sys
results = json.load(open(os.path.join(sys.argv[1], "times.json")))["results"]
t = {r["command"]: r["median"] for r in results}
c = {r["command"]: r["user"] + r["system"] for r in results}
def row(what, a, b, target):
    ratio, cpu = t[a] / t[b], c[a] / c[b]
    print(f"| {what} | {t[a]*1000:.0f} ms / {t[b]*1000:.0f} ms | {ratio:.2f} "
          f"| {c[a]*1000:.0f} ms / {c[b]*1000:.0f} ms | {cpu:.2f} | <={target}x "
          f"| {'met' if ratio <= target else 'MISSED'} |")
print("\n| comparison | wall medians | ratio | CPU means | ratio | target | |")
print("|---|---|---|---|---|---|---|")
row("598 NJ codes, --region NJ vs usa.jpg", "nj --region NJ", "nj on usa.jpg", 2.5)
row("all codes, --region fit vs usa.jpg", "all --region fit", "all on usa.jpg", 3.0)
PY
