#!/usr/bin/env bash
# Builds the web page and its tests' modules (cmake --preset web, Emscripten), then runs
# tests/web: the page's core under Node against the simulated handheld, the page's file, and
# the page in Chromium. --build: the build alone (scripts/release.sh ships the page).
#   scripts/web.sh [--build | PYTEST ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
trap 'echo "web.sh: FAILED at line $LINENO: $BASH_COMMAND" >&2' ERR
# Debian's emcc runs its JavaScript tools with the node on the PATH, which finds Debian's
# JavaScript packages (acorn) only here when it is not Debian's own.
export NODE_PATH=/usr/share/nodejs
log=build-web.log
if ! { cmake --preset web && cmake --build --preset web -j2; } >"$log" 2>&1; then
    tail -n 30 "$log"
    echo "web.sh: FAILED to build the page (whole log: $log)" >&2
    exit 1
fi
[ "${1:-}" == "--build" ] && exit 0
python3 -m pytest -q tests/web "$@"
