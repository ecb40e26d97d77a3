"""Each kind of file sent, a GBA booted by multiboot and a bank received: the bytes
that arrived against the bytes that left, and the console text whole."""

import pytest

from harness import make_file
from texts import received_text, sent_text

@pytest.mark.parametrize("name,first,size", [
    ("rom.gb", 0xC9, 700), ("bank.tp2", 0x24, 5000), ("bank.tp1", 0xAB, 1500), ("notes.txt", 0x41, 300)])
def test_send(transport, sim, tmp_path, name, first, size):
    data = make_file(tmp_path / name, first, size)
    s = sim("--save", tmp_path / "uploaded")
    run = transport.run("-send", tmp_path / name, stdin=None)  # as CI runs it: no input at all
    s.stop()
    assert run.out == transport.opened() + sent_text(first, tmp_path / name, size)
    assert run.status == 0
    assert (tmp_path / "uploaded").read_bytes() == data


def test_multiboot(transport, sim, tmp_path):
    """A full 256 KiB image: the simulated console decrypts it and checks its checksum."""
    data = make_file(tmp_path / "game.gba", 0x2E, 262144)
    s = sim("--gba-client", "0xF7", "--gba-length", "0x5C", "--gba-wait", "3",
            "--gba-save", tmp_path / "image")
    run = transport.run("-send", tmp_path / "game.gba")
    assert "multiboot image accepted: decrypted, checksum right" in s.stop()
    assert (tmp_path / "image").read_bytes() == data
    assert run.out == transport.opened() + (
        f"\nLoaded GBA ROM: {tmp_path / 'game.gba'}\n\n"
        "Start GBA and press START + SELECT, so that the Nintendo logo disappears.\n\n\r"
        "Connection OK, logo should re-appear now.\n\n\rSending ROM (press ctrl-c to cancel):\n\n\r"
        + "".join(f"\r{k}k of 256k sent" for k in range(1, 257))
        + "\nTransfer complete.\n\n\rThe trackpod logo should appear now.\n\n\r"
        "Keep B pressed and press START + SELECT to install the update.\n"
        "After a successful update, trackpod will re-start.\n\n\n")


def test_receive(transport, sim, tmp_path):
    data = make_file(tmp_path / "sent.tp2", 0x24, 3000)
    sim("--bank", tmp_path / "sent.tp2")
    run = transport.run("-receive", tmp_path / "received.tp2")
    assert run.out == transport.opened() + received_text(3000)
    assert (tmp_path / "received.tp2").read_bytes() == data
