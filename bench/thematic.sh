#!/usr/bin/env bash
# Whole commands side by side: the thematic styles for every code of the database on
# usa.jpg against the plain marker render of the same codes. Density and filled counties
# are held to targets (2x and 3x); the other styles are shown beside them. Prints
# hyperfine's table and the ratios.
#
# usage: bench/thematic.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
zembra=$build/bin/zembra
[ -x "$zembra" ] || { echo "thematic.sh: $zembra is not built" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "thematic.sh: hyperfine is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
csv=$root/assets/zipcodes
tail -n +2 "$csv/zipcodes.csv" | cut -d, -f1 > "$work/all.txt"
tail -n +2 "$csv/zip_towns.csv" | cut -d, -f1 >> "$work/all.txt"
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

python3 - "$work" <<'PY'
import json, os, sys
results = json.load(open(os.path.join(sys.argv[1], "times.json")))["results"]
t = {r["command"]: r["median"] for r in results}
c = {r["command"]: r["user"] + r["system"] for r in results}
def row(what, a, b, target=None):
    ratio, cpu = t[a] / t[b], c[a] / c[b]
    verdict = "" if target is None else ("met" if ratio <= target else "MISSED")
    print(f"| {what} | {t[a]*1000:.0f} ms / {t[b]*1000:.0f} ms | {ratio:.2f} "
          f"| {c[a]*1000:.0f} ms / {c[b]*1000:.0f} ms | {cpu:.2f} "
          f"| {'' if target is None else f'<={target}x'} | {verdict} |")
print("\n| comparison (all codes, usa.jpg) | wall medians | ratio | CPU means | ratio | target | |")
print("|---|---|---|---|---|---|---|")
row("density vs plain markers", "density", "plain markers", 2.0)
row("filled counties vs plain markers", "counties", "plain markers", 3.0)
for other in ("states, by revenue", "category", "value"):
    row(f"{other} vs plain markers", other, "plain markers")
PY
