# The MIDI system the end-to-end scripts and the transport benchmark run over, and
# how the program is run there. Source it after jack-sim.sh, with TPMIDI set.
#   E2E_TRANSPORT=jack   a private JACK server (the default)
#   E2E_TRANSPORT=alsa   the ALSA sequencer, inside scripts/vm-run's guest
# A TPMIDI that ends in .exe is the Windows build, run under Wine over WinMM, whose
# driver maps the ALSA sequencer's ports to MIDI devices.
E2E_TRANSPORT=${E2E_TRANSPORT:-jack}
REPEAT_RUNS=25
OPENED=$'\ntrackpod-sim out:trackpod-sim from-handheld opened for input\n\ntrackpod-sim in:trackpod-sim to-handheld opened for output\n'
WINE="" WINE_CRASHES=0 WINE_RUNS=0

# wine_setup EXE...: Wine's settings, one server for every run (each start costs
# seconds in the VM), and the programs copied into $WORK on the guest's tmpfs: Wine
# cannot map an image from 9p.
wine_setup() {
    WINE=/usr/lib/wine/wine64
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
    export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$1")" && pwd)/wine}
    cp "$@" "$WORK/"
    [ -n "${WINE_SERVER:-}" ] || /usr/lib/wine/wineserver -p
    WINE_SERVER=1
}
TPMIDI_RUN=("$TPMIDI")
if [[ $TPMIDI == *.exe ]]; then
    wine_setup "$TPMIDI"
    TPMIDI_RUN=("$WINE" "$WORK/$(basename "$TPMIDI")")
    OPENED=$'\ntrackpod-sim from-handheld opened for input\n\ntrackpod-sim to-handheld opened for output\n'
fi

# run_tpmidi ARGS... <input: the program, output in $WORK/out and err, status in
# $TP_STATUS; the port names opened are given without the numbers that ALSA (client
# and port) and RtMidi's WinMM backend (the device) add, which depend on what else
# runs.
run_tpmidi() {
    # In a shell of its own, which reports a death by signal (Wine's) to /dev/null.
    (timeout 300 "${TPMIDI_RUN[@]}" "$@" >"$WORK/out" 2>"$WORK/err"; exit $?) 2>/dev/null
    TP_STATUS=$?
    if [ -n "$WINE" ]; then
        sed -i 's/\r$//' "$WORK/out"  # msvcrt's console writes "\n" as "\r\n"
        wine_exit_crash
    fi
    [ "$E2E_TRANSPORT" == jack ] || sed -i -E 's/ [0-9]+(:[0-9]+)?( opened for (in|out)put)$/\2/' "$WORK/out"
}
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

# The input ports of the VM's sequencer when no simulator runs, as the program lists
# them.
if [ -n "$WINE" ]; then
    LISTED_INPUTS=$'  Input port #0: Midi Through Port-0 0\n  Input port #1: VirMIDI 0-0 1\n'
else
    LISTED_INPUTS=$'  Input port #0: Midi Through:Midi Through Port-0 14:0\n  Input port #1: Virtual Raw MIDI 0-0:VirMIDI 0-0 16:0\n'
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
