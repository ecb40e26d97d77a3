# Shared by the end-to-end scripts: a private JACK server, the simulator program,
# the real tpmidi01, and a tally of checks. Source it; call e2e_start first.
set -u

E2E_PASSED=0
E2E_FAILED=0
E2E_SIM_PID=""
E2E_JACK_PID=""

e2e_fail() {
    E2E_FAILED=$((E2E_FAILED + 1))
    echo "FAIL: $*"
    echo "--- tpmidi01 status ${TP_STATUS:-?}, standard error:"; cat "$E2E_DIR/err" 2>/dev/null
    echo "--- simulator:"; cat "$E2E_DIR/sim.out" "$E2E_DIR/sim.err" 2>/dev/null
    echo "--- JACK server, last lines:"; tail -n 20 "$E2E_DIR/jackd.log"
}
e2e_pass() { E2E_PASSED=$((E2E_PASSED + 1)); echo "ok: $*"; }

# check NAME COMMAND...: one check, passed when the command succeeds.
check() {
    local name=$1
    shift
    if "$@"; then e2e_pass "$name"; else e2e_fail "$name"; fi
}

same_text() {  # same_text EXPECTED ACTUAL_FILE
    if [ "${1}x" == "$(cat "$2"; echo x)" ]; then return 0; fi
    echo "--- expected"; printf '%s' "$1" | od -c | head -40
    echo "--- actual"; od -c "$2" | head -40
    return 1
}

starts_with() {  # starts_with EXPECTED FILE
    [ "${1}x" == "$(head -c ${#1} "$2"; echo x)" ]
}

e2e_cleanup() {
    [ -n "$E2E_SIM_PID" ] && kill -TERM "$E2E_SIM_PID" 2>/dev/null && wait "$E2E_SIM_PID" 2>/dev/null
    [ -n "$E2E_JACK_PID" ] && kill -TERM "$E2E_JACK_PID" 2>/dev/null && wait "$E2E_JACK_PID" 2>/dev/null
    [ -n "${E2E_DIR:-}" ] && rm -rf "$E2E_DIR"
}

# e2e_start TPMIDI SIM: starts a private JACK server and waits until it answers.
e2e_start() {
    TPMIDI=$1
    SIM=$2
    E2E_DIR=$(mktemp -d)
    trap e2e_cleanup EXIT
    export JACK_DEFAULT_SERVER="tpmidi-e2e-$$"
    export JACK_NO_AUDIO_RESERVATION=1
    # -S: synchronous mode; without it messages get lost when two cores are busy.
    jackd -S -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 16 >"$E2E_DIR/jackd.log" 2>&1 &
    E2E_JACK_PID=$!
    if ! jack_wait -w -t 20 >/dev/null 2>&1; then
        echo "the JACK server did not start:"; cat "$E2E_DIR/jackd.log"
        exit 1
    fi
}

# sim_start ARGS...: starts the simulator and waits until its ports are listed.
sim_start() {
    sim_stop
    E2E_SIM_NAME=trackpod-sim
    local i args=("$@")
    for i in "${!args[@]}"; do
        [ "${args[$i]}" == "--name" ] && E2E_SIM_NAME=${args[$((i + 1))]}
    done
    "$SIM" "$@" >"$E2E_DIR/sim.out" 2>"$E2E_DIR/sim.err" &
    E2E_SIM_PID=$!
    for i in $(seq 1 200); do
        if jack_lsp 2>/dev/null | grep -q "^$E2E_SIM_NAME out:" &&
           jack_lsp 2>/dev/null | grep -q "^$E2E_SIM_NAME in:"; then
            return 0
        fi
        if ! kill -0 "$E2E_SIM_PID" 2>/dev/null; then break; fi
        sleep 0.05
    done
    echo "the simulator did not come up:"; cat "$E2E_DIR/sim.err"
    exit 1
}

# sim_stop: ends the simulator, which then writes its files and summary.
sim_stop() {
    if [ -n "$E2E_SIM_PID" ]; then
        kill -TERM "$E2E_SIM_PID" 2>/dev/null
        wait "$E2E_SIM_PID" 2>/dev/null
        E2E_SIM_PID=""
        no_sanitizer_report "trackpod-sim" "$E2E_DIR/sim.err"
        # Wait until JACK has dropped its ports, so the next run cannot see them.
        local i
        for i in $(seq 1 100); do
            jack_lsp 2>/dev/null | grep -q "^$E2E_SIM_NAME" || return 0
            sleep 0.05
        done
    fi
}

# tp ARGS... <input: runs tpmidi01; output in $E2E_DIR/out, status in $TP_STATUS.
tp() {
    timeout 120 "$TPMIDI" "$@" >"$E2E_DIR/out" 2>"$E2E_DIR/err"
    TP_STATUS=$?
    no_sanitizer_report "tpmidi01 $*" "$E2E_DIR/err"
}

# A sanitizer report in a program's standard error fails the run that printed it.
no_sanitizer_report() {
    if grep -qE 'Sanitizer|runtime error:' "$2" 2>/dev/null; then
        e2e_fail "$1: sanitizer report"
        cat "$2"
    fi
}

e2e_finish() {
    echo "$E2E_PASSED passed, $E2E_FAILED failed"
    [ "$E2E_FAILED" -eq 0 ] && [ "$E2E_PASSED" -gt 0 ]
}
