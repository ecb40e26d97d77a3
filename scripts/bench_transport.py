#!/usr/bin/env python3
"""Time per exchange over a real MIDI transport: a bare RtMidi stop-and-wait client
against tpmidi01 -send of a trackpod 2.5 bank, both talking to trackpod-sim,
alternating, several runs each. The simulator times the span from the first to the
last data packet it answers, the same way for both.

  python3 -m scripts.bench_transport [--alsa | --usb | --wine] [--cable-pace] [N exchanges, default 4000] [runs, default 5]

from the top of the project.
Over a private JACK server; with --alsa over the ALSA sequencer inside
scripts/vm-run's VM (emulated); with --usb there through its USB MIDI interface, the
simulator behind it (with --cable-pace taking and sending every byte at the cable's
320 us); with --wine the Windows builds there under Wine, over WinMM
(build them first with scripts/platforms.sh windows), and tpmidi01.exe also at
Windows' default timer resolution."""

import re
import shutil
import statistics
import subprocess
import tempfile
from pathlib import Path

from scripts import measuring
from tests.e2e import harness

TOP = harness.TOP
args, in_vm = measuring.script_arguments()
kind = "jack"
if args and args[0] in ("--alsa", "--usb", "--wine"):
    kind = args.pop(0)[2:]
sim_args = [args.pop(0)] if args and args[0] == "--cable-pace" else []
n = int(args[0]) if args else 4000
runs = int(args[1]) if len(args) > 1 else 5

if not in_vm:
    subprocess.run(["bash", "scripts/setup.sh", "test"], cwd=TOP, check=True)
    subprocess.run(["bash", "scripts/build.sh"], cwd=TOP, check=True, stdout=subprocess.DEVNULL)
    if kind != "jack":
        subprocess.run(["bash", "scripts/setup.sh", "vm"], cwd=TOP, check=True)
        measuring.in_the_vm("scripts.bench_transport", [f"--{kind}", *sim_args, n, runs], timeout=3000)

windows = TOP / "build-windows"
work = Path(tempfile.mkdtemp(prefix="tpmidi-bench-"))
transport = harness.session({"jack": "jack", "usb": "usb"}.get(kind, "alsa"),
                            windows / "tpmidi01.exe" if kind == "wine" else TOP / "build/tpmidi01",
                            TOP / "build/trackpod-sim", work)
extra = [windows / "bench/echo_client.exe", windows / "bench/tpmidi01_default_timer.exe"] if kind == "wine" else []
transport.start(*extra)
harness.make_file(work / "bank.tp2", 0x24, n)
programs = {"echo client": [str(TOP / "build/bench/echo_client"), str(n)],
            "tpmidi01": [*transport.command, "-send", str(work / "bank.tp2")]}
if kind == "wine":
    programs["echo client"] = [harness.WINE, str(work / "echo_client.exe"), str(n)]
    programs["tpmidi01 at the default timer resolution"] = [
        harness.WINE, str(work / "tpmidi01_default_timer.exe"), "-send", str(work / "bank.tp2")]


def measure(command):
    """Runs the command against a fresh simulator; microseconds per exchange."""
    sim = transport.simulator(*sim_args)
    transport.run(command=command)
    found = re.search(r" s, ([0-9.e+-]+) us each$", sim.stop(), re.M)
    return float(found.group(1)) if found else None


times = {name: [] for name in programs}
try:
    for run in range(1, runs + 1):
        for name, command in programs.items():
            times[name].append(measure(command))
        print(f"run {run}: " + ", ".join(f"{name} {t[-1]} us" for name, t in times.items()) + " per exchange",
              flush=True)
finally:
    transport.stop()
    shutil.rmtree(work, ignore_errors=True)
median = {name: statistics.median_low(t) for name, t in times.items()}
print(f"median over {runs} runs of {n} exchanges over {kind}: echo client {median['echo client']} us, "
      f"tpmidi01 {median['tpmidi01']} us, ratio {median['tpmidi01'] / median['echo client']:.3f}")
if kind == "wine":
    print(f"tpmidi01.exe at the default timer resolution: {median['tpmidi01 at the default timer resolution']} us;"
          f" with the 1 ms resolution: {median['tpmidi01']} us")
