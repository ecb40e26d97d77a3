#!/usr/bin/env bash
# Configures and builds into ./build (or the folder given as the first argument);
# further arguments go to cmake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null ||
    { echo "build.sh: FAILED to configure $dir (CMake's messages above; its log: $dir/CMakeFiles/CMakeOutput.log)" >&2; exit 1; }
cmake --build "$dir" -j"$(nproc)" || { echo "build.sh: FAILED to build $dir (the compiler's messages above)" >&2; exit 1; }
