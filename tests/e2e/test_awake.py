"""The computer kept awake for the length of a job: logind's sleep lock, asked for over the
system bus, here python-dbusmock's logind on a private bus. Over JACK, the Linux build."""

import signal
import subprocess
import sys

import pytest

from harness import make_file, wait_until

pytestmark = [pytest.mark.over("jack"), pytest.mark.native]
LOGIND = ["--dest=org.freedesktop.login1", "/org/freedesktop/login1"]


class Logind:
    """A private bus as the system bus, and logind's mock on it."""

    def __init__(self, work):
        self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                    stdout=subprocess.PIPE, text=True)
        self.address = self.bus.stdout.readline().strip()
        self.log = work / "logind.log"
        self.mock = subprocess.Popen([sys.executable, "-m", "dbusmock", "--template", "logind", "-l", self.log],
                                     env={"DBUS_SYSTEM_BUS_ADDRESS": self.address, "PATH": "/usr/bin:/bin"})
        assert wait_until(lambda: "boolean true" in self.ask("--dest=org.freedesktop.DBus", "/",
                                                              "org.freedesktop.DBus.NameHasOwner",
                                                              "string:org.freedesktop.login1"), 20)

    def ask(self, *message):
        return subprocess.run(["dbus-send", f"--bus={self.address}", "--print-reply", *message],
                              capture_output=True, text=True).stdout

    def held(self):
        """The locks held for tpmidi01 now."""
        return self.ask(*LOGIND, "org.freedesktop.login1.Manager.ListInhibitors").count('"tpmidi01"')

    def calls(self):
        return [line for line in self.log.read_text().splitlines() if " Inhibit " in line]

    def stop(self):
        for p in (self.mock, self.bus):
            p.terminate()
            p.wait()


@pytest.fixture
def logind(tmp_path):
    mock = Logind(tmp_path)
    yield mock
    mock.stop()


# How the lock is given back after "error" is the run flow's: in-process (SendFile).
@pytest.mark.parametrize("end", ["done", "Ctrl-C"])
def test_an_upload_keeps_the_computer_awake(transport, sim, tmp_path, logind, end):
    """One lock, "sleep:idle" for "tpmidi01", held before the first data packet (the program
    pauses half a second after announcing the upload) and given back by the end: after "done",
    and by the system after Ctrl-C (the handheld silent after 300 packets)."""
    make_file(tmp_path / "bank.tp2", 0x24, 2000)
    wire = tmp_path / "wire.log"
    sim("--log", wire, *(("--answer-packets", "300") if end != "done" else ()))
    program = transport.start_program("-send", tmp_path / "bank.tp2", env={"DBUS_SYSTEM_BUS_ADDRESS": logind.address})
    assert wait_until(lambda: wire.exists() and " 54 50 44 62 " in wire.read_text() or not program.running(), 30)
    held_before_the_first_packet = logind.held()
    assert "F0 7E 00 07 02" not in wire.read_text()
    if end == "Ctrl-C":
        assert wait_until(lambda: wire.read_text().count("\n") > 300, 30)
        program.process.send_signal(signal.SIGINT)
    run = transport.end(program, 60)
    assert held_before_the_first_packet == 1
    assert wait_until(lambda: logind.held() == 0, 5), "the lock was not given back"
    calls = logind.calls()
    assert len(calls) == 1 and '"sleep:idle" "tpmidi01" "sending ' in calls[0] and calls[0].endswith('"block"'), calls
    assert run.status == 130 if end == "Ctrl-C" else run.out.endswith("\ndone\n\n")


def test_no_logind_no_lock_and_the_job_goes_on(transport, sim, tmp_path):
    """With no system bus at all (a container, WSL), the job runs as before."""
    make_file(tmp_path / "bank.tp2", 0x24, 1000)
    sim()
    run = transport.run("-send", tmp_path / "bank.tp2",
                        env={"DBUS_SYSTEM_BUS_ADDRESS": f"unix:path={tmp_path}/no-such-bus"})
    assert run.out.endswith("\ndone\n\n") and run.err == "", run.err
