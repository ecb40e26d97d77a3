#!/usr/bin/env bash
# Wine's WinMM driver, not the program, ends a process with SIGSEGV after its last
# line: a program that only counts WinMM's MIDI devices dies so, one that does
# nothing does not, and one that opens and closes both ports through RtMidi dies
# like tpmidi01.exe. Then tpmidi01.exe's ports chosen at the prompt. Arguments:
# TPMIDI_EXE SIM (over ALSA, in scripts/vm-run's guest).
. "$(dirname "$0")/lib.sh"
[ -n "$WINE" ] || { echo "wine.sh wants tpmidi01.exe"; exit 1; }
cp "$(dirname "$TPMIDI")/bench/winmm_minimal.exe" "$WORK/"
sim_start
for row in none:0 count:139 open:139; do
    IFS=: read -r step expected <<<"$row"
    ("$WINE" "$WORK/winmm_minimal.exe" "$step" </dev/null >"$WORK/out" 2>"$WORK/err"; exit $?) 2>/dev/null
    STATUS=$?
    check "winmm_minimal $step: its last line, then status $STATUS (Wine's crash at exit: 139)" \
        sh -c "grep -q '^$step: done' '$WORK/out' && [ $STATUS -eq $expected ]"
done
sim_stop

sim_start --name other-sim
tp_at_prompt -sync
sim_stop
check "tpmidi01.exe: ports chosen at the prompt ($(echo $ANSWERS)): sync mode" grep -q "^Sync mode activated.$" "$WORK/out"
e2e_finish
