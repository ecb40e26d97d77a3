#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the in-process suite and
# the end-to-end runs over a private JACK server (GCC), then all of it again built
# with clang, AddressSanitizer and UndefinedBehaviorSanitizer, then the end-to-end
# runs over the ALSA sequencer in a VM, then the fuzz targets, then the Windows and
# libc++ builds. Every build treats warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

run_suite() {  # run_suite BUILD_DIR [cmake options...]
    local dir=$1
    shift
    bash scripts/build.sh "$dir" "$@"
    (cd "$dir" && ctest --output-on-failure -j2 2>&1 | tee ctest.log)
    # The end-to-end tests must have run, not been skipped.
    if ! grep -Eq 'e2e_[a-z]+ \.+ +Passed' "$dir/ctest.log"; then
        echo "the end-to-end tests did not run" >&2
        exit 1
    fi
}

echo "=== test suite"
run_suite build -DTPMIDI_WERROR=ON
echo "=== test suite built with clang, under AddressSanitizer and UndefinedBehaviorSanitizer"
CC=clang CXX=clang++ bash scripts/build.sh build-asan -DTPMIDI_SANITIZE=ON -DTPMIDI_WERROR=ON
bash scripts/sanitizer-canary.sh build-asan past-block signed
CC=clang CXX=clang++ run_suite build-asan -DTPMIDI_SANITIZE=ON -DTPMIDI_WERROR=ON
echo "=== end to end over the ALSA sequencer, in a VM with Debian's kernel"
bash scripts/setup.sh vm
bash scripts/vm-run --timeout 60 true || { echo "the VM did not boot" >&2; exit 1; }
for script in modes transfers faults card; do
    echo "--- e2e_$script over ALSA"
    E2E_TRANSPORT=alsa bash scripts/vm-run --timeout 600 \
        bash tests/e2e/$script.sh build/tpmidi01 build/trackpod-sim
done
echo "=== fuzzing"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
echo "=== Windows (MinGW-w64, Wine) and libc++ builds"
bash scripts/platforms.sh
