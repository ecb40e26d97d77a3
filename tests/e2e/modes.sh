#!/usr/bin/env bash
# End to end over JACK: the run flow and a mode switch on the real MIDI library.
. "$(dirname "$0")/lib.sh"

tp </dev/null
if [ "$E2E_TRANSPORT" == jack ]; then
    check "no ports: only the input message, status 0" same_text $'\nNo input ports available!\n' "$WORK/out"
else  # the guest's sequencer has "Midi Through" and a virtual card, as a desktop's has
    check "no trackpod port: the ports listed and asked for; at end of input a line end, status 0" same_text \
        $'\n'"$LISTED_INPUTS"$'\nPlease choose a port number: \n' "$WORK/out"
fi

sim_start --log "$WORK/wire.log"
tp -MIDI 30 </dev/null
check "-MIDI 30: console" same_text "$OPENED"$'\nMIDI mode activated permanently.\n\n' "$WORK/out"
check "-MIDI 30: on the wire" grep -qx "F0 7E 54 07 01 00 54 50 44 4D 1E 00 F7" "$WORK/wire.log"
lines=$(wc -l <"$WORK/wire.log")
tp -midi "  -7x" </dev/null
check "-midi 249: refused, nothing on the wire" sh -c "[ $TP_STATUS -eq 0 ] && [ \$(wc -l <'$WORK/wire.log') -eq $lines ]"
check "-midi 249: console" same_text "$OPENED"$'\nThe delay must be between 0 and 127; nothing was sent.\n\n' "$WORK/out"

# RtMidi's JACK output can crash at exit; many runs in a row would show it.
crashes=0
for i in $(seq 1 "$REPEAT_RUNS"); do
    tp -getmidi </dev/null
    [ "$TP_STATUS" -eq 0 ] && grep -q "MIDI receive mode activated." "$WORK/out" || crashes=$((crashes + 1))
done
check "$REPEAT_RUNS runs in a row end cleanly" test "$crashes" -eq 0
sim_stop
e2e_finish
