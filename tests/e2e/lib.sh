# Shared by the end-to-end scripts (arguments: TPMIDI SIM): the real tpmidi01 against
# the simulator program over a real MIDI system, and a tally of checks. The MIDI
# system is the harness's choice, E2E_TRANSPORT: jack (a private JACK server, the
# default) or alsa (the ALSA sequencer; inside scripts/vm-run's guest).
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/jack-sim.sh"
TPMIDI=$1 SIM=$2 E2E_PASSED=0 E2E_FAILED=0
E2E_TRANSPORT=${E2E_TRANSPORT:-jack}
OPENED=$'\ntrackpod-sim out:from-handheld opened for input\n\ntrackpod-sim in:to-handheld opened for output\n'

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
    timeout 300 "$TPMIDI" "$@" >"$WORK/out" 2>"$WORK/err"
    TP_STATUS=$?
    ports_unnumbered "$WORK/out"
    no_sanitizer_report "tpmidi01 $*" "$WORK/err"
}

e2e_finish() {
    echo "$E2E_PASSED passed, $E2E_FAILED failed (over $E2E_TRANSPORT)"
    [ "$E2E_FAILED" -eq 0 ] && [ "$E2E_PASSED" -gt 0 ]
}

# ALSA names a port "client:port" followed by its client and port numbers, which
# depend on what else runs; the checks compare the names without them.
ports_unnumbered() {
    [ "$E2E_TRANSPORT" == alsa ] && sed -i -E 's/ [0-9]+:[0-9]+( opened for (in|out)put)$/\1/' "$1"
    return 0
}
transport_start() {
    case $E2E_TRANSPORT in
        jack) jack_start ;;
        alsa)
            trap jack_cleanup EXIT
            [ -e /dev/snd/seq ] || { echo "E2E_TRANSPORT=alsa, but there is no /dev/snd/seq"; exit 1; } ;;
        *) echo "unknown E2E_TRANSPORT $E2E_TRANSPORT"; exit 1 ;;
    esac
}
# A fresh MIDI system after a client was killed without closing (see jack_restart).
transport_restart() {
    if [ "$E2E_TRANSPORT" == jack ]; then jack_restart; else sim_stop; fi
}
transport_start
