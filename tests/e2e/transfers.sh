#!/usr/bin/env bash
# End to end over JACK: sending each kind of file and receiving a bank, comparing
# the bytes that arrived with the bytes that left.
. "$(dirname "$0")/lib.sh"
e2e_start "$1" "$2"

OPENED=$'\ntrackpod-sim out:from-handheld opened for input\n\ntrackpod-sim in:to-handheld opened for output\n'

# make_file NAME FIRST_BYTE_HEX SIZE: a file with the given first byte, then noise.
make_file() {
    { printf "\\x$2"; head -c $(($3 - 1)) /dev/urandom; } >"$E2E_DIR/$1"
}

for row in "rom.gb|C9|700|Loaded Game Boy ROM: " \
           "bank.tp2|24|5000|Loaded trackpod 2.5 bank: " \
           "bank.tp1|AB|1500|Loaded trackpod 1.6 bank: " \
           "notes.txt|41|300|Loaded file: "; do
    IFS='|' read -r name first size text <<<"$row"
    make_file "$name" "$first" "$size"
    sim_start --save "$E2E_DIR/uploaded" --log "$E2E_DIR/wire.log"
    tp -send "$E2E_DIR/$name" <<<""
    sim_stop
    cp "$E2E_DIR/out" "$E2E_DIR/out.$name"
    check "send $name: status 0" test "$TP_STATUS" -eq 0
    check "send $name: every byte arrived in order" cmp -s "$E2E_DIR/$name" "$E2E_DIR/uploaded"
    check "send $name: names the file" grep -qF "$text$E2E_DIR/$name" "$E2E_DIR/out"
    check "send $name: announced first" \
        test "$(head -n 1 "$E2E_DIR/wire.log")" == "F0 7E 54 07 01 00 54 50 44 62 1A 00 F7"
done

k=$((5000 / 1024))
check "2.5 bank console" same_text "$OPENED"$'\nLoaded trackpod 2.5 bank: '"$E2E_DIR/bank.tp2"$'\n\nIn trackpod, select the bank to overwrite,\nmove the cursor to the very right and\npress A+B+DOWN so that a status bar appears on the bottom.\nThen press enter here.\n0k of 4k sent\r1k of 4k sent\r2k of 4k sent\r3k of 4k sent\r4k of 4k sent\r'"$k"$'k of 4k sent\ndone\n\n' "$E2E_DIR/out.bank.tp2"

# As CI runs it: no standard input at all.
make_file small.bin 01 200
sim_start --save "$E2E_DIR/uploaded"
tp -send "$E2E_DIR/small.bin" <&-
sim_stop
check "send with standard input closed" cmp -s "$E2E_DIR/small.bin" "$E2E_DIR/uploaded"

sim_start --log "$E2E_DIR/wire.log"
tp -send "$E2E_DIR/does-not-exist" </dev/null
sim_stop
check "missing file: file not found" same_text "$OPENED"$'file not found\n\n' "$E2E_DIR/out"
check "missing file: nothing on the wire" test ! -s "$E2E_DIR/wire.log"

# Receive a bank of a few KiB: the handheld streams it, then falls silent.
make_file sent.tp2 24 3000
sim_start --bank "$E2E_DIR/sent.tp2"
tp -receive "$E2E_DIR/received.tp2" </dev/null
sim_stop
check "receive: status 0" test "$TP_STATUS" -eq 0
check "receive: file equals the bank" cmp -s "$E2E_DIR/sent.tp2" "$E2E_DIR/received.tp2"
check "receive: console" same_text "$OPENED"$'Ready to receive data.\n\n1k saved \r2k saved \r2k saved... done.\n\n' "$E2E_DIR/out"

e2e_finish
