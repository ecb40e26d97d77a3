"""The run flow on the real MIDI library: the mode switches, the port prompt, Ctrl-C, and
Wine's crash at exit."""

import shutil
import signal

import pytest

from harness import RUN_LIMIT_S, WINE, make_file, wait_until


def test_without_the_simulator(transport):
    with transport.unplugged():
        run = transport.run(stdin="")
    if transport.name == "jack":
        assert run.out == "\nNo input ports available!\n"
    else:  # the guest's sequencer has "Midi Through" and a virtual card, as a desktop's has
        ports = ("Midi Through Port-0 0", "VirMIDI 0-0 1") if transport.wine else (
            "Midi Through:Midi Through Port-0 14:0", "Virtual Raw MIDI 0-0:VirMIDI 0-0 16:0")
        assert run.out == "\n  Input port #0: %s\n  Input port #1: %s\n\nPlease choose a port number: \n" % ports
    assert run.status == 0
    if transport.name == "jack":  # and no MIDI system at all: one plain line says what is missing
        run = transport.run("-sync", env={"JACK_DEFAULT_SERVER": "no-such-server"})
        assert run.out == "error\n" and len([line for line in run.err.splitlines() if line.strip()]) <= 4
        assert "tpmidi01: no MIDI system: no ALSA sequencer (/dev/snd/seq) and no JACK server running; start " in run.err


def test_midi_mode_permanently(transport, sim, tmp_path):
    """Many runs in a row over JACK: RtMidi's JACK output can crash at exit."""
    wire = tmp_path / "wire.log"
    sim("--log", wire)
    runs = [transport.run("-MIDI", "30") for _ in range(25 if transport.name == "jack" else 1)]
    assert [run.out for run in runs] == [transport.opened() + "\nMIDI mode activated permanently.\n\n"] * len(runs)
    assert [run.status for run in runs] == [0] * len(runs)
    assert "F0 7E 54 07 01 00 54 50 44 4D 1E 00 F7" in wire.read_text().splitlines()


@pytest.mark.over("jack", "alsa")  # the console's default action: the same on any port
@pytest.mark.native
@pytest.mark.parametrize("when", ["before the first byte", "mid-bank"])
def test_ctrl_c_during_a_receive_keeps_every_byte_received(transport, sim, tmp_path, when):
    """The user's old bank stays as it was, and every byte received is in NAME.part."""
    data = make_file(tmp_path / "long.tp2", 0x24, 20000)
    mid = when == "mid-bank"
    s = sim(*(("--bank", tmp_path / "long.tp2") if mid else ("--silent", "--log", tmp_path / "wire.log")))
    name, part = tmp_path / "old.tp2", tmp_path / "old.tp2.part"
    name.write_bytes(b"the old bank")
    program = transport.start_program("-receive", name)
    # Waited for as long as a loaded machine could take, not for a time that one may not meet.
    arrived = (lambda: part.exists() and part.stat().st_size >= 3000) if mid else (
        lambda: (tmp_path / "wire.log").exists() and "54 50 44 62" in (tmp_path / "wire.log").read_text())
    assert wait_until(lambda: arrived() or not program.running(), RUN_LIMIT_S) and program.running()
    program.process.send_signal(signal.SIGINT)  # Ctrl-C
    run = transport.end(program, 10)
    size = part.stat().st_size
    assert run.status == 130 and (3000 <= size < 20000 if mid else size == 0)
    assert part.read_bytes() == data[:size] and name.read_bytes() == b"the old bank"
    assert f"tpmidi01: receiving into {part}, which becomes {name} once" in run.err
    s.stop()
    transport.restart()  # a client killed without closing can leave the server dropping messages


def test_ports_chosen_at_the_prompt(transport, sim):
    """Over JACK the simulator's input is the only one and is taken without asking; its
    output is listed beside the program's own input."""
    with transport.unplugged():
        sim("--name", "other-sim")
        run, answers = transport.run_at_prompt("-sync")
    assert answers == (1 if transport.name == "jack" else 2)
    assert "\nSync mode activated.\n" in run.out


@pytest.mark.wine
def test_wines_crash_at_exit(transport, sim):
    """Wine's WinMM, not the program, ends a process with SIGSEGV after its last line: a
    minimal program that opens and closes both ports through RtMidi dies like tpmidi01.exe
    (one that only counts the devices dies so most times, not always: a race in Wine). This
    fails the day Wine stops crashing, so that the harness can then require status 0."""
    minimal = shutil.copy(transport.tpmidi.parent / "bench" / "winmm_minimal.exe", transport.work)
    sim()
    program = transport.start_program("open", command=[WINE, minimal])
    program.wait(60)
    assert "open: done" in program.out() and program.process.returncode == -signal.SIGSEGV
