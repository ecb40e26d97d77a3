#!/usr/bin/env bash
# End to end over JACK: each kind of file sent, a GBA booted by multiboot and a bank
# received, the bytes that arrived compared with the bytes that left.
. "$(dirname "$0")/lib.sh"

for row in rom.gb:C9:700 bank.tp2:24:5000 bank.tp1:AB:1500 notes.txt:41:300; do
    IFS=: read -r name first size <<<"$row"
    make_file "$name" "$first" "$size"
    sim_start --save "$WORK/uploaded"
    # As CI runs it: no standard input at all, so the Enter wait ends at once.
    tp -send "$WORK/$name" <&-
    sim_stop
    check "send $name: every byte arrived in order" sent_whole "$WORK/$name" "$WORK/uploaded"
done

# A full 256 KiB multiboot: the simulated console decrypts the image and checks its checksum.
make_file game.gba 2E 262144
sim_start --gba-client 0xF7 --gba-length 0x5C --gba-wait 3 --gba-save "$WORK/image"
tp -send "$WORK/game.gba" </dev/null
sim_stop
check "multiboot: the console accepted the image" \
    grep -q "multiboot image accepted: decrypted, checksum right" "$WORK/sim.out"
check "multiboot: the decrypted image is the file" cmp -s "$WORK/game.gba" "$WORK/image"

make_file sent.tp2 24 3000
sim_start --bank "$WORK/sent.tp2"
tp -receive "$WORK/received.tp2" </dev/null
sim_stop
check "receive: the file equals the bank" sent_whole "$WORK/sent.tp2" "$WORK/received.tp2"
e2e_finish
