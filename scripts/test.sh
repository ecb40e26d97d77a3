#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the in-process suite and
# the end-to-end suite over a private JACK server (GCC), then both again built with
# clang, AddressSanitizer and UndefinedBehaviorSanitizer, then the end-to-end suite
# over the ALSA sequencer and through a virtual card in a VM, then the fuzz
# targets, then the Windows and libc++ builds. Every build treats warnings as
# errors, and the README may cite only tests that exist.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test
python3 tests/readme_claims.py

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

unit_tests() {  # unit_tests BUILD_DIR
    (cd "$1" && ctest --output-on-failure -j2)
}

echo "=== test suite"
bash scripts/build.sh build -DTPMIDI_WERROR=ON
unit_tests build
bash scripts/e2e.sh build jack
echo "=== test suite built with clang, under AddressSanitizer and UndefinedBehaviorSanitizer"
CC=clang CXX=clang++ bash scripts/build.sh build-asan -DTPMIDI_SANITIZE=ON -DTPMIDI_WERROR=ON
bash scripts/sanitizer-canary.sh build-asan past-block signed
unit_tests build-asan
bash scripts/e2e.sh build-asan jack
echo "=== end to end over the ALSA sequencer and through a virtual card, in a VM with Debian's kernel"
bash scripts/setup.sh vm
bash scripts/vm-run --timeout 60 true || { echo "the VM did not boot" >&2; exit 1; }
for transport in alsa card; do
    echo "--- over $transport"
    bash scripts/e2e.sh build "$transport"
done
echo "=== fuzzing"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
echo "=== Windows (MinGW-w64, Wine) and libc++ builds"
bash scripts/platforms.sh
