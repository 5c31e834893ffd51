#!/usr/bin/env bash
# Whole commands side by side: `zembra points` with 33,000 points on a 2000 x 1000 JPEG
# map, default chunks and one chunk, to JPEG and to PNG, against the floor (decode the
# map once, encode the output once, same codecs and settings). Prints hyperfine's table,
# the ratios against the targets, and the PNG file's size against zlib level 6.
#
# usage: bench/speed.sh [BUILD_DIR]   (default: build; needs -DZEMBRA_BENCH=ON)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
zembra=$build/bin/zembra
floor=$build/bin/imaging_floor_bench
for tool in "$zembra" "$floor"; do
  [ -x "$tool" ] || { echo "speed.sh: $tool is not built" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "speed.sh: hyperfine is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$floor" --make-map "$work/map.jpg"
# 33,000 points spread over the map's bounds (fixed seed, so every run plots the same).
awk 'BEGIN { srand(7); for (i = 0; i < 33000; i++)
       printf "%.5f,%.5f\n", 24 + rand() * 26, -125 + rand() * 58.6 }' > "$work/points.txt"
points=(points -f "$work/points.txt" --map "$work/map.jpg" --bounds 24,50,-125,-66.4)

hyperfine --warmup 2 --min-runs 10 --style basic --export-json "$work/times.json" \
  -n "floor jpg" "$floor --once $work/map.jpg $work/floor.jpg" \
  -n "points jpg, default chunks" "$zembra ${points[*]} -o $work/chunks.jpg" \
  -n "points jpg, one chunk" "$zembra ${points[*]} --chunk-size 33000 -o $work/one.jpg" \
  -n "floor png" "$floor --once $work/map.jpg $work/floor.png" \
  -n "points png, default chunks" "$zembra ${points[*]} -o $work/chunks.png" \
  -n "points png, one chunk" "$zembra ${points[*]} --chunk-size 33000 -o $work/one.png"

"$floor" --reference-png "$work/chunks.png" "$work/level6.png"
# The same size comparison on the shipped USA map with a few markers.
"$zembra" points 40.7,-74 34.05,-118.25 --map usa -o "$work/usa.png" 2>/dev/null
"$floor" --reference-png "$work/usa.png" "$work/usa-level6.png"
python3 - "$work" <<'PY'
import json, os, sys
work = sys.argv[1]
results = json.load(open(os.path.join(work, "times.json")))["results"]
t = {r["command"]: r["median"] for r in results}
# CPU time (user + system) beside the wall time: on a shared machine it is the steadier.
c = {r["command"]: r["user"] + r["system"] for r in results}
def row(what, a, b, target):
    ratio = t[a] / t[b]
    cpu = c[a] / c[b]
    print(f"| {what} | {t[a]*1000:.0f} ms / {t[b]*1000:.0f} ms | {ratio:.2f} "
          f"| {c[a]*1000:.0f} ms / {c[b]*1000:.0f} ms | {cpu:.2f} | {target} "
          f"| {'met' if max(ratio, cpu) <= float(target[2:-1]) else 'MISSED'} |")
print("\n| comparison | wall medians | ratio | CPU means | ratio | target | |")
print("|---|---|---|---|---|---|---|")
row("JPEG, default chunks vs floor", "points jpg, default chunks", "floor jpg", "<=3.0x")
row("JPEG, default chunks vs one chunk", "points jpg, default chunks", "points jpg, one chunk", "<=1.15x")
row("PNG, default chunks vs floor", "points png, default chunks", "floor png", "<=1.15x")
row("PNG, one chunk vs floor", "points png, one chunk", "floor png", "<=1.15x")
for what, ours, ref in (("bench map", "chunks.png", "level6.png"), ("usa.jpg", "usa.png", "usa-level6.png")):
    ours = os.path.getsize(os.path.join(work, ours))
    ref = os.path.getsize(os.path.join(work, ref))
    print(f"| PNG size vs zlib level 6, {what} | {ours} / {ref} bytes | {ours/ref:.3f} | | | <=1.05x "
          f"| {'met' if ours/ref <= 1.05 else 'MISSED'} |")
PY
