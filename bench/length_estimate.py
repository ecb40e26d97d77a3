#!/usr/bin/env python3
"""The length a job says it takes against what it takes: tpmidi01 -send of a trackpod 2.5
bank (32 KiB by default) to the simulator over a private JACK server, each answer leaving
once the packet and the answer would have crossed a MIDI cable (trackpod-sim --cable-pace).
Prints the minutes the program's line gives, the time from the first data packet to the
last, and how far apart they are; the goal is within 10 %.

  python3 -m bench.length_estimate [bank bytes, default 32768]

from the top of the project, after scripts/build.sh."""

import re
import sys

from scripts import measuring
from tests.e2e import harness

size = int(sys.argv[1]) if len(sys.argv) > 1 else 32768
with measuring.measured("jack", "tpmidi-estimate-") as (transport, work):
    harness.make_file(work / "bank.tp2", 0x24, size)
    sim = transport.simulator("--cable-pace", "--save", work / "uploaded")
    run = transport.run("-send", work / "bank.tp2", stdin="\n")
    summary = sim.stop()
    said = re.search(r"tpmidi01: [0-9]+ bytes: about ([0-9]+) min at the MIDI cable's pace", run.err)
    span = re.search(r"data packets ([0-9]+) in ([0-9.e+-]+) s", summary)
    if not said or not span or (work / "uploaded").read_bytes() != (work / "bank.tp2").read_bytes():
        sys.exit(f"the upload did not go as it should:\n{run.out}\n{run.err}\n{summary}")
    said_s, took_s = int(said.group(1)) * 60, float(span.group(2))
    print(f"{size} bytes of a 2.5 bank at the cable's pace: the program says about {said.group(1)} min "
          f"({said_s} s), the upload took {took_s:.1f} s ({int(span.group(1))} packets), "
          f"{100 * (said_s - took_s) / took_s:+.1f} %")
