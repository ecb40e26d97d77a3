#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test in the
# lanes of the table below: the host's rows one after another, and meanwhile the VM's, in
# one boot. First, the documents may cite only tests that exist.
#   scripts/test.sh           every lane: about half an hour on two cores
#   scripts/test.sh --quick   the quick lane: the build, the in-process suite and the
#                             end-to-end suite over JACK: a few minutes, Debian packages only
set -euo pipefail
cd "$(dirname "$0")/.."
# A step that fails says which; its own messages, or where its log is, come before.
trap 'echo "test.sh: FAILED at line $LINENO: $BASH_COMMAND" >&2' ERR
quick=false
[ "${1:-}" == "--quick" ] && quick=true

# lane | what it runs | its command. Lanes: "both" (the quick lane's, and the host's
# too), "quick" (the quick lane's alone), "host", "vm". The guest learns that the host
# has built the Windows build and the web page from files on the shared project (its /tmp
# is its own).
# The full run's end-to-end suite over JACK is the sanitized build's; the plain build
# runs there only what the sanitized run leaves out, and its whole suite in the VM.
steps='
both  | the in-process suite (GCC)                       | (cd build && ctest --output-on-failure -j2)
both  | no function in src/ or sim/ over 50 lines        | bash scripts/function-sizes.sh build
quick | the end-to-end suite over JACK                   | bash scripts/e2e.sh build jack
both  | the web page, its core under Node and the page in Chromium and Firefox against the simulated handheld | bash scripts/web.sh && touch build/web-built
host  | the Windows build, its unit tests under Wine     | bash scripts/platforms.sh windows && touch build/windows-built
host  | a release made from a fresh clone, and what it made | bash scripts/release-check.sh
host  | the libc++ build, its unit tests                 | bash scripts/platforms.sh libcxx
host  | built with clang, the sanitizers proved on       | bash scripts/build.sh sanitized && bash scripts/sanitizer-canary.sh build-asan past-block signed
host  | the in-process suite under the sanitizers        | (cd build-asan && ctest --output-on-failure -j2)
host  | the end-to-end suite over JACK, sanitized        | E2E_SANITIZED=1 bash scripts/e2e.sh build-asan jack
host  | the end-to-end tests the sanitized run leaves out | bash scripts/e2e.sh build jack -m unsanitized
host  | fuzzing                                          | bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
vm    | the Linux build over the ALSA sequencer          | bash scripts/e2e.sh build alsa
vm    | the Linux build through the USB MIDI interface   | bash scripts/e2e.sh build usb
vm    | the Windows build under Wine, through the USB MIDI interface | while [ ! -e build/windows-built ]; do sleep 2; done; bash scripts/e2e.sh build-windows usb
vm    | the web page in Chromium over the ALSA sequencer, against a peer apart from the simulator and against the simulator; in Firefox through the USB MIDI interface, pulled out too | while [ ! -e build/web-built ]; do sleep 2; done; E2E_TRANSPORT=alsa python3 -m pytest -q tests/web/test_browser.py && E2E_TRANSPORT=usb python3 -m pytest -q -rs tests/web/test_browser.py
'
# The rows of some lanes, as "what|command" lines.
rows() {
    echo "$steps" | awk -F'|' -v want="$1" '
        { gsub(/^ +| +$/, "", $1) }
        $1 != "" && index(" " want " ", " " $1 " ") {
            for (i = 2; i <= 3; i++) gsub(/^ +| +$/, "", $i)
            print $2 "|" $3 }'
}
# Runs rows one after another, each announced and timed; the first that fails ends them.
run_rows() {
    while IFS='|' read -r what command; do
        echo "--- $what"
        SECONDS=0
        bash -c "set -euo pipefail; $command" </dev/null || { echo "FAILED: $what"; return 1; }
        echo "--- took $((SECONDS / 60)) min $((SECONDS % 60)) s"
    done
}

groups=(quick)
$quick || groups=(platforms vm)
bash scripts/setup.sh "${groups[@]}"
export TPMIDI_PROVISIONED="${groups[*]}"
python3 scripts/readme-claims.py

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
# Leaks are reported, but for one of the MIDI library's own (see the file).
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

echo "=== build"
bash scripts/build.sh werror
if $quick; then
    rows "both quick" | run_rows
    echo "=== the quick lane passed"
    exit 0
fi
lanes=$(mktemp -d)
rm -f build/windows-built build/web-built
# On the shared project, where the guest reads it.
rows vm >build/vm-lane.rows
# One VM, booted once. (Two VMs at once starve each other: an emulated receive's closing
# silence, 2^29 polls, then outlasts any sensible limit.) Its rows all run; its status
# says whether any failed.
vm_lane() {
    bash scripts/vm-run --timeout 2700 bash -c '
        status=0
        while IFS="|" read -r what command; do
            echo "--- $what"
            SECONDS=0
            bash -c "set -euo pipefail; $command" </dev/null || { echo "FAILED: $what"; status=1; }
            echo "--- took $((SECONDS / 60)) min $((SECONDS % 60)) s"
        done <"$1"
        exit "$status"' vm-lane build/vm-lane.rows
}
vm_lane >"$lanes/vm.log" 2>&1 &
vm_pid=$!
# (Each step may find nothing left to end; under errexit a failing one would make
# the run's status 1 after every test passed.)
trap 'kill $vm_pid 2>/dev/null || true; pkill -f "qemu-system-x86_64.*$PWD/build-deps/vm" 2>/dev/null || true; rm -rf "$lanes"' EXIT

echo "=== the host's lane"
rows "both host" | run_rows

status=0
wait "$vm_pid" || status=$?
echo "=== the VM's lane"
cat "$lanes/vm.log"
[ "$status" -eq 0 ] || { echo "the VM's lane failed (status $status)"; exit 1; }
echo "=== every test passed, in $((SECONDS / 60)) min $((SECONDS % 60)) s"
