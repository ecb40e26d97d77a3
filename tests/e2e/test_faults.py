"""What only real processes show: Ctrl-C, a silent handheld, standard input closed at
the port prompt."""

import hashlib
import signal
import subprocess
import time

import pytest

from harness import make_file, wait_until


def interrupt(process):
    """Ctrl-C; returns the exit status and the milliseconds it took to end."""
    start = time.monotonic()
    process.send_signal(signal.SIGINT)
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    return 128 - process.returncode if process.returncode < 0 else process.returncode, \
        (time.monotonic() - start) * 1000


def size_of(path):
    return path.stat().st_size if path.exists() else 0


@pytest.mark.over("jack", "alsa")  # the console's default action: the same on any port
@pytest.mark.native
def test_ctrl_c_during_a_receive_keeps_every_byte_received(transport, sim, tmp_path):
    data = make_file(tmp_path / "long.tp2", 0x24, 20000)
    s = sim("--bank", tmp_path / "long.tp2")
    part = tmp_path / "part.tp2"
    program = transport.start_program("-receive", part)
    assert wait_until(lambda: size_of(part) >= 3000, 30)
    status, _ = interrupt(program)
    size = size_of(part)
    assert status == 130 and 3000 <= size < 20000
    assert part.read_bytes() == data[:size]
    s.stop()
    transport.restart()  # a client killed without closing can leave the server dropping messages


@pytest.mark.native
def test_a_silent_handheld_is_waited_for(transport, sim, tmp_path):
    """It stops answering while its port stays: tpmidi01 keeps waiting, ends at once
    on Ctrl-C, and the file it was sending is untouched."""
    upload = tmp_path / "upload.tp2"
    make_file(upload, 0x24, 5000)
    before = hashlib.md5(upload.read_bytes()).digest()
    wire = tmp_path / "wire.log"
    s = sim("--log", wire, "--answer-packets", "1000")
    program = transport.start_program("-send", upload, stdin="\n")
    assert wait_until(lambda: wire.read_text().count("\n") >= 1002, 30)  # the command and 1001 packets
    time.sleep(3)  # longer than it takes to notice a port that went away
    assert program.poll() is None
    status, waited = interrupt(program)
    assert status == 130 and waited < 2000
    assert hashlib.md5(upload.read_bytes()).digest() == before
    s.stop()
    transport.restart()


@pytest.mark.native
def test_standard_input_closed_at_the_port_prompt(transport, sim, tmp_path):
    wire = tmp_path / "wire.log"
    with transport.unplugged():
        sim("--name", "other-sim", "--log", wire)
        run = transport.run("-sync", stdin=None)
    assert "Please choose a port number: " in run.out
    assert run.status == 0
    assert wire.read_text() == ""


def test_ports_chosen_at_the_prompt(transport, sim):
    """Over JACK the simulator's input is the only one and is taken without asking; its
    output is listed beside the program's own input."""
    with transport.unplugged():
        sim("--name", "other-sim")
        run, answers = transport.run_at_prompt("-sync")
    assert answers.count("\n") == (1 if transport.name == "jack" else 2)
    assert "\nSync mode activated.\n" in run.out
