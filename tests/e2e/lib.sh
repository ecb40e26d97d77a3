# Shared by the end-to-end scripts: the real tpmidi01 against the simulator program
# on a private JACK server, and a tally of checks. Source it; call e2e_start first.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/jack-sim.sh"

E2E_PASSED=0
E2E_FAILED=0

e2e_fail() {
    E2E_FAILED=$((E2E_FAILED + 1))
    echo "FAIL: $*"
    echo "--- tpmidi01 status ${TP_STATUS:-?}, standard error:"; cat "$WORK/err" 2>/dev/null
    echo "--- simulator:"; cat "$WORK/sim.out" "$WORK/sim.err" 2>/dev/null
    echo "--- JACK server, last lines:"; tail -n 20 "$WORK/jackd.log"
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

# A sanitizer report in a program's standard error fails the run that printed it.
no_sanitizer_report() {
    if grep -qE 'Sanitizer|runtime error:' "$2" 2>/dev/null; then
        e2e_fail "$1: sanitizer report"
        cat "$2"
    fi
}
after_sim_stop() { no_sanitizer_report "trackpod-sim" "$WORK/sim.err"; }

# e2e_start TPMIDI SIM
e2e_start() {
    TPMIDI=$1
    SIM=$2
    jack_start
}

# tp ARGS... <input: runs tpmidi01; output in $WORK/out, status in $TP_STATUS.
tp() {
    timeout 120 "$TPMIDI" "$@" >"$WORK/out" 2>"$WORK/err"
    TP_STATUS=$?
    no_sanitizer_report "tpmidi01 $*" "$WORK/err"
}

e2e_finish() {
    echo "$E2E_PASSED passed, $E2E_FAILED failed"
    [ "$E2E_FAILED" -eq 0 ] && [ "$E2E_PASSED" -gt 0 ]
}
