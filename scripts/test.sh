#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, every build with warnings as
# errors, in lanes that run at once, since each is mostly one busy thread:
#   the host: the in-process suite (GCC); the Windows build (its unit tests under
#     Wine), a release made from a fresh clone, and the libc++ build; the end-to-end suite over a private JACK server;
#     both suites again built with clang, AddressSanitizer and
#     UndefinedBehaviorSanitizer; the fuzz targets;
#   the VM: the end-to-end suite over the ALSA sequencer and through its USB MIDI
#     interface with the Linux build, then through the interface with the Windows
#     build under Wine, once the host's lane has built it.
# First, the documents may cite only tests that exist.
#   scripts/test.sh --quick   only the build, the in-process suite and the end-to-end
#                             suite over JACK: a few minutes, Debian packages only
set -euo pipefail
cd "$(dirname "$0")/.."
# A step that fails says which; its own messages, or where its log is, come before.
trap 'echo "test.sh: FAILED at line $LINENO: $BASH_COMMAND" >&2' ERR
quick=false
[ "${1:-}" == "--quick" ] && quick=true
bash scripts/setup.sh "$($quick && echo quick || echo test)"
python3 scripts/readme-claims.py

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
# Leaks are reported, but for one of the MIDI library's own (see the file).
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

echo "=== build"
bash scripts/build.sh werror
if $quick; then
    (cd build && ctest --output-on-failure -j2)
    bash scripts/e2e.sh build jack
    echo "=== the quick lane passed"
    exit 0
fi
bash scripts/setup.sh vm
bash scripts/setup.sh platforms
lanes=$(mktemp -d)
# The guest learns that the host has built the Windows build from a file on the shared
# project (its /tmp is its own).
windows_built=$PWD/build/windows-built
rm -f "$windows_built"

# One VM, booted once: the Linux build's suites, then the Windows build's once the host
# has built it. (Two VMs at once starve each other: an emulated receive's closing
# silence, 2^29 polls, then outlasts any sensible limit.)
vm_lane() {
    bash scripts/vm-run --timeout 2700 bash -c '
        status=0
        for transport in alsa usb; do
            echo "--- the Linux build over $transport"
            bash scripts/e2e.sh build "$transport" || status=1
        done
        echo "--- the Windows build under Wine, through the USB interface"
        while [ ! -e "$1" ]; do sleep 2; done
        bash scripts/e2e.sh build-windows usb || status=1
        exit "$status"' vm-lane "$windows_built"
}
vm_lane >"$lanes/vm.log" 2>&1 &
vm_pid=$!
# (Each step may find nothing left to end; under errexit a failing one would make
# the run's status 1 after every test passed.)
trap 'kill $vm_pid 2>/dev/null || true; pkill -f "qemu-system-x86_64.*$PWD/build-deps/vm" 2>/dev/null || true; rm -rf "$lanes"' EXIT

echo "=== the host's lane"
(cd build && ctest --output-on-failure -j2)
echo "--- Windows (MinGW-w64, Wine) and libc++ builds"
bash scripts/platforms.sh windows
touch "$windows_built"
echo "--- a release made from a fresh clone, and what it made"
bash scripts/release-check.sh
bash scripts/platforms.sh libcxx
echo "--- the end-to-end suite over JACK"
bash scripts/e2e.sh build jack
echo "--- built with clang, under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build.sh sanitized
bash scripts/sanitizer-canary.sh build-asan past-block signed
(cd build-asan && ctest --output-on-failure -j2)
E2E_SANITIZED=1 bash scripts/e2e.sh build-asan jack
echo "--- fuzzing"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"

status=0
wait "$vm_pid" || status=$?
echo "=== the VM's lane"
cat "$lanes/vm.log"
[ "$status" -eq 0 ] || { echo "the VM's lane failed (status $status)"; exit 1; }
echo "=== every test passed"
