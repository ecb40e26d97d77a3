#!/usr/bin/env bash
# Installs what is missing, builds, and shows tpmidi01 at work against the built-in
# handheld simulator on a private JACK server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null
tp=$PWD/build/tpmidi01
WORK=$(mktemp -d)
SIM_PID="" JACK_PID=""
trap 'stop_sim >/dev/null; [ -z "$JACK_PID" ] || kill "$JACK_PID"; rm -rf "$WORK"' EXIT

# A JACK server of the demo's own; synchronous, with short periods, as the tests use.
export JACK_DEFAULT_SERVER="tpmidi-demo-$$" JACK_NO_AUDIO_RESERVATION=1
jackd -S -t 200 -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 16 >"$WORK/jackd.log" 2>&1 &
JACK_PID=$!
# (jack_wait complains of each failed connection while the server starts.)
jack_wait -w -t 20 >/dev/null 2>&1 || { echo "demo: the JACK server did not start:"; cat "$WORK/jackd.log"; exit 1; }

# Starts the simulator and waits for its ready line.
start_sim() {
    build/trackpod-sim "$@" >"$WORK/sim.out" 2>"$WORK/sim.err" &
    SIM_PID=$!
    for _ in $(seq 1 200); do grep -q " ready on " "$WORK/sim.out" && return; sleep 0.05; done
    cat "$WORK/sim.err"; exit 1
}
# Stops it and shows what it says it received and verified.
stop_sim() {
    [ -n "$SIM_PID" ] || return 0
    kill -TERM "$SIM_PID" && wait "$SIM_PID" || true
    SIM_PID=""
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

start_sim
show -sync
stop_sim

start_sim --save "$WORK/uploaded.tp2"
show -send "$WORK/song.tp2"
stop_sim
cmp -s "$WORK/song.tp2" "$WORK/uploaded.tp2" && echo "    (the simulator received every byte of song.tp2)"

start_sim --bank "$WORK/song.tp2"
show -receive "$WORK/received.tp2"
stop_sim
cmp -s "$WORK/song.tp2" "$WORK/received.tp2" && echo "    (received.tp2 equals the bank the simulator sent)"

start_sim --gba-client 0x5A
show -send "$WORK/update.gba"
stop_sim
