#!/usr/bin/env python3
"""How long a stall each MIDI system survives: tpmidi01 stopped (SIGSTOP, then
SIGCONT) for 50, 200, 1000 and 5000 ms in the middle of a receive from the simulator at the
cable's pace (one 11-byte message per 3.52 ms); the bytes lost, and whether the program
said "done" or "error". With --under-load, RUNS receives of a 4 KiB bank, never stopped,
with every core kept busy, the host's too where the VM runs (it then freezes now and then,
the simulator with it).

  python3 -m scripts.stall_check [jack | alsa | usb | wine-usb] [bank bytes, default 1500]
  python3 -m scripts.stall_check --under-load [jack | alsa | usb | wine-usb] [runs, default 3]

from the top of the project. jack runs here; the others in scripts/vm-run's VM (wine-usb:
the Windows build, from scripts/platforms.sh windows, under Wine over WinMM)."""

import contextlib
import signal
import time

from scripts import measuring
from tests.e2e import harness

args, in_vm = measuring.script_arguments()
under_load = args[:1] == ["--under-load"]
args = args[under_load:]
kind = args[0] if args else "jack"
count = int(args[1]) if len(args) > 1 else 3 if under_load else 1500
if kind != "jack" and not in_vm:
    with harness.busy(3600) if under_load else contextlib.nullcontext():
        measuring.in_the_vm("scripts.stall_check", ["--under-load"] * under_load + [kind, count], timeout=3600)
size, stalls = (4096, [None] * count) if under_load else (count, (50, 200, 1000, 5000))
PACE_US = 3520

with measuring.measured(kind, "tpmidi-stall-") as (transport, work):
    bank = harness.make_file(work / "bank.tp2", 0x24, size)
    for run_number, stall_ms in enumerate(stalls, 1):
        received = work / f"received-{run_number}.tp2"
        part = work / f"received-{run_number}.tp2.part"
        sim = transport.simulator("--bank", work / "bank.tp2", "--pace-us", PACE_US)
        with harness.busy() if under_load else contextlib.nullcontext():
            receiving = transport.start_program("-receive", received)
            harness.wait_until(lambda: part.exists() and part.stat().st_size >= (size if under_load else 300)
                               or not receiving.running(), 120)
            if stall_ms is not None:
                receiving.process.send_signal(signal.SIGSTOP)
                time.sleep(stall_ms / 1000)
                receiving.process.send_signal(signal.SIGCONT)
        run = transport.end(receiving)  # the rest of the bank, then the closing silence
        sim.stop()
        got = (received if received.exists() else part).read_bytes()
        lost = len(bank) - len(got)
        said = "done" if "done." in run.out else "error" if "\nerror\n" in run.out else "neither"
        holes = run.err.count("has a hole")
        also = [text for key, text in (("dropped messages", "the MIDI system dropped messages"),) if key in run.err]
        also += [line.removeprefix("tpmidi01: ") for line in run.err.splitlines() if "held up" in line]
        what = f"under load, run {run_number}" if stall_ms is None else f"stopped {stall_ms} ms"
        moved = "the bank whole" if got == bank else f"{lost} of {size} bytes lost" if lost else "bytes changed"
        print(f"{kind}: {what}: {moved}, the program said {said}{f' and named {holes} hole(s)' if holes else ''}"
              f"{''.join('; ' + text for text in also)}", flush=True)
