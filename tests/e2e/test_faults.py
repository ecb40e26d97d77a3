"""What only real processes show: Ctrl-C, the port prompt."""

import signal

import pytest

from harness import PROMPT, make_file, wait_until


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
    program.process.send_signal(signal.SIGINT)  # Ctrl-C
    run = transport.end(program, 10)
    size = size_of(part)
    assert run.status == 130 and 3000 <= size < 20000
    assert part.read_bytes() == data[:size]
    s.stop()
    transport.restart()  # a client killed without closing can leave the server dropping messages


def test_ports_chosen_at_the_prompt(transport, sim, tmp_path):
    """Over JACK the simulator's input is the only one and is taken without asking; its
    output is listed beside the program's own input. With no input at all the run ends
    at the prompt, nothing sent."""
    wire = tmp_path / "wire.log"
    with transport.unplugged():
        sim("--name", "other-sim", "--log", wire)
        if not transport.wine:  # the same code there, and each run under Wine costs seconds
            closed = transport.run("-sync", stdin=None)
            assert PROMPT in closed.out and closed.status == 0 and wire.read_text() == ""
        run, answers = transport.run_at_prompt("-sync")
    assert answers == (1 if transport.name == "jack" else 2)
    assert "\nSync mode activated.\n" in run.out
