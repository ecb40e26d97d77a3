"""The run flow and the mode switches on the real MIDI library."""

import pytest


def test_without_the_simulator(transport):
    with transport.unplugged():
        run = transport.run(stdin="")
    if transport.name == "jack":
        assert run.out == "\nNo input ports available!\n"
    else:  # the guest's sequencer has "Midi Through" and a virtual card, as a desktop's has
        assert run.out == "\n" + transport.listed_inputs() + "\nPlease choose a port number: \n"
    assert run.status == 0


def test_midi_mode_permanently(transport, sim, tmp_path):
    wire = tmp_path / "wire.log"
    sim("--log", wire)
    run = transport.run("-MIDI", "30")
    assert run.out == transport.opened() + "\nMIDI mode activated permanently.\n\n"
    assert run.status == 0
    assert "F0 7E 54 07 01 00 54 50 44 4D 1E 00 F7" in wire.read_text().splitlines()


@pytest.mark.native
def test_runs_in_a_row_end_cleanly(transport, sim):
    """RtMidi's JACK output can crash at exit; many runs in a row would show it."""
    sim()
    runs = 25 if transport.name == "jack" else 2
    failed = [run for run in (transport.run("-getmidi") for _ in range(runs))
              if run.status != 0 or "MIDI receive mode activated.\n" not in run.out]
    assert failed == []
