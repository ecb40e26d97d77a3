#!/usr/bin/env bash
# End to end over JACK: sending each kind of file and receiving a bank, comparing
# the bytes that arrived with the bytes that left.
. "$(dirname "$0")/lib.sh"
e2e_start "$1" "$2"

OPENED=$'\ntrackpod-sim out:from-handheld opened for input\n\ntrackpod-sim in:to-handheld opened for output\n'

# make_file NAME FIRST_BYTE_HEX SIZE: a file with the given first byte, then noise.
make_file() {
    { printf "\\x$2"; head -c $(($3 - 1)) /dev/urandom; } >"$WORK/$1"
}

for row in "rom.gb|C9|700|Loaded Game Boy ROM: " \
           "bank.tp2|24|5000|Loaded trackpod 2.5 bank: " \
           "bank.tp1|AB|1500|Loaded trackpod 1.6 bank: " \
           "notes.txt|41|300|Loaded file: "; do
    IFS='|' read -r name first size text <<<"$row"
    make_file "$name" "$first" "$size"
    sim_start --save "$WORK/uploaded" --log "$WORK/wire.log"
    tp -send "$WORK/$name" <<<""
    sim_stop
    cp "$WORK/out" "$WORK/out.$name"
    check "send $name: status 0" test "$TP_STATUS" -eq 0
    check "send $name: every byte arrived in order" cmp -s "$WORK/$name" "$WORK/uploaded"
    check "send $name: names the file" grep -qF "$text$WORK/$name" "$WORK/out"
    check "send $name: announced first" \
        test "$(head -n 1 "$WORK/wire.log")" == "F0 7E 54 07 01 00 54 50 44 62 1A 00 F7"
done

k=$((5000 / 1024))
check "2.5 bank console" same_text "$OPENED"$'\nLoaded trackpod 2.5 bank: '"$WORK/bank.tp2"$'\n\nIn trackpod, select the bank to overwrite,\nmove the cursor to the very right and\npress A+B+DOWN so that a status bar appears on the bottom.\nThen press enter here.\n0k of 4k sent\r1k of 4k sent\r2k of 4k sent\r3k of 4k sent\r4k of 4k sent\r'"$k"$'k of 4k sent\ndone\n\n' "$WORK/out.bank.tp2"

# As CI runs it: no standard input at all.
make_file small.bin 01 200
sim_start --save "$WORK/uploaded"
tp -send "$WORK/small.bin" <&-
sim_stop
check "send with standard input closed" cmp -s "$WORK/small.bin" "$WORK/uploaded"

sim_start --log "$WORK/wire.log"
tp -send "$WORK/does-not-exist" </dev/null
sim_stop
check "missing file: file not found" same_text "$OPENED"$'file not found\n\n' "$WORK/out"
check "missing file: nothing on the wire" test ! -s "$WORK/wire.log"

# Receive a bank of a few KiB: the handheld streams it, then falls silent.
make_file sent.tp2 24 3000
sim_start --bank "$WORK/sent.tp2"
tp -receive "$WORK/received.tp2" </dev/null
sim_stop
check "receive: status 0" test "$TP_STATUS" -eq 0
check "receive: file equals the bank" cmp -s "$WORK/sent.tp2" "$WORK/received.tp2"
check "receive: console" same_text "$OPENED"$'Ready to receive data.\n\n1k saved \r2k saved \r2k saved... done.\n\n' "$WORK/out"

e2e_finish
