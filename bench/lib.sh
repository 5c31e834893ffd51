# What the whole-command benchmarks share; sourced by them after `set -euo pipefail`.

# bench_start NAME [BUILD_DIR]: sets root, build, zembra (checked built), csv (the zip-code
# tables), work (a folder removed on exit) and writes $work/all.txt, every code of the
# database. Needs hyperfine.
bench_start() {
  local name=$1
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  build=$(cd "${2:-build}" && pwd)
  zembra=$build/bin/zembra
  [ -x "$zembra" ] || { echo "$name: $zembra is not built" >&2; exit 1; }
  command -v hyperfine >/dev/null || { echo "$name: hyperfine is not installed" >&2; exit 1; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  csv=$root/assets/zipcodes
  tail -n +2 "$csv/zipcodes.csv" | cut -d, -f1 > "$work/all.txt"
  tail -n +2 "$csv/zip_towns.csv" | cut -d, -f1 >> "$work/all.txt"
}

# bench_ratios TITLE "WHAT|COMMAND|AGAINST|TARGET"...: the table of hyperfine's results in
# $work/times.json, one row a pair of commands (their names given with -n): wall medians,
# CPU means, their ratios and, where a target ratio is given, whether it was met.
bench_ratios() {
  python3 - "$work" "$@" <<'PY'
import json, os, sys
results = json.load(open(os.path.join(sys.argv[1], "times.json")))["results"]
t = {r["command"]: r["median"] for r in results}
c = {r["command"]: r["user"] + r["system"] for r in results}
print(f"\n| {sys.argv[2]} | wall medians | ratio | CPU means | ratio | target | |")
print("|---|---|---|---|---|---|---|")
for spec in sys.argv[3:]:
    what, a, b, target = spec.split("|")
    ratio, cpu = t[a] / t[b], c[a] / c[b]
    verdict = "" if not target else ("met" if ratio <= float(target) else "MISSED")
    print(f"| {what} | {t[a]*1000:.0f} ms / {t[b]*1000:.0f} ms | {ratio:.2f} "
          f"| {c[a]*1000:.0f} ms / {c[b]*1000:.0f} ms | {cpu:.2f} "
          f"| {f'<={target}x' if target else ''} | {verdict} |")
PY
}
