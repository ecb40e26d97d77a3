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
jackd -S -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 32 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
jack_wait -w -t 20 >/dev/null

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
    echo "================ \$ tpmidi01 $*"
    "$tp" "$@" </dev/null 2>/dev/null | tr '\r' '\n'
}

start_sim
show -sync
stop_sim
