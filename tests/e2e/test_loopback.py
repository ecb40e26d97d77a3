"""The loopback check, tpmidi01 --loopback, against the simulator as a cable from the
program's output back to its input: intact, spoiled as real interfaces spoil it, open, or a
handheld in its place. What the program says, and its exit status."""

import contextlib
import re
import time

import pytest

from harness import busy, console_text

PASSES, NOTHING, ASKED = (console_text("loopback." + name) for name in ("passes", "nothing", "asked"))


def report(run):
    """The lines after the instructions, each as it was left on the screen (its progress
    lines overwritten)."""
    return [line.rsplit("\r", 1)[-1] for line in run.out.split(ASKED, 1)[-1].split("\n")]


def exit_status(transport, run):
    """Under Wine, WinMM's crash at exit takes the place of the status (test_wines_crash_at_exit),
    and the harness reads it as 0: there the status cannot be seen, and is not checked."""
    return None if transport.wine else run.status


def check(transport, sim, *sim_args, loaded=False):
    s = sim("--loopback", *sim_args)
    started = time.monotonic()
    with busy() if loaded else contextlib.nullcontext():
        run = transport.run("--loopback", stdin=None)
    return run, time.monotonic() - started, s.stop()


OVER_ALL, THROUGH_USB = pytest.mark.over("jack", "alsa", "usb"), pytest.mark.over("jack", "usb")
# Each way of spoiling a cable is counted in-process too, under the sanitizers: the
# sanitized end-to-end run checks the real stack with one of them.
ONCE = pytest.mark.unsanitized
# The cable's spoiling, its exit status and what the report must hold (patterns of whole
# lines). The Windows build: an intact cable and an open one; the rest is shared code. A byte
# lost at the 256-byte turn and messages cut come back as changed bytes do, and messages lost
# as the open loop's are: in-process only.
CABLES = {
    "intact": ((), 0, [r"stop and wait: 1024 of 1024 intact, round trip [0-9.]+ ms \(median\), [0-9.]+ ms \(worst\)",
                       r"stream: 4096 of 4096 intact, [0-9]+ bytes/s \(the cable carries 3125\)", PASSES], OVER_ALL),
    # A false "fails" is a fault too: a busy computer is not the interface.
    "intact, every core busy": ((), 0, [r"stop and wait: 1024 of 1024 intact, round trip .*",
                                        r"stream: 4096 of 4096 intact, .*", PASSES],
                                (pytest.mark.over("jack"), pytest.mark.native, ONCE)),
    "a byte changed in every 500th message": (
        ("--loop-change", "500"), 1,
        [r"stop and wait: 1022 of 1024 intact, 2 changed, round trip .*",
         r"  first change: message 500 of the stop-and-wait round \(a block packet of 28 bytes\), byte 7: sent 3E, "
         r"received 3F", r"stream: 4088 of 4096 intact, 8 changed, .*",
         r"  first change: message 476 of the stream \(a data packet of 11 bytes\), byte 7: sent 40, received 41",
         r"The interface fails: it changed message 500 of the stop-and-wait round \(a block packet of 28 bytes\) at "
         r"byte 7: sent 3E, received 3F\. A bank .*"], (THROUGH_USB, pytest.mark.native)),
    "Active Sensing added": (("--loop-sensing", "10"), 0,
                             [r"stream: 4096 of 4096 intact, .*",
                              r"the interface added 51[12] Active Sensing messages of its own: no fault", PASSES],
                             (THROUGH_USB, pytest.mark.native, ONCE)),
    "two bytes of every six lost": (("--loop-lose-two-of-six",), 1,
                                    [r"stop and wait: 0 of [0-9]+ intact, .* \(the round stopped there\).*",
                                     r"The interface fails: .*"], (pytest.mark.over("jack"), pytest.mark.native, ONCE)),
    # Both paces are the machine's as much as the cable's (the figures themselves are checked
    # in-process, on the test's clock): the verdict, and that the stream came back slower.
    "slower than the cable": (("--loop-byte-us", "480"), 1,
                              [r"stream: 4096 of 4096 intact, [0-9]+ bytes/s \(the cable carries 3125\)",
                               r"The interface fails: the stream came back at [0-9]+ bytes/s, slower than the [0-9]+ it "
                               r"left at\. .*"], (pytest.mark.over("jack"), pytest.mark.native, ONCE)),
    "open: every message lost": (("--loop-lose", "1"), 1, [NOTHING], OVER_ALL),
}


@pytest.mark.parametrize("cable", [pytest.param(name, marks=CABLES[name][3]) for name in CABLES])
def test_the_check_of_a_cable(transport, sim, cable):
    """Each line of the report where it belongs, and nothing else that fails or passes. A check
    takes under a minute at the cable's pace."""
    args, status, lines, _ = CABLES[cable]
    run, took, summary = check(transport, sim, *args, loaded="busy" in cable)
    assert run.out.startswith(transport.opened() + ASKED), run.out
    said = report(run)
    for pattern in lines:
        assert any(re.fullmatch(pattern, line) for line in said), f"{pattern}\n" + "\n".join(said)
    verdicts = [line for line in said if line.startswith(("The interface ", "nothing came back"))]
    assert len(verdicts) == 1 and said[-2:] == [""] * 2 and exit_status(transport, run) in (status, None), run.out
    # A guard against a hang (Wine starts slowly in the VM); how soon an open loop is told,
    # the in-process suite checks on its own clock.
    assert took < 60 or transport.wine, took
    assert "loopback cable: " in summary
