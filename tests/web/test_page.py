"""The page's one file, tpmidi01.html, as scripts/web.sh builds it: small, asking nothing of any
server, and with every control the tests and screen readers find by its name."""

import os
import re
from pathlib import Path

PAGE = Path(os.environ.get("TPMIDI_WEB_BUILD", Path(__file__).resolve().parents[2] / "build-web")) / "tpmidi01.html"
NAMES = ["Connect", "MIDI input", "MIDI output", "File to send", "Send", "Save as", "Receive", "Sync mode",
         "MIDI mode", "Delay", "MIDI receive mode", "As trackpod's default", "Check the interface", "Continue",
         "Cancel", "Save"]


def test_the_page_is_one_small_file_that_loads_nothing():
    html = PAGE.read_text(encoding="utf-8")
    assert len(PAGE.read_bytes()) <= 500_000
    # No element or style that a browser would fetch: no src or href, no stylesheet link, no import.
    assert not re.search(r"<[^>]+\s(src|href)\s*=", html, re.I)
    assert not re.search(r"<link\b|@import", html, re.I)
    assert "url(" not in html[html.index("<style>"):html.index("</style>")]
    # The WebAssembly is inside, unpacked by the page itself, not looked for beside it.
    assert "var tpWasmGz = \"" in html and "Module.instantiateWasm" in html


def test_every_control_has_its_name():
    html = PAGE.read_text(encoding="utf-8")
    for name in NAMES:
        label = name.replace("'", "(&#39;|')")
        assert re.search(rf">\s*{label}\s*(<|$)", html, re.M), name
    assert 'role="log"' in html
