"""Wine's WinMM driver, not the program, ends a process with SIGSEGV after its last
line: a minimal program that opens and closes both ports through RtMidi dies like
tpmidi01.exe. (One that only counts the devices dies so most times, not always: a
race in Wine, not a fact to check.) This fails the day Wine stops crashing, so that
the harness can then require status 0."""

import shutil

import pytest

from harness import WINE

pytestmark = pytest.mark.wine


def test_wines_crash_at_exit(transport, sim):
    minimal = shutil.copy(transport.tpmidi.parent / "bench" / "winmm_minimal.exe", transport.work)
    sim()
    crashes = transport.wine_crashes
    run = transport.run("open", command=[WINE, minimal])
    assert "open: done" in run.out and transport.wine_crashes == crashes + 1
