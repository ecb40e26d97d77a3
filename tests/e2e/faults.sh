#!/usr/bin/env bash
# End to end over JACK: interruptions, a dead handheld, a full disk, a misbehaving
# link, and bad command lines and files.
. "$(dirname "$0")/lib.sh"
e2e_start "$1" "$2"

OPENED=$'\ntrackpod-sim out:from-handheld opened for input\n\ntrackpod-sim in:to-handheld opened for output\n'
make_file() { { printf "\\x$2"; head -c $(($3 - 1)) /dev/urandom; } >"$WORK/$1"; }
# wait_until SECONDS COMMAND...: polls until the command succeeds.
wait_until() {
    local limit=$(($1 * 20)) i
    shift
    for ((i = 0; i < limit; i++)); do "$@" && return 0; sleep 0.05; done
    return 1
}
# interrupt PID: Ctrl-C to a program; its exit status in $STATUS, the wait in $WAITED_MS.
# A program still running 10 seconds later is killed (status 137) so the test ends.
interrupt() {
    local start=$(date +%s%N)
    kill -INT "$1"
    wait_until 10 sh -c "! kill -0 $1 2>/dev/null" || kill -KILL "$1"
    wait "$1"
    STATUS=$?
    WAITED_MS=$((($(date +%s%N) - start) / 1000000))
}
file_size_at_least() { [ "$(stat -c %s "$2" 2>/dev/null || echo 0)" -ge "$1" ]; }

# Ctrl-C in the middle of a receive: the file holds exactly the bytes received.
make_file long.tp2 24 20000
sim_start --bank "$WORK/long.tp2"
# A script's background jobs start with SIGINT ignored; give it its default back.
env --default-signal=INT "$TPMIDI" -receive "$WORK/part.tp2" </dev/null >"$WORK/out" 2>"$WORK/err" &
pid=$!
wait_until 30 file_size_at_least 3000 "$WORK/part.tp2"
interrupt "$pid"
sim_stop
size=$(stat -c %s "$WORK/part.tp2")
check "Ctrl-C during a receive ends the program" test "$STATUS" -eq 130
check "Ctrl-C during a receive: $size bytes, all of them right" \
    cmp -s -n "$size" "$WORK/part.tp2" "$WORK/long.tp2"
check "Ctrl-C during a receive: the bytes before the signal are there" test "$size" -ge 3000 -a "$size" -lt 20000
jack_restart

# A receive into a full disk: "error", never "done".
make_file small.tp2 24 300
sim_start --bank "$WORK/small.tp2"
tp -receive /dev/full </dev/null
sim_stop
check "receive into /dev/full: error" same_text "$OPENED"$'Ready to receive data.\n\n\nerror\n\n' "$WORK/out"
check "receive into /dev/full: status 0" test "$TP_STATUS" -eq 0

# The handheld dies in the middle of an upload: tpmidi01 keeps waiting, ends at once
# on Ctrl-C, and the file it was sending is untouched.
make_file upload.tp2 24 5000
sum_before=$(md5sum <"$WORK/upload.tp2")
sim_start --log "$WORK/wire.log"
env --default-signal=INT "$TPMIDI" -send "$WORK/upload.tp2" <<<"" >"$WORK/out" 2>"$WORK/err" &
pid=$!
lines_at_least() { [ "$(wc -l <"$2")" -ge "$1" ]; }
wait_until 30 lines_at_least 500 "$WORK/wire.log"
kill -KILL "$SIM_PID"
wait "$SIM_PID" 2>/dev/null
SIM_PID=""
sleep 2
check "handheld gone: tpmidi01 keeps waiting" kill -0 "$pid"
interrupt "$pid"
check "handheld gone: Ctrl-C ends the program at once (${WAITED_MS} ms)" test "$STATUS" -eq 130 -a "$WAITED_MS" -lt 2000
check "handheld gone: the file is untouched" test "$(md5sum <"$WORK/upload.tp2")" == "$sum_before"
sim_gone() { ! sim_ports_listed; }
check "handheld gone: the server drops the killed simulator" wait_until 10 sim_gone
jack_restart

