# Shared by the demo, the transport benchmark and the end-to-end tests: a private
# JACK server and the simulator program on it. Source it, set SIM to the simulator,
# call jack_start, then sim_start / sim_stop as needed; jack_cleanup runs at exit.
WORK=${WORK:-$(mktemp -d)}
SIM_PID=""
JACK_PID=""

jack_cleanup() {
    [ -n "$SIM_PID" ] && kill -TERM "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    [ -n "$JACK_PID" ] && kill -TERM "$JACK_PID" 2>/dev/null && wait "$JACK_PID" 2>/dev/null
    rm -rf "$WORK"
}

# jack_start: a JACK server of this shell's own, with short periods so that an
# exchange takes well under a millisecond. -S (synchronous) matters: without it
# messages get lost when both cores are busy. So does -t: by default a client gets
# two periods (0.7 ms here) to finish a cycle or to close, and a client that misses
# that under load leaves the server dropping messages or stuck for good. 200 ms is
# ample, and still lets the server drop a killed client within about 4 s.
jack_start() {
    trap jack_cleanup EXIT
    export JACK_DEFAULT_SERVER="tpmidi-$$"
    export JACK_NO_AUDIO_RESERVATION=1
    jackd -S -t 200 -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 16 >"$WORK/jackd.log" 2>&1 &
    JACK_PID=$!
    if ! jack_wait -w -t 20 >/dev/null 2>&1; then
        echo "the JACK server did not start:"; cat "$WORK/jackd.log"
        exit 1
    fi
}

# jack_restart: a fresh server. A client killed without closing (Ctrl-C, SIGKILL)
# can leave a synchronous server in a state where it drops later messages.
jack_restart() {
    sim_stop
    kill -TERM "$JACK_PID" 2>/dev/null
    wait "$JACK_PID" 2>/dev/null
    JACK_PID=""
    jack_start
}


# sim_start ARGS...: starts the simulator (output in $WORK/sim.out and sim.err) and
# waits until it says its ports are open. Not by polling jack_lsp: every such poll
# is one more client opening and closing, and on a slow machine a synchronous server
# can miss one closing in time and then drop the next client's messages.
sim_start() {
    sim_stop
    local i
    "$SIM" "$@" >"$WORK/sim.out" 2>"$WORK/sim.err" &
    SIM_PID=$!
    for i in $(seq 1 200); do
        grep -q " ready on " "$WORK/sim.out" 2>/dev/null && return 0
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    echo "the simulator did not come up:"; cat "$WORK/sim.err"
    exit 1
}

# sim_stop: ends the simulator, which closes its ports, then writes its files and
# summary.
sim_stop() {
    [ -n "$SIM_PID" ] || return 0
    kill -TERM "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=""
    if type -t after_sim_stop >/dev/null; then after_sim_stop; fi
}
