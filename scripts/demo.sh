#!/usr/bin/env bash
# Installs what is missing, builds, and shows tpmidi01 at work against the built-in
# handheld simulator on a private JACK server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build >/dev/null
tp=$PWD/build/tpmidi01
sim=$PWD/build/trackpod-sim
work=$(mktemp -d)
export JACK_DEFAULT_SERVER="tpmidi-demo-$$"
jackd_pid=""
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$jackd_pid" ] && kill -TERM "$jackd_pid" 2>/dev/null && wait "$jackd_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
jackd -S -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 16 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
jack_wait -w -t 20 >/dev/null 2>&1

start_sim() {
    "$sim" "$@" >"$work/sim.out" 2>/dev/null &
    sim_pid=$!
    until jack_lsp 2>/dev/null | grep -q '^trackpod-sim in:'; do sleep 0.05; done
    until jack_lsp 2>/dev/null | grep -q '^trackpod-sim out:'; do sleep 0.05; done
}
stop_sim() {
    kill -TERM "$sim_pid"; wait "$sim_pid" || true; sim_pid=""
    sed 's/^/    simulator: /' "$work/sim.out" | grep -v ' ready on '
    while jack_lsp 2>/dev/null | grep -q '^trackpod-sim'; do sleep 0.05; done
}
show() {
    echo
    echo "================ \$ tpmidi01 ${*//$work\//}"
    # Progress lines overwrite each other with a carriage return; keep the last one.
    (cd "$work" && "$tp" "${@//$work\//}" </dev/null 2>/dev/null) |
        sed 's/.*\r\(.\)/\1/'
}

# A made-up trackpod 2.5 bank (first byte 0x24) and a made-up GBA ROM (first byte 0x2E).
{ printf '\x24'; head -c 4095 /dev/urandom; } >"$work/song.tp2"
{ printf '\x2E'; head -c 65535 /dev/urandom; } >"$work/update.gba"

start_sim
show -sync
stop_sim

start_sim --save "$work/uploaded.tp2"
show -send "$work/song.tp2"
stop_sim
cmp -s "$work/song.tp2" "$work/uploaded.tp2" && echo "    (the simulator received every byte of song.tp2)"

start_sim --bank "$work/song.tp2"
show -receive "$work/received.tp2"
stop_sim
cmp -s "$work/song.tp2" "$work/received.tp2" && echo "    (received.tp2 equals the bank the simulator sent)"

start_sim --gba-client 0x5A
show -send "$work/update.gba"
stop_sim
