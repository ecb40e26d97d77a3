"""The run flow and the mode switches on the real MIDI library."""


def test_without_the_simulator(transport):
    with transport.unplugged():
        run = transport.run(stdin="")
    if transport.name == "jack":
        assert run.out == "\nNo input ports available!\n"
    else:  # the guest's sequencer has "Midi Through" and a virtual card, as a desktop's has
        assert run.out == "\n" + transport.listed_inputs() + "\nPlease choose a port number: \n"
    assert run.status == 0


def test_midi_mode_permanently(transport, sim, tmp_path):
    """Many runs in a row over JACK: RtMidi's JACK output can crash at exit."""
    wire = tmp_path / "wire.log"
    sim("--log", wire)
    runs = [transport.run("-MIDI", "30") for _ in range(25 if transport.name == "jack" else 1)]
    assert [run.out for run in runs] == [transport.opened() + "\nMIDI mode activated permanently.\n\n"] * len(runs)
    assert [run.status for run in runs] == [0] * len(runs)
    assert "F0 7E 54 07 01 00 54 50 44 4D 1E 00 F7" in wire.read_text().splitlines()
