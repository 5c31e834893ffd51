#!/usr/bin/env bash
# Checks the project's C++ sources: the layout against .clang-format and the checks of
# .clang-tidy (over the compile database of a configured build folder).
#   scripts/check-style.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build=${1:-build}

mapfile -t sources < <(git ls-files '*.cpp' '*.hpp' '*.h' '*.cc')
echo "check-style: clang-format on ${#sources[@]} files"
clang-format --dry-run -Werror "${sources[@]}"

if [ ! -f "$build/compile_commands.json" ]; then
  echo "check-style: $build/compile_commands.json missing: configure the build first" >&2
  exit 1
fi
# The product's own translation units: libraries, engine, programs and tools (tests, benches
# and fuzz targets are held to the compiler's warnings); generated files (moc, qrc) are not ours.
mapfile -t units < <(git ls-files '*.cpp' | grep -Ev '(^|/)(tests|bench|fuzz)/')
echo "check-style: clang-tidy on ${#units[@]} files"
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${units[@]/#/$root/}" > "$build/clang-tidy.log" 2>&1 || {
  grep -E "warning:|error:" "$build/clang-tidy.log" | sort -u | head -100
  echo "check-style: clang-tidy found problems (full log: $build/clang-tidy.log)" >&2
  exit 1
}
echo "check-style: clean"
