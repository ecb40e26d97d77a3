#!/usr/bin/env bash
# End to end over JACK: a full 256 KiB multiboot of a generated image to the
# simulated Game Boy Advance, which decrypts it and checks the checksum.
. "$(dirname "$0")/lib.sh"
e2e_start "$1" "$2"

{ printf '\x2E'; head -c 262143 /dev/urandom; } >"$WORK/game.gba"
sim_start --gba-client 0xF7 --gba-length 0x5C --gba-wait 3 --gba-save "$WORK/image"
tp -send "$WORK/game.gba" </dev/null
sim_stop
check "multiboot: status 0" test "$TP_STATUS" -eq 0
check "multiboot: the console accepted the image" \
    grep -q "multiboot image accepted: decrypted, checksum right" "$WORK/sim.out"
check "multiboot: the decrypted image is the file" cmp -s "$WORK/game.gba" "$WORK/image"
check "multiboot: progress reached the end" grep -qF "256k of 256k sent" "$WORK/out"
check "multiboot: instructions follow" grep -qF "Keep B pressed and press START + SELECT to install the update." "$WORK/out"

# A short file is padded with zeros to 256 KiB.
printf '\x2E\x01\x02' >"$WORK/short.gba"
sim_start --gba-save "$WORK/image" --gba-end never
tp -send "$WORK/short.gba" </dev/null
sim_stop
head -c 262144 /dev/zero | { printf '\x2E\x01\x02'; tail -c +4; } >"$WORK/short.padded"
check "short image padded with zeros" cmp -s "$WORK/short.padded" "$WORK/image"
check "end never confirmed: error, not success" \
    cmp -s <(tail -c 12 "$WORK/out") <(printf 'sent\nerror\n\n')
e2e_finish
