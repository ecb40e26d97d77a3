"""The page in real browsers, Chromium's headless shell and Firefox ESR, driven by its controls'
names as a person would: a mode switch, a 2.5 bank sent, a bank received whole and with a
hole, and the interface check through an intact and a faulty cable. On this machine its Web
MIDI is the stand-in of stand_in.js, the simulated handheld behind it; in scripts/vm-run's
guest it is the browser's own, over the ALSA sequencer, and the far end is peer.py, a
handheld written apart from the simulator: with E2E_TRANSPORT=alsa on the VirMIDI card's
port (Chromium calls it "VirMIDI 0-0", Firefox "Virtual Raw MIDI 0-0:VirMIDI 0-0 16:0");
with E2E_TRANSPORT=usb behind the VM's USB MIDI interface, whose port the page chooses by
itself, in Firefox only. Each
step's screen is saved in build-web/screenshots-BROWSER (docs/web.md shows them)."""

import os
from pathlib import Path

import pytest

from browser import page_in_browser, prepare_guest
from test_core import BUILD  # also puts the end-to-end harness on the path
from harness import UsbInterface, wait_until  # noqa: E402

# alsa: the VirMIDI card; usb: the VM's USB MIDI interface, plugged in for the module.
TRANSPORT = os.environ.get("E2E_TRANSPORT", "")
IN_VM = TRANSPORT in ("alsa", "usb")
LOG = "document.querySelector('[role=log]').innerText"


class StandIn:
    """The simulated handheld behind the stand-in for Web MIDI, inside the page."""

    def __init__(self, page):
        self.page = page

    def handheld(self, bank=b"", hole_after=0):
        self.page.evaluate(f"tpStandIn.handheld(new Uint8Array({list(bank)}), {hole_after})")

    def cable(self, change_every):
        self.page.evaluate(f"tpStandIn.cable({change_every})")

    def uploaded(self):
        return bytes(self.page.evaluate("Array.from(tpStandIn.uploaded())"))

    def commands(self):
        return self.page.evaluate("tpStandIn.commands()")


class RawPeer:
    """peer.py on a raw MIDI device: the VirMIDI card's, which the browser lists as "VirMIDI
    0-0", or the far side of the USB interface, whose port's name begins with "trackpod"."""

    def __init__(self, device):
        from peer import Peer
        self.peer = Peer(device)
        self.handheld, self.cable = self.peer.handheld, self.peer.cable

    def uploaded(self):
        return bytes(self.peer.uploaded)

    def commands(self):
        return self.peer.commands


GUEST_PREPARED = []


@pytest.fixture(scope="module")
def usb():
    interface = UsbInterface()
    interface.plug()
    yield interface
    interface.unplug()


@pytest.fixture(scope="module", params=["chromium", "firefox"])
def page(request, tmp_path_factory):
    if TRANSPORT == "usb" and request.param == "chromium":
        pytest.skip("Chromium's messages do not leave through the VM's USB interface (docs/web.md)")
    work = tmp_path_factory.mktemp(request.param)
    if IN_VM and not GUEST_PREPARED:
        prepare_guest()
        GUEST_PREPARED.append(True)
    # The peer holds its raw device before the browser starts: a browser that reaches the
    # sequencer first may open the USB gadget's own side, through its sequencer port.
    peer = RawPeer(request.getfixturevalue("usb").raw_device() if TRANSPORT == "usb" else "/dev/snd/midiC0D0") \
        if IN_VM else None
    with page_in_browser(BUILD, work, stand_in=not IN_VM, kind=request.param) as browser:
        browser.work = work
        browser.shots = BUILD / f"screenshots{'-' + TRANSPORT if IN_VM else ''}-{request.param}"
        browser.shots.mkdir(exist_ok=True)
        browser.far = peer or StandIn(browser)
        browser.press("Connect")
        if TRANSPORT == "alsa":  # several ports, none named trackpod: the user picks the card's, as the browser names it
            browser.wait_for("document.getElementById('output').options.length > 1")
            port = browser.evaluate("[...document.getElementById('output').options].map(o => o.text)"
                                    ".find(name => name.includes('VirMIDI 0-0'))")
            browser.choose("MIDI input", port)
            browser.choose("MIDI output", port)
        browser.wait_for("document.getElementById('output').value !== ''")
        browser.screenshot(browser.shots / "1-connected.png")
        yield browser
    if peer:
        peer.peer.close()


def test_a_mode_switch(page):
    page.far.handheld()
    page.press("MIDI receive mode")
    page.wait_for(f"{LOG}.includes('MIDI receive mode activated.')")
    page.screenshot(page.shots / "2-mode.png")
    assert page.far.commands() == 1


def test_a_bank_sent(page, tmp_path):
    bank = bytes([0x24]) + os.urandom(4095)
    (tmp_path / "song.tp2").write_bytes(bank)
    page.far.handheld()
    page.choose_file("File to send", tmp_path / "song.tp2")
    page.press("Send")
    page.wait_for("!document.getElementById('continue').hidden")
    page.screenshot(page.shots / "3-send-asks.png")
    page.press("Continue")
    page.wait_for(f"{LOG}.endsWith('done')", seconds=180)
    page.screenshot(page.shots / "4-sent.png")
    assert page.far.uploaded() == bank


@pytest.mark.parametrize("hole_after, saved", [(0, "bank.tp2"), (500, "bank.tp2.part")])
def test_a_bank_received(page, hole_after, saved):
    bank = bytes([0x24]) + os.urandom(1500)
    page.far.handheld(bank, hole_after)
    page.press("Receive")
    page.wait_for("!document.getElementById('save').hidden", seconds=180)
    page.screenshot(page.shots / f"5-received-{saved}.png")
    assert page.evaluate("document.getElementById('offer').innerText").endswith(saved + ".")
    assert ("error" in page.log().split("\n")) == bool(hole_after)
    page.press("Save")
    download, kept = Path(page.work) / saved, bank if not hole_after else bank[:hole_after] + bank[hole_after + 3:]
    # Firefox makes the file, empty, before it writes what it saves into NAME.part.
    wait_until(lambda: download.exists() and download.stat().st_size >= len(kept)
               and not Path(f"{download}{page.partial}").exists(), 10)
    assert download.read_bytes() == kept


@pytest.mark.parametrize("change_every, verdict", [(0, "The interface passes"), (3, "The interface fails")])
def test_the_interface_check(page, change_every, verdict):
    page.far.cable(change_every)
    page.press("Check the interface")
    page.wait_for("!document.getElementById('continue').hidden")
    page.press("Continue")
    page.wait_for(f"{LOG}.includes({verdict!r})", seconds=300)
    page.screenshot(page.shots / f"6-check-{change_every}.png")
