"""Through a MIDI card, as with a MIDI interface whose name does not begin with
"trackpod" (ALSA, in scripts/vm-run's guest): the simulator serves the raw byte
stream of an snd-virmidi card; tpmidi01 reaches it through the card's sequencer port,
chosen at the prompt by number. (ALSA lists the program's own input among the
outputs.)"""

import pytest

from harness import make_file
from texts import received_text, sent_text

pytestmark = [pytest.mark.over("alsa"), pytest.mark.native]

CARD = "Virtual Raw MIDI 0-0:VirMIDI 0-0"
DEVICE = "/dev/snd/midiC0D0"
ANSWERS = "1\n1\n"


def listed(transport):
    return ("\n" + transport.listed_inputs() + f"\nPlease choose a port number: {CARD} opened for input\n\n"
            "  Output port #0: Midi Through:Midi Through Port-0 14:0\n"
            f"  Output port #1: {CARD} 16:0\n"
            "  Output port #2: RtMidi Input Client:RtMidi 129:0\n\n"
            f"Please choose a port number: {CARD} opened for output\n")


def test_upload_at_cable_pace(transport, sim, tmp_path, report):
    """Every byte of both directions takes 320 us."""
    bank = tmp_path / "bank.tp2"
    data = make_file(bank, 0x24, 1200)
    s = sim("--raw-midi", DEVICE, "--cable-pace", "--save", tmp_path / "uploaded")
    run = transport.run("-send", bank, stdin=ANSWERS)
    s.stop()
    assert run.out == listed(transport) + sent_text(0x24, bank, 1200)
    assert (tmp_path / "uploaded").read_bytes() == data
    report(f"through the card at cable pace: {s.microseconds_per_exchange():.0f} us per exchange; "
           "the cable's floor is 7040 us (22 bytes)")


def test_receive_through_the_card(transport, sim, tmp_path):
    data = make_file(tmp_path / "sent.tp2", 0x24, 1500)
    sim("--raw-midi", DEVICE, "--bank", tmp_path / "sent.tp2")
    run = transport.run("-receive", tmp_path / "received.tp2", stdin=ANSWERS)
    assert run.out == listed(transport) + received_text(1500)
    assert (tmp_path / "received.tp2").read_bytes() == data
