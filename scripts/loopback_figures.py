#!/usr/bin/env python3
"""What tpmidi01 --loopback prints over each MIDI system, the simulator playing an intact
cable: the round trip of the stop-and-wait round and the pace of the stream.

  python3 -m scripts.loopback_figures [jack | alsa | usb | wine-usb] [runs, default 3]

from the top of the project. jack runs here; the others in scripts/vm-run's VM (wine-usb:
the Windows build, from scripts/platforms.sh windows, under Wine over WinMM). The simulator
gives each message back as soon as it has it: its --cable-pace takes a message, then gives
it back, each at the cable's pace, so it could loop a stream at half the cable's pace only."""


from scripts import measuring

args, in_vm = measuring.script_arguments()
kind = args[0] if args else "jack"
runs = int(args[1]) if len(args) > 1 else 3
if kind != "jack" and not in_vm:
    measuring.in_the_vm("scripts.loopback_figures", [kind, runs])

with measuring.measured(kind, "tpmidi-loop-") as (transport, work):
    for run in range(1, runs + 1):
        sim = transport.simulator("--loopback")
        checked = transport.run("--loopback", stdin=None)
        sim.stop()
        lines = [line.rsplit("\r", 1)[-1] for line in checked.out.split("\n")]
        said = [line for line in lines if line.startswith(("stop and wait:", "stream:", "The interface", "nothing"))]
        print(f"{kind}, run {run} (status {checked.status}): " + " | ".join(said), flush=True)
