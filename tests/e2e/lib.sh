# Shared by the end-to-end scripts (arguments: TPMIDI SIM): the real tpmidi01 against
# the simulator program over a real MIDI system, and a tally of checks. The MIDI
# system is the harness's choice (scripts/transport.sh).
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/jack-sim.sh"
TPMIDI=$1 SIM=$2 E2E_PASSED=0 E2E_FAILED=0
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/transport.sh"
check() {  # check NAME COMMAND...: one check, passed when the command succeeds.
    local name=$1; shift
    if "$@"; then
        E2E_PASSED=$((E2E_PASSED + 1)); echo "ok: $name"
    else
        E2E_FAILED=$((E2E_FAILED + 1)); echo "FAIL: $name"
        echo "--- tpmidi01 (status ${TP_STATUS:-?}), the simulator, the JACK server:"
        cat "$WORK/out" "$WORK/err" "$WORK/sim.out" "$WORK/sim.err" 2>/dev/null; tail -n 20 "$WORK/jackd.log" 2>/dev/null
    fi
}
same_text() { [ "${1}x" == "$(cat "$2"; echo x)" ]; }  # same_text EXPECTED FILE
sent_whole() { [ "$TP_STATUS" -eq 0 ] && cmp -s "$1" "$2"; }  # sent_whole SENT ARRIVED
# make_file NAME FIRST_BYTE_HEX SIZE: a file with the given first byte, then noise.
make_file() { { printf "\\x$2"; head -c $(($3 - 1)) /dev/urandom; } >"$WORK/$1"; }

# A sanitizer report in a program's standard error fails the run that printed it.
no_sanitizer_report() { ! grep -qE 'Sanitizer|runtime error:' "$2" 2>/dev/null || check "$1: sanitizer report" false; }
after_sim_stop() { no_sanitizer_report "trackpod-sim" "$WORK/sim.err"; }

tp() {  # tp ARGS... <input: runs tpmidi01; output in $WORK/out, status in $TP_STATUS.
    run_tpmidi "$@"
    no_sanitizer_report "tpmidi01 $*" "$WORK/err"
}

# tp_at_prompt ARGS...: runs tpmidi01 against a simulator started with --name
# other-sim, as for an interface whose name does not begin with "trackpod": the
# port numbers typed at the prompts ($ANSWERS) are read off the lists it shows.
tp_at_prompt() {
    port_number() { sed -n "s/^  $1 port #\([0-9]*\): other-sim .*/\1/p" "$WORK/out"; }
    tp "$@" </dev/null
    ANSWERS=$(port_number Input)
    tp "$@" <<<"$ANSWERS"
    if [ -n "$(port_number Output)" ]; then
        ANSWERS+=$'\n'$(port_number Output)
        tp "$@" <<<"$ANSWERS"
    fi
}

e2e_finish() {
    [ -n "$WINE" ] && echo "tpmidi01.exe: $WINE_CRASHES of $WINE_RUNS runs under Wine ended in Wine's SIGSEGV at exit"
    echo "$E2E_PASSED passed, $E2E_FAILED failed (over $E2E_TRANSPORT${WINE:+, tpmidi01.exe under Wine})"
    [ "$E2E_FAILED" -eq 0 ] && [ "$E2E_PASSED" -gt 0 ]
}

transport_start
