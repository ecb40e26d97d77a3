#!/usr/bin/env python3
"""Makes tpmidi01.html: the page's script, and its WebAssembly gzip-compressed in base64 (which
src/web/load.js unpacks), put where the page says {{{ SCRIPT }}}. One file that asks nothing
of any server.
    python3 scripts/web-page.py PAGE.html CORE.js CORE.wasm OUT.html"""

import base64
import gzip
import sys
from pathlib import Path

page, script, wasm, out = (Path(a) for a in sys.argv[1:5])
code = script.read_text(encoding="utf-8")
if "</script" in code:
    sys.exit(f"web-page.py: {script} holds </script, which would end the page's script early")
# No time stamp in the header: the same bytes at every build.
packed = base64.b64encode(gzip.compress(wasm.read_bytes(), compresslevel=9, mtime=0)).decode("ascii")
html = page.read_text(encoding="utf-8").replace(
    "{{{ SCRIPT }}}", f'<script>var tpWasmGz = "{packed}";</script>\n<script>\n{code}\n</script>')
out.write_text(html, encoding="utf-8")
