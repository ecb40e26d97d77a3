"""Wine's WinMM driver, not the program, ends a process with SIGSEGV after its last
line: a program that only counts WinMM's MIDI devices dies so, one that does nothing
does not, and one that opens and closes both ports through RtMidi dies like
tpmidi01.exe. This fails the day Wine stops crashing, so that the harness can then
require status 0."""

import shutil
import subprocess

import pytest

from harness import WINE

pytestmark = pytest.mark.wine


@pytest.mark.parametrize("step,status", [("none", 0), ("count", 139), ("open", 139)])
def test_wines_crash_at_exit(transport, sim, step, status):
    minimal = shutil.copy(transport.tpmidi.parent / "bench" / "winmm_minimal.exe", transport.work)
    sim()
    run = subprocess.run([WINE, minimal, step], stdin=subprocess.DEVNULL, capture_output=True)
    assert f"{step}: done" in run.stdout.decode(errors="replace")
    assert (128 - run.returncode if run.returncode < 0 else run.returncode) == status
