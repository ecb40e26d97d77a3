# Shared by the end-to-end scripts (arguments: TPMIDI SIM): the real tpmidi01 against
# the simulator program over a real MIDI system, and a tally of checks. The MIDI
# system is the harness's choice, E2E_TRANSPORT: jack (a private JACK server, the
# default) or alsa (the ALSA sequencer; inside scripts/vm-run's guest).
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/jack-sim.sh"
TPMIDI=$1 SIM=$2 E2E_PASSED=0 E2E_FAILED=0
E2E_TRANSPORT=${E2E_TRANSPORT:-jack}
REPEAT_RUNS=25
OPENED=$'\ntrackpod-sim out:trackpod-sim from-handheld opened for input\n\ntrackpod-sim in:trackpod-sim to-handheld opened for output\n'
TPMIDI_RUN=("$TPMIDI")
WINE="" WINE_CRASHES=0 WINE_RUNS=0
if [[ $TPMIDI == *.exe ]]; then
    # The Windows build under Wine, whose WinMM driver maps the ALSA sequencer's ports
    # to MIDI devices. Run from the guest's tmpfs: Wine cannot map an image from 9p.
    WINE=/usr/lib/wine/wine64
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
    export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$TPMIDI")" && pwd)/wine}
    cp "$TPMIDI" "$WORK/tpmidi01.exe"
    TPMIDI_RUN=("$WINE" "$WORK/tpmidi01.exe")
    /usr/lib/wine/wineserver -p  # one server for every run: each start costs seconds here
    OPENED=$'\ntrackpod-sim from-handheld opened for input\n\ntrackpod-sim to-handheld opened for output\n'
fi
# Wine's WinMM driver ends every process that used it with SIGSEGV after its last
# line (tests/e2e/wine.sh shows it with a program that only counts the devices). A
# run that printed its last line and then died so counts as status 0, and is tallied.
wine_exit_crash() {
    WINE_RUNS=$((WINE_RUNS + 1))
    if [ "$TP_STATUS" -eq 139 ] && [ "$(tail -c 1 "$WORK/out" | od -An -c | tr -d ' ')" == '\n' ]; then
        WINE_CRASHES=$((WINE_CRASHES + 1))
        TP_STATUS=0
    fi
}

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
    # In a shell of its own, which reports a death by signal (Wine's) to /dev/null.
    (timeout 300 "${TPMIDI_RUN[@]}" "$@" >"$WORK/out" 2>"$WORK/err"; exit $?) 2>/dev/null
    TP_STATUS=$?
    if [ -n "$WINE" ]; then
        # msvcrt's console writes "\n" as "\r\n".
        sed -i 's/\r$//' "$WORK/out"
        wine_exit_crash
    fi
    ports_unnumbered "$WORK/out"
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

# ALSA names a port "client:port" followed by its client and port numbers, which
# depend on what else runs, and RtMidi's WinMM backend adds the device's number; the
# checks compare the names of the ports opened without them.
ports_unnumbered() {
    [ "$E2E_TRANSPORT" == alsa ] && sed -i -E 's/ [0-9]+(:[0-9]+)?( opened for (in|out)put)$/\2/' "$1"
    return 0
}
# The input ports of the VM's sequencer when no simulator runs, as the program lists them.
# Under Wine a line end follows the prompt when input ends there.
if [ -n "$WINE" ]; then
    LISTED_INPUTS=$'  Input port #0: Midi Through Port-0 0\n  Input port #1: VirMIDI 0-0 1\n'
    PROMPT_AT_END=$'Please choose a port number: \n'
else
    LISTED_INPUTS=$'  Input port #0: Midi Through:Midi Through Port-0 14:0\n  Input port #1: Virtual Raw MIDI 0-0:VirMIDI 0-0 16:0\n'
    PROMPT_AT_END='Please choose a port number: '
fi
transport_start() {
    case $E2E_TRANSPORT in
        jack) jack_start ;;
        alsa)
            REPEAT_RUNS=3  # the crash that 25 runs look for is JACK's
            trap 'jack_cleanup; [ -z "$WINE" ] || /usr/lib/wine/wineserver -k 2>/dev/null' EXIT
            [ -e /dev/snd/seq ] || { echo "E2E_TRANSPORT=alsa, but there is no /dev/snd/seq"; exit 1; } ;;
        *) echo "unknown E2E_TRANSPORT $E2E_TRANSPORT"; exit 1 ;;
    esac
}
# A fresh MIDI system after a client was killed without closing (see jack_restart).
transport_restart() {
    if [ "$E2E_TRANSPORT" == jack ]; then jack_restart; else sim_stop; fi
}
transport_start
