"""The page in a real browser (Chromium's headless shell), driven by its controls' names: every
kind of job against the simulated handheld behind a stand-in for Web MIDI. Each step's screen
is saved in build-web/screenshots (docs/web.md shows them)."""

import os
from pathlib import Path

import pytest

from browser import page_in_browser
from test_core import BUILD

SHOTS = BUILD / "screenshots"


@pytest.fixture(scope="module")
def page(tmp_path_factory):
    SHOTS.mkdir(exist_ok=True)
    work = tmp_path_factory.mktemp("browser")
    with page_in_browser(BUILD, work) as browser:
        browser.work = work
        browser.press("Connect")
        browser.wait_for("document.getElementById('output').value !== ''")
        browser.screenshot(SHOTS / "1-connected.png")
        yield browser


def test_a_mode_switch(page):
    page.evaluate("tpStandIn.handheld(new Uint8Array(0), 0)")
    page.press("MIDI receive mode")
    page.wait_for("document.querySelector('[role=log]').innerText.includes('MIDI receive mode activated.')")
    page.screenshot(SHOTS / "2-mode.png")
    assert page.evaluate("tpStandIn.commands()") == 1


def test_a_bank_sent(page, tmp_path):
    bank = bytes([0x24]) + os.urandom(4095)
    (tmp_path / "song.tp2").write_bytes(bank)
    page.evaluate("tpStandIn.handheld(new Uint8Array(0), 0)")
    page.choose_file("File to send", tmp_path / "song.tp2")
    page.press("Send")
    page.wait_for("!document.getElementById('continue').hidden")
    page.screenshot(SHOTS / "3-send-asks.png")
    page.press("Continue")
    page.wait_for("document.querySelector('[role=log]').innerText.endsWith('done')")
    page.screenshot(SHOTS / "4-sent.png")
    assert bytes(page.evaluate("Array.from(tpStandIn.uploaded())")) == bank


@pytest.mark.parametrize("hole_after, saved", [(0, "bank.tp2"), (500, "bank.tp2.part")])
def test_a_bank_received(page, hole_after, saved):
    bank = bytes([0x24]) + os.urandom(1500)
    page.evaluate(f"tpStandIn.handheld(new Uint8Array({list(bank)}), {hole_after})")
    page.press("Receive")
    page.wait_for("!document.getElementById('save').hidden", seconds=120)
    page.screenshot(SHOTS / f"5-received-{saved}.png")
    assert page.evaluate("document.getElementById('offer').innerText").endswith(saved + ".")
    page.press("Save")
    download = Path(page.work) / saved
    page.wait_for(f"true", seconds=1)
    for _ in range(100):
        if download.exists() and not Path(str(download) + ".crdownload").exists():
            break
        page.wait_for("new Promise(r => setTimeout(() => r(true), 100))")
    data = download.read_bytes()
    assert data == (bank if not hole_after else bank[:hole_after] + bank[hole_after + 3:])


@pytest.mark.parametrize("change_every, verdict", [(0, "The interface passes"), (3, "The interface fails")])
def test_the_interface_check(page, change_every, verdict):
    page.evaluate(f"tpStandIn.cable({change_every})")
    page.press("Check the interface")
    page.wait_for("!document.getElementById('continue').hidden")
    page.press("Continue")
    page.wait_for(f"document.querySelector('[role=log]').innerText.includes({verdict!r})", seconds=120)
    page.screenshot(SHOTS / f"6-check-{change_every}.png")