# A misbehaving link: wrong numbers, stale and duplicate answers, short answers,
# channel messages and unrelated SysEx mixed into the answers; 128-packet wraps.
make_file faulty.tp2 24 3000
sim_start --faults 5 --save "$WORK/uploaded"
tp -send "$WORK/faulty.tp2" <<<""
sim_stop
check "faulty link, 2.5 bank: every byte right" cmp -s "$WORK/faulty.tp2" "$WORK/uploaded"
check "faulty link, 2.5 bank: done" grep -qx "done" "$WORK/out"
make_file faulty.tp1 AB 1000
sim_start --faults 3 --save "$WORK/uploaded"
tp -send "$WORK/faulty.tp1" <<<""
sim_stop
check "faulty link, 1.6 bank: every byte right" cmp -s "$WORK/faulty.tp1" "$WORK/uploaded"

# Stray messages in a bank the handheld sends: a channel message is dropped, an
# unrelated SysEx message of nine bytes or more is saved as a byte, as the handheld
# protocol has it.
make_file stray.tp2 24 400
sim_start --bank "$WORK/stray.tp2" --bank-stray 100:channel --bank-stray 200:sysex --stray channel
tp -receive "$WORK/stray.received" </dev/null
sim_stop
# The channel message ahead of the answer is taken as the answer ("error"); the real
# answer then counts as data (0x00), then the bank with the SysEx stray's byte 0x03.
{ printf '\x00'; head -c 200 "$WORK/stray.tp2"; printf '\x03'; tail -c +201 "$WORK/stray.tp2"; } >"$WORK/stray.expected"
check "strays in a receive" cmp -s "$WORK/stray.expected" "$WORK/stray.received"
check "stray before the answer: error, receive goes on" grep -qx "error" "$WORK/out"

# Bad command lines and files.
sim_start --log "$WORK/wire.log"
for option in -Send -midireceive -MIDIRECEIVE --sync sync; do
    : >"$WORK/wire.log"
    tp "$option" x </dev/null
    check "unknown option $option: only a line end" same_text "$OPENED"$'\n' "$WORK/out"
    check "unknown option $option: nothing on the wire" test ! -s "$WORK/wire.log"
done
mkdir -p "$WORK/folder"
for name in "" "$WORK/folder" /proc/self/mem "$WORK/missing"; do
    : >"$WORK/wire.log"
    tp -send ${name:+"$name"} </dev/null
    check "send ${name:-without a name}: file not found" same_text "$OPENED"$'file not found\n\n' "$WORK/out"
    check "send ${name:-without a name}: nothing on the wire" test ! -s "$WORK/wire.log"
done
if [ "$(id -u)" -ne 0 ]; then
    make_file locked.bin 01 10
    chmod 000 "$WORK/locked.bin"
    tp -send "$WORK/locked.bin" </dev/null
    check "send of an unreadable file: file not found" same_text "$OPENED"$'file not found\n\n' "$WORK/out"
fi
tp -receive </dev/null
check "receive without a name" same_text "$OPENED"$'Please enter a file name.\nIt is recommended to use suffixes \'.tp1\' and \'.tp2\' for trackpod 1.6 and trackpod 2.5 files.\n' "$WORK/out"
: >"$WORK/empty.bin"
tp -send "$WORK/empty.bin" <&-
check "empty file" same_text "$OPENED"$'\nLoaded file: '"$WORK/empty.bin"$'\nPress enter to send.\n0k of 0k sent... done.\n' "$WORK/out"
sim_stop

# Standard input closed at the port prompt: the run gives up, status 0, nothing sent.
sim_start --name other-sim --log "$WORK/wire.log"
tp -sync <&-
sim_stop
check "port prompt with standard input closed: asked" grep -q "Please choose a port number: " "$WORK/out"
check "port prompt with standard input closed: status 0" test "$TP_STATUS" -eq 0
check "port prompt with standard input closed: nothing on the wire" test ! -s "$WORK/wire.log"

e2e_finish
