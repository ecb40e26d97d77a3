#!/usr/bin/env bash
# End to end through a MIDI card, as with real hardware (ALSA, in scripts/vm-run's
# guest): the simulator serves the raw byte stream of an snd-virmidi card; tpmidi01
# reaches it through the card's sequencer port, chosen at the prompt by number.
# (ALSA lists the program's own input among the outputs.)
. "$(dirname "$0")/lib.sh"
[ "$E2E_TRANSPORT" == alsa ] || { echo "card.sh runs over ALSA only"; exit 1; }
device=/dev/snd/midiC0D0
CARD="Virtual Raw MIDI 0-0:VirMIDI 0-0"
LISTED="$LISTED_INPUTS
Please choose a port number: $CARD opened for input

  Output port #0: Midi Through:Midi Through Port-0 14:0
  Output port #1: $CARD 16:0
  Output port #2: RtMidi Input Client:RtMidi 129:0

Please choose a port number: $CARD opened for output
"
per_exchange() { sed -n 's/.* s, \([0-9.]*\) us each$/\1/p' "$WORK/sim.out"; }

# An upload at the cable's pace: every byte of both directions takes 320 us.
make_file bank.tp2 24 1200
sim_start --raw-midi "$device" --cable-pace --save "$WORK/uploaded"
tp -send "$WORK/bank.tp2" <<<$'1\n1'
sim_stop
check "upload through the card at cable pace: console" same_text $'\n'"$LISTED"$'\nLoaded trackpod 2.5 bank: '"$WORK/bank.tp2"$'\n\nIn trackpod, select the bank to overwrite,\nmove the cursor to the very right and\npress A+B+DOWN so that a status bar appears on the bottom.\nThen press enter here.\n0k of 1k sent\r1k of 1k sent\r1k of 1k sent\ndone\n\n' "$WORK/out"
check "upload through the card at cable pace: every byte arrived in order" sent_whole "$WORK/bank.tp2" "$WORK/uploaded"
echo "through the card at cable pace: $(per_exchange) us per exchange; the cable's floor is 7040 us (22 bytes)"

# A receive through the card, unpaced.
make_file sent.tp2 24 1500
sim_start --raw-midi "$device" --bank "$WORK/sent.tp2"
tp -receive "$WORK/received.tp2" <<<$'1\n1'
sim_stop
check "receive through the card: console" same_text $'\n'"$LISTED"$'Ready to receive data.\n\n1k saved \r1k saved... done.\n\n' "$WORK/out"
check "receive through the card: the file equals the bank" sent_whole "$WORK/sent.tp2" "$WORK/received.tp2"
e2e_finish
