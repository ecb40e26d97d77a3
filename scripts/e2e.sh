#!/usr/bin/env bash
# Runs the end-to-end suite (tests/e2e) on one build over one transport:
#   scripts/e2e.sh BUILD_DIR [jack|alsa|usb] [pytest options...]
# jack runs here; the others in scripts/vm-run's guest. A BUILD_DIR with a tpmidi01.exe
# is the Windows build, run under Wine against the Linux simulator of ./build.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
transport=${2:-jack}
shift $(($# < 2 ? $# : 2))
tpmidi=$PWD/$dir/tpmidi01
sim=$PWD/$dir/trackpod-sim
if [ -f "$tpmidi.exe" ]; then
    tpmidi=$tpmidi.exe
    sim=$PWD/build/trackpod-sim
fi
suite=(env E2E_TRANSPORT="$transport" TPMIDI="$tpmidi" TRACKPOD_SIM="$sim"
       python3 -m pytest tests/e2e -vv --durations=5 "$@")
[ "$transport" == jack ] && exec "${suite[@]}"
exec bash scripts/vm-run --timeout 1800 "${suite[@]}"
