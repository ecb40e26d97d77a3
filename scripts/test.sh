#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the in-process suite and
# the end-to-end runs over a private JACK server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
cd build
ctest --output-on-failure -j2 2>&1 | tee ctest.log
# The end-to-end tests must have run, not been skipped.
if ! grep -Eq 'e2e_[a-z]+ \.+ +Passed' ctest.log; then
    echo "the end-to-end tests did not run" >&2
    exit 1
fi
