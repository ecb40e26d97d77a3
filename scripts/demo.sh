#!/usr/bin/env bash
# Installs what is missing, builds, and shows tpmidi01 at work against the built-in
# handheld simulator on a private JACK server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build >/dev/null
tp=$PWD/build/tpmidi01
SIM=$PWD/build/trackpod-sim
. scripts/jack-sim.sh
jack_start

# Stops the simulator and shows what it says it received and verified.
stop_sim() {
    sim_stop
    sed 's/^/    simulator: /' "$WORK/sim.out" | grep -v ' ready on '
}
show() {
    echo
    echo "================ \$ tpmidi01 ${*//$WORK\//}"
    # Progress lines overwrite each other with a carriage return; keep the last one.
    (cd "$WORK" && "$tp" "${@//$WORK\//}" </dev/null 2>/dev/null) |
        sed 's/.*\r\(.\)/\1/'
}

# A made-up trackpod 2.5 bank (first byte 0x24) and a made-up GBA ROM (first byte 0x2E).
{ printf '\x24'; head -c 4095 /dev/urandom; } >"$WORK/song.tp2"
{ printf '\x2E'; head -c 65535 /dev/urandom; } >"$WORK/update.gba"

sim_start
show -sync
stop_sim

sim_start --save "$WORK/uploaded.tp2"
show -send "$WORK/song.tp2"
stop_sim
cmp -s "$WORK/song.tp2" "$WORK/uploaded.tp2" && echo "    (the simulator received every byte of song.tp2)"

sim_start --bank "$WORK/song.tp2"
show -receive "$WORK/received.tp2"
stop_sim
cmp -s "$WORK/song.tp2" "$WORK/received.tp2" && echo "    (received.tp2 equals the bank the simulator sent)"

sim_start --gba-client 0x5A
show -send "$WORK/update.gba"
stop_sim
