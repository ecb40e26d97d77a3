"""Fixtures: the MIDI system of E2E_TRANSPORT (harness.py), the simulator, and the
programs under test (TPMIDI, TRACKPOD_SIM; by default those in build/)."""

import os
from pathlib import Path

import pytest

import harness


def pytest_runtest_setup(item):
    name, wine = os.environ.get("E2E_TRANSPORT", "jack"), os.environ.get("TPMIDI", "").endswith(".exe")
    over = item.get_closest_marker("over")
    if name not in (over.args if over else ("jack", "alsa", "usb")):
        pytest.skip(f"not over {name}")
    only = item.get_closest_marker("native" if wine else "wine")
    if only and (not only.args or name in only.args):
        pytest.skip("the Linux build only" if wine else "the Windows build only")
    if item.get_closest_marker("unsanitized") and os.environ.get("E2E_SANITIZED"):
        pytest.skip("what it adds, the sanitized unit tests check")


@pytest.fixture(scope="session")
def transport(tmp_path_factory):
    binary = lambda variable, default: Path(os.environ.get(variable) or harness.TOP / "build" / default)  # noqa
    session = harness.session(os.environ.get("E2E_TRANSPORT", "jack"), binary("TPMIDI", "tpmidi01").resolve(),
                              binary("TRACKPOD_SIM", "trackpod-sim").resolve(), tmp_path_factory.mktemp("midi"))
    session.start()
    yield session
    session.stop()


@pytest.fixture
def sim(transport, tmp_path):
    """sim(ARGS...) starts the simulator; it is stopped at the test's end, and a
    sanitizer report in its errors fails the test."""
    started = []

    def start(*args):
        started.append(transport.simulator(*args, work=tmp_path))
        return started[-1]

    yield start
    for s in started:
        s.stop()
        assert not harness.SANITIZER_REPORT.search(s.err()), "sanitizer report from trackpod-sim:\n" + s.err()
