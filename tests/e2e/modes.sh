#!/usr/bin/env bash
# End to end over JACK: the real tpmidi01 against trackpod-sim, mode switches and
# the run flow.
. "$(dirname "$0")/lib.sh"
e2e_start "$1" "$2"

OPENED=$'\ntrackpod-sim out:from-handheld opened for input\n\ntrackpod-sim in:to-handheld opened for output\n'

tp </dev/null
check "no ports: only the input message" same_text $'\nNo input ports available!\n' "$WORK/out"
check "no ports: status 0" test "$TP_STATUS" -eq 0

sim_start --log "$WORK/wire.log"
for row in "-sync|Sync mode activated.|73 1A" \
           "-SYNC|Sync mode activated permanently.|53 1A" \
           "-midi|MIDI mode activated.|6D 1A" \
           "-MIDI 30|MIDI mode activated permanently.|4D 1E" \
           "-getmidi|MIDI receive mode activated.|6D 00" \
           "-GETMIDI|MIDI receive mode activated permanently.|4D 00"; do
    IFS='|' read -r args text bytes <<<"$row"
    : >"$WORK/wire.log"
    # shellcheck disable=SC2086
    tp $args </dev/null
    check "$args: console" same_text "$OPENED"$'\n'"$text"$'\n\n' "$WORK/out"
    check "$args: status 0" test "$TP_STATUS" -eq 0
    sub=01; case $args in -getmidi|-GETMIDI) sub=03 ;; esac
    check "$args: on the wire" grep -qx "F0 7E 54 07 $sub 00 54 50 44 $bytes 00 F7" "$WORK/wire.log"
done

tp </dev/null
check "usage with ports present" grep -q "^tpmidi01 -parameter filename$" "$WORK/out"
check "usage after the port lines" starts_with "$OPENED"$'\nuseage:' "$WORK/out"

sim_start --status 9
tp -sync </dev/null
check "failing status: error" same_text "$OPENED"$'\nerror\n\n' "$WORK/out"

# RtMidi's JACK output can crash at exit; many runs in a row would show it.
sim_start
crashes=0
for i in $(seq 1 25); do
    tp -getmidi </dev/null
    if [ "$TP_STATUS" -ne 0 ] || ! grep -q "MIDI receive mode activated." "$WORK/out"; then
        crashes=$((crashes + 1))
        echo "run $i: status $TP_STATUS"; cat "$WORK/err"
    fi
done
check "25 runs in a row end cleanly" test "$crashes" -eq 0
sim_stop

e2e_finish
