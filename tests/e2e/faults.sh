#!/usr/bin/env bash
# End to end over JACK, what only real processes show: Ctrl-C, a handheld that dies,
# a full disk, standard input closed at the port prompt.
. "$(dirname "$0")/lib.sh"

wait_until() {  # wait_until SECONDS COMMAND...: polls until the command succeeds.
    local i limit=$(($1 * 20)); shift
    for ((i = 0; i < limit; i++)); do "$@" && return 0; sleep 0.05; done; return 1
}
interrupt() {  # interrupt PID: Ctrl-C; exit status in $STATUS, wait in $WAITED_MS; killed after 10 s.
    local start=$(date +%s%N)
    kill -INT "$1"
    wait_until 10 sh -c "! kill -0 $1 2>/dev/null" || kill -KILL "$1"
    wait "$1"
    STATUS=$?
    WAITED_MS=$((($(date +%s%N) - start) / 1000000))
}
size_at_least() { [ "$(stat -c %s "$2" 2>/dev/null || echo 0)" -ge "$1" ]; }

# Ctrl-C mid-receive: the file holds exactly the bytes received. (env: a script's
# background jobs start with SIGINT ignored.)
make_file long.tp2 24 20000
sim_start --bank "$WORK/long.tp2"
env --default-signal=INT "$TPMIDI" -receive "$WORK/part.tp2" </dev/null >"$WORK/out" 2>"$WORK/err" &
pid=$!
wait_until 30 size_at_least 3000 "$WORK/part.tp2"
interrupt "$pid"
size=$(stat -c %s "$WORK/part.tp2")
check "Ctrl-C during a receive ends the program, and the $size bytes received are right" \
    sh -c "[ $STATUS -eq 130 -a $size -ge 3000 -a $size -lt 20000 ] && cmp -s -n $size '$WORK/part.tp2' '$WORK/long.tp2'"
transport_restart  # a client killed without closing can leave the server dropping messages

# A receive into a full disk: "error", never "done".
make_file small.tp2 24 300
sim_start --bank "$WORK/small.tp2"
tp -receive /dev/full </dev/null
sim_stop
check "receive into /dev/full: error" same_text "$OPENED"$'Ready to receive data.\n\n\nerror\n\n' "$WORK/out"

# The handheld dies mid-upload: tpmidi01 keeps waiting, ends at once on Ctrl-C, and
# the file it was sending is untouched.
make_file upload.tp2 24 5000
sum_before=$(md5sum <"$WORK/upload.tp2")
sim_start --log "$WORK/wire.log"
env --default-signal=INT "$TPMIDI" -send "$WORK/upload.tp2" <<<"" >"$WORK/out" 2>"$WORK/err" &
pid=$!
wait_until 30 size_at_least 10000 "$WORK/wire.log"
kill -KILL "$SIM_PID"
wait "$SIM_PID" 2>/dev/null
SIM_PID=""
sleep 2
check "handheld gone: tpmidi01 keeps waiting" kill -0 "$pid"
interrupt "$pid"
check "handheld gone: Ctrl-C ends the program at once (${WAITED_MS} ms)" test "$STATUS" -eq 130 -a "$WAITED_MS" -lt 2000
check "handheld gone: the file is untouched" test "$(md5sum <"$WORK/upload.tp2")" == "$sum_before"
transport_restart

# Standard input closed at the port prompt: the run gives up, status 0, nothing sent.
sim_start --name other-sim --log "$WORK/wire.log"
tp -sync <&-
check "port prompt with standard input closed: asked, status 0, nothing on the wire" \
    sh -c "grep -q 'Please choose a port number: ' '$WORK/out' && [ $TP_STATUS -eq 0 ] && [ ! -s '$WORK/wire.log' ]"

tp_at_prompt -sync
sim_stop
check "ports chosen at the prompt ($(echo $ANSWERS)): sync mode" grep -q "^Sync mode activated.$" "$WORK/out"
e2e_finish
