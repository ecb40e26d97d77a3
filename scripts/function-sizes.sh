#!/usr/bin/env bash
# Fails when a function in src/ or sim/ is longer than 50 lines, blank lines and comments
# included, as clang-tidy counts them over the compile commands of a build.
#   scripts/function-sizes.sh [BUILD_DIR, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/compile_commands.json" ] ||
    { echo "function-sizes.sh: FAILED: no $build/compile_commands.json (scripts/build.sh makes it)" >&2; exit 1; }
options='{CheckOptions: [{key: readability-function-size.LineThreshold, value: 50}]}'
found=$(find src sim -name '*.cpp' -print0 |
        xargs -0 -P"$(nproc)" -n4 clang-tidy -p "$build" --quiet -checks='-*,readability-function-size' \
            -config="$options" 2>/dev/null | grep -A1 "readability-function-size" || true)
if [ -n "$found" ]; then
    echo "$found"
    echo "function-sizes.sh: FAILED: the functions above are longer than 50 lines" >&2
    exit 1
fi
echo "ok: every function in src/ and sim/ is at most 50 lines"
