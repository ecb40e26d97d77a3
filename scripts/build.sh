#!/usr/bin/env bash
# Configures and builds one of the variants that CMakePresets.json names (default: the
# "default" preset, into build/); further arguments go to cmake's configure step.
#   scripts/build.sh [default | werror | release | sanitized | fuzz | windows | libcxx] [CMAKE ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
shift || true
cmake --preset "$preset" "$@" >/dev/null ||
    { echo "build.sh: FAILED to configure the $preset preset (CMake's messages above)" >&2; exit 1; }
cmake --build --preset "$preset" -j"$(nproc)" ||
    { echo "build.sh: FAILED to build the $preset preset (the compiler's messages above)" >&2; exit 1; }
