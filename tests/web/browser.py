"""A real browser driving the page as a person would: Chromium's headless shell over the DevTools
protocol, each control found by its accessible name. Its Web MIDI is the stand-in of
tests/web/stand_in.js, the simulated handheld behind it, where no MIDI system is at hand."""

import base64
import contextlib
import functools
import http.server
import json
import os
import shutil
import subprocess
import threading
import time
import urllib.request
from pathlib import Path

import websocket

HEADLESS = shutil.which("chromium-headless-shell") or "/usr/lib/chromium/chromium-headless-shell"


class Browser:
    def __init__(self, socket_url):
        self.ws = websocket.create_connection(socket_url, timeout=60)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, expression, seconds=60):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.evaluate(expression):
                return
            time.sleep(0.1)
        raise AssertionError(f"not so after {seconds} s: {expression}\nthe log: {self.log()}")

    def control(self, name, role=None):
        """The backend node of the one control with this accessible name (and role)."""
        nodes = [n for n in self.call("Accessibility.getFullAXTree")["nodes"]
                 if not n.get("ignored") and n.get("name", {}).get("value") == name
                 and n["role"]["value"] not in ("StaticText", "InlineTextBox") and role in (None, n["role"]["value"])]
        assert len(nodes) == 1, f"{len(nodes)} controls named {name!r}"
        return nodes[0]["backendDOMNodeId"]

    def press(self, name):
        node = self.call("DOM.resolveNode", backendNodeId=self.control(name, "button"))["object"]
        self.call("Runtime.callFunctionOn", objectId=node["objectId"], functionDeclaration="function () { this.click(); }")

    def choose(self, name, option):
        """Picks the option of that text in the list of that name, as a user does."""
        node = self.call("DOM.resolveNode", backendNodeId=self.control(name, "combobox"))["object"]
        self.call("Runtime.callFunctionOn", objectId=node["objectId"], arguments=[{"value": option}],
                  functionDeclaration="""function (text) {
                      this.value = [...this.options].find(o => o.text === text).value;
                      this.dispatchEvent(new Event('change'));
                  }""")

    def choose_file(self, name, path):
        self.call("DOM.setFileInputFiles", files=[str(path)], backendNodeId=self.control(name))

    def log(self):
        return self.evaluate("document.querySelector('[role=log]').innerText")

    def screenshot(self, path):
        Path(path).write_bytes(base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"]))


def prepare_guest():
    """What Chromium needs of scripts/vm-run's guest to see its MIDI ports: the loopback network
    for DevTools and the page, and udev's tags on the sound devices."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["/lib/systemd/systemd-udevd", "--daemon"], check=True, capture_output=True)
    env = {**os.environ, "SYSTEMD_IGNORE_CHROOT": "1"}
    subprocess.run(["udevadm", "trigger"], check=True, env=env)
    subprocess.run(["udevadm", "settle"], check=False, env=env, capture_output=True)


@contextlib.contextmanager
def page_in_browser(build, work, stand_in=True):
    """The page served on 127.0.0.1, open in a fresh headless Chromium: its MIDI the stand-in's,
    or the MIDI system's, with System Exclusive allowed as a user allows it."""
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=str(build))
    handler.log_message = lambda *args: None
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    chromium = subprocess.Popen([HEADLESS, "--no-sandbox", "--remote-debugging-port=0", f"--user-data-dir={work}/profile",
                                 "--window-size=800,1000", "about:blank"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        port_file = Path(work) / "profile" / "DevToolsActivePort"
        deadline = time.monotonic() + 180
        while not port_file.exists() or not port_file.read_text().strip():
            assert time.monotonic() < deadline and chromium.poll() is None, "Chromium gave no DevTools port"
            time.sleep(0.1)
        port = port_file.read_text().split()[0]
        targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list"))
        browser = Browser(next(t for t in targets if t["type"] == "page")["webSocketDebuggerUrl"])
        origin = f"http://127.0.0.1:{server.server_address[1]}"
        browser.call("Page.enable")
        if stand_in:
            here = Path(__file__).parent
            source = (build / "trackpod-sim-node.js").read_text() + (here / "stand_in.js").read_text() + """
                window.tpFar = loadFarEnd().then(far => (window.tpStandIn = makeStandIn(far)));
                navigator.requestMIDIAccess = async () => (await window.tpFar).access;
            """
            browser.call("Page.addScriptToEvaluateOnNewDocument", source=source)
        else:
            browser.call("Browser.grantPermissions", origin=origin, permissions=["midi", "midiSysex"])
        browser.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=str(work))
        browser.call("Page.navigate", url=f"{origin}/tpmidi01.html")
        browser.wait_for("typeof Module !== 'undefined' && Module.calledRun === true" +
                         (" && !!window.tpStandIn" if stand_in else ""), seconds=180)
        yield browser
    finally:
        chromium.kill()
        chromium.wait()
        server.shutdown()
