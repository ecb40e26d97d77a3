"""Fixtures of the end-to-end suite: the MIDI system of E2E_TRANSPORT (harness.py),
the simulator, and the program under test (TPMIDI, TRACKPOD_SIM; by default those in
build/)."""

import os
from pathlib import Path

import pytest

import harness

# Where a test runs unless it says otherwise: wherever the simulator's ports or the
# interface in front of it carry a name that begins with "trackpod".
FOUND_BY_NAME = ("jack", "alsa", "usb")
_tally = []


def pytest_configure(config):
    config.addinivalue_line("markers", "over(*transports): runs only over these transports")
    config.addinivalue_line("markers", "native: the Linux build only")
    config.addinivalue_line("markers", "wine: the Windows build only")


def binary(variable, default):
    return Path(os.environ.get(variable) or harness.TOP / "build" / default).resolve()


@pytest.fixture(scope="session")
def transport(tmp_path_factory):
    t = harness.Transport(binary("TPMIDI", "tpmidi01"), binary("TRACKPOD_SIM", "trackpod-sim"),
                          tmp_path_factory.mktemp("midi"))
    t.start()
    yield t
    t.stop()
    if t.wine:
        _tally.append(f"tpmidi01.exe: {t.wine_crashes} of {t.wine_runs} runs under Wine ended in "
                      "Wine's SIGSEGV at exit")


def pytest_runtest_setup(item):
    name = os.environ.get("E2E_TRANSPORT", "jack")
    wine = os.environ.get("TPMIDI", "").endswith(".exe")
    over = item.get_closest_marker("over")
    allowed = over.args if over else FOUND_BY_NAME
    if name not in allowed:
        pytest.skip(f"not over {name}")
    if item.get_closest_marker("native") and wine:
        pytest.skip("the Linux build only")
    if item.get_closest_marker("wine") and not wine:
        pytest.skip("the Windows build only")


@pytest.fixture
def report():
    """report(LINE): a measurement, shown at the end of the run."""
    return _tally.append


def pytest_terminal_summary(terminalreporter):
    for line in _tally:
        terminalreporter.write_line(line)


@pytest.fixture
def sim(transport, tmp_path):
    """sim(ARGS...) starts the simulator (a running one is stopped first); each is
    stopped at the end of the test, and a sanitizer report in its errors fails it."""
    started = []

    def start(*args):
        if started:
            started[-1].stop()
        started.append(transport.simulator(*args, work=tmp_path))
        return started[-1]

    yield start
    for s in started:
        s.stop()
        assert not harness.SANITIZER_REPORT.search(s.err()), "sanitizer report from trackpod-sim:\n" + s.err()
