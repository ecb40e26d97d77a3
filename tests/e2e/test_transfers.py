"""Each kind of file sent, a GBA booted by multiboot and a bank received: the bytes
that arrived against the bytes that left, and the console text whole."""

import re
import signal
import time

import pytest

from harness import busy, make_file, received_text, sent_text, wait_until

# Every transfer over JACK and through the USB interface, whose ports are the ALSA
# sequencer's ports of a kernel driver, as a user's interface has.
TRANSFERS = pytest.mark.over("jack", "usb")


@TRANSFERS
# A paced upload (a 1.6 bank and any other file go as a ROM does, their words checked
# in-process), a 2.5 bank's unpaced stream, and a multiboot.
@pytest.mark.parametrize("name,first,size", [("rom.gb", 0xC9, 700), ("bank.tp2", 0x24, 5000),
                                             ("game.gba", 0x2E, 262144)])
def test_send(transport, sim, tmp_path, name, first, size):
    """A GBA ROM's full 256 KiB image is decrypted by the simulated console, which checks its
    checksum; every other kind is saved as it arrives."""
    if transport.wine and first == 0x24:
        pytest.skip("under Wine a paced upload, a multiboot, and a 2.5 bank under load: the rest is shared code")
    data = make_file(tmp_path / name, first, size)
    multiboot = ("--gba-client", "0xF7", "--gba-length", "0x5C", "--gba-wait", "3", "--gba-save")
    s = sim(*(multiboot if first == 0x2E else ("--save",)), tmp_path / "uploaded")
    run = transport.run("-send", tmp_path / name, stdin=None)  # as CI runs it: no input at all
    summary = s.stop()
    assert first != 0x2E or "multiboot image accepted: decrypted, checksum right" in summary
    assert run.out == transport.opened() + sent_text(first, tmp_path / name, size)
    assert run.status == 0
    assert (tmp_path / "uploaded").read_bytes() == data


# In the VM a receive's closing silence takes minutes, so each kind of build there ends one
# receive: the Linux build's, stopped for a while below, also stands for the ALSA sequencer;
# the Windows build's is this whole bank, its MIDI system's own thread starved. The hole is
# found by shared code.
@pytest.mark.parametrize("job", [pytest.param("whole bank", marks=[pytest.mark.over("jack", "usb"), pytest.mark.wine("usb")]),
                                 pytest.param("bank with a hole", marks=[pytest.mark.over("jack"), pytest.mark.native]),
                                 pytest.param("upload", marks=[pytest.mark.over("usb"), pytest.mark.wine])])
def test_under_load(transport, sim, tmp_path, job):
    """Every core busy until the data has moved (not during a receive's closing silence, which
    counts polls). The handheld streams a bank without waiting: what a busy machine drops is
    gone. A whole bank is "done" and takes the old file's place, however starved the program
    was. A bank with a hole the simulator made, and an interface's identity reply amid it: the
    hole and no other is named, "error", the old file stays as it was, and every byte that came
    is in NAME.part; the reply is no byte of the bank."""
    bank, received = tmp_path / "bank.tp2", tmp_path / "received.tp2"
    part = tmp_path / "received.tp2.part"
    data = make_file(bank, 0x24, 4096)
    receive, hole = job != "upload", job == "bank with a hole"
    if receive:
        received.write_bytes(b"the old bank")
        s = sim("--bank", bank, *(("--bank-hole", "3000:37", "--bank-stray", "2000:identity") if hole else ()))
    else:
        s = sim("--save", received)
    with busy():
        program = transport.start_program(*(("-receive", received) if receive else ("-send", bank)))
        moved, size = (part, 4059 if hole else 4096) if receive else (received, 4096)
        wait_until(lambda: not program.running() or moved.exists() and moved.stat().st_size >= size, 60, 0.2)
    run = transport.end(program)
    s.stop()
    if hole:
        assert run.out == transport.opened() + received_text(4059, whole=False)
        assert run.err.count("has a hole") == 1 and \
            "tpmidi01: the bank has a hole after byte 3000: at least 37 messages lost (number 56, then 93)\n" in run.err
        assert part.read_bytes() == data[:3000] + data[3037:] and received.read_bytes() == b"the old bank"
    elif receive:
        assert run.out == transport.opened() + received_text(4096), run.err
        assert run.err == (f"tpmidi01: receiving into {part}, which becomes {received} once the whole bank has "
                           f"arrived\ntpmidi01: 4096 bytes saved in {received}\n")
        assert received.read_bytes() == data and not part.exists()
    else:
        assert run.out == transport.opened() + sent_text(0x24, bank, 4096)
        assert received.read_bytes() == data


@pytest.mark.native
@pytest.mark.parametrize("stops", [pytest.param(((300, 200), (800, 1000)), marks=pytest.mark.over("jack", "usb")),
                                   pytest.param(((300, 5000),), marks=pytest.mark.over("jack"))])
def test_a_receive_stopped_for_a_while(transport, sim, tmp_path, stops):
    """The program stopped (Ctrl-Z, a swapping machine) while the handheld streams at the
    cable's pace: for 200 ms after 300 bytes, then for 1000 ms after 800. Neither stop costs a
    byte, so the bank arrives whole and replaces the old file: over JACK RtMidi's queue holds
    3.6 s of the stream; through the USB interface the ALSA sequencer keeps 2.8 s for the
    program, which asks it for its most (its default, 0.3 s, lost bytes in the second stop),
    and the program counts on that much. Stopped for 5 s over JACK, what the server had for
    the program meanwhile is lost, and named."""
    bank = make_file(tmp_path / "bank.tp2", 0x24, 1500)
    name, part = tmp_path / "song.tp2", tmp_path / "song.tp2.part"
    name.write_bytes(b"the old bank")
    s = sim("--bank", tmp_path / "bank.tp2")
    program = transport.start_program("-receive", name)
    for after, stall_ms in stops:
        assert wait_until(lambda: part.exists() and part.stat().st_size >= after or not program.running(), 60)
        program.process.send_signal(signal.SIGSTOP)
        time.sleep(stall_ms / 1000)
        program.process.send_signal(signal.SIGCONT)
    run = transport.end(program)
    s.stop()
    if len(stops) == 2:
        assert run.out == transport.opened() + received_text(1500), run.err
        assert name.read_bytes() == bank and not part.exists()
        return
    got = part.read_bytes()
    assert run.out == transport.opened() + received_text(len(got), whole=False)
    assert got[:300] == bank[:300] and name.read_bytes() == b"the old bank"
    rest = iter(bank)
    assert all(b in rest for b in got)  # what came, in order
    holes = [int(n) for n in re.findall(r"has a hole after byte ([0-9]+):", run.err)]
    assert holes and min(holes) >= 300 or "tpmidi01: the MIDI system dropped messages of the bank" in run.err
