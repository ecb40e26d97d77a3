"""A real browser driving the page as a person would, each control found by its accessible name:
Chromium's headless shell over the DevTools protocol, or Firefox ESR over WebDriver BiDi. Its
Web MIDI is the stand-in of tests/web/stand_in.js, the simulated handheld behind it, where no
MIDI system is at hand."""

import base64
import contextlib
import functools
import http.server
import json
import os
import shutil
import signal
import subprocess
import threading
import time
import urllib.request
from pathlib import Path

import websocket

HEADLESS = shutil.which("chromium-headless-shell") or "/usr/lib/chromium/chromium-headless-shell"
FIREFOX = shutil.which("firefox-esr") or "/usr/bin/firefox-esr"
# Selects the option of that text in a list, as a user does.
CHOOSE = """function (text) {
    this.value = [...this.options].find(o => o.text === text).value;
    this.dispatchEvent(new Event('change'));
}"""


class PageCrashed(RuntimeError):
    """The page's renderer stopped; the message says what the browser and the kernel said."""


ANSWER_SECONDS = 120  # how long a command may wait for the browser's answer


class Protocol:
    """Commands and their answers over one WebSocket: the DevTools protocol's or WebDriver BiDi's."""

    def __init__(self, socket_url, said=None):
        # No Origin header: Firefox refuses a WebSocket that comes from a page.
        self.ws = websocket.create_connection(socket_url, timeout=ANSWER_SECONDS, suppress_origin=True)
        self.next_id, self.said = 0, said  # the file of what the browser says, if it has one

    def send(self, method, **params):
        """A command, its answer left unread: one that waits on the user would wait forever."""
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))

    def call(self, method, **params):
        self.send(method, **params)
        while True:
            try:
                reply = json.loads(self.ws.recv())
            except websocket.WebSocketTimeoutException:
                raise RuntimeError(f"{method}: no answer from the browser in {ANSWER_SECONDS} s{self.told()}") from None
            if reply.get("method") == "Inspector.targetCrashed":
                raise PageCrashed(f"{method}: the page crashed{self.told()}")
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']} {reply.get('message', '')}")
                return reply["result"]

    def told(self):
        """What the browser and the kernel said last: a page killed leaves its cause there."""
        said = Path(self.said).read_text()[-3000:] if self.said else ""
        kernel = subprocess.run(["dmesg"], capture_output=True, text=True).stdout[-2000:]
        return f"; the browser said:\n{said}\nthe kernel said:\n{kernel}"

    def event(self, name, seconds):
        """The next event of that name, read as it comes, or None if none came in time or
        the tab is gone."""
        deadline = time.monotonic() + seconds
        try:
            while (left := deadline - time.monotonic()) > 0:
                # Read, not asked: a page that shows a question answers nothing meanwhile.
                self.ws.settimeout(left)
                reply = json.loads(self.ws.recv())
                if reply.get("method") == name:
                    return reply["params"]
        except (websocket.WebSocketTimeoutException, websocket.WebSocketConnectionClosedException):
            pass
        finally:
            self.ws.settimeout(ANSWER_SECONDS)
        return None

    def wait_for(self, expression, seconds=60):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.evaluate(expression):
                return
            time.sleep(0.1)
        raise AssertionError(f"not so after {seconds} s: {expression}\nthe log: {self.log()}")

    def log(self):
        return self.evaluate("document.querySelector('[role=log]').innerText")

    def press(self, name):
        self.on_control(name, "button", "function () { this.click(); }")

    def choose(self, name, option):
        self.on_control(name, "combobox", CHOOSE, option)


class Browser(Protocol):
    """Chromium's headless shell: one page's DevTools target."""
    partial = ".crdownload"  # what a download is called until it is whole

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def control(self, name, role=None):
        """The backend node of the one control with this accessible name (and role)."""
        nodes = [n for n in self.call("Accessibility.getFullAXTree")["nodes"]
                 if not n.get("ignored") and n.get("name", {}).get("value") == name
                 and n["role"]["value"] not in ("StaticText", "InlineTextBox") and role in (None, n["role"]["value"])]
        assert len(nodes) == 1, f"{len(nodes)} controls named {name!r}"
        return nodes[0]["backendDOMNodeId"]

    def on_control(self, name, role, function, *arguments):
        node = self.call("DOM.resolveNode", backendNodeId=self.control(name, role))["object"]
        result = self.call("Runtime.callFunctionOn", objectId=node["objectId"], functionDeclaration=function,
                           arguments=[{"value": a} for a in arguments], userGesture=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{name}: {result['exceptionDetails']}")

    def choose_file(self, name, path):
        self.call("DOM.setFileInputFiles", files=[str(path)], backendNodeId=self.control(name))

    def screenshot(self, path):
        Path(path).write_bytes(base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"]))

    def close_tab(self):
        """The user closes the tab and, if asked, stays: what the page asked, or None."""
        self.send("Page.close")
        asked = self.event("Page.javascriptDialogOpening", seconds=5)
        if asked:
            self.call("Page.handleJavaScriptDialog", accept=False)
        return asked and asked["type"]

    def key(self, name):
        """A key pressed and let go, as from a keyboard: Tab or Enter."""
        code = {"Tab": 9, "Enter": 13}[name]
        self.call("Input.dispatchKeyEvent", type="keyDown", key=name, code=name, windowsVirtualKeyCode=code,
                  **({"text": "\r"} if name == "Enter" else {}))
        self.call("Input.dispatchKeyEvent", type="keyUp", key=name, code=name, windowsVirtualKeyCode=code)

    def viewport(self, width=None, height=None):
        """A phone's screen of that size, or the window's own again."""
        if width:
            self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1, mobile=True)
        else:
            self.call("Emulation.clearDeviceMetricsOverride")


class Firefox(Protocol):
    """Firefox over WebDriver BiDi: one session, its one tab."""
    partial = ".part"

    def __init__(self, socket_url):
        super().__init__(socket_url)
        self.call("session.new", capabilities={})
        self.context = self.call("browsingContext.getTree")["contexts"][0]["context"]
        self.target = {"context": self.context}

    def evaluate(self, expression):
        result = self.call("script.evaluate", expression=expression, target=self.target, awaitPromise=True,
                           serializationOptions={"maxObjectDepth": 2})
        if result["type"] != "success":
            raise RuntimeError(f"{expression}: {result['exceptionDetails']['text']}")
        return plain(result["result"])

    def control(self, name, role=None):
        """The shared reference of the one control with this accessible name (and role)."""
        value = {"name": name, **({"role": role} if role else {})}
        nodes = self.call("browsingContext.locateNodes", context=self.context,
                          locator={"type": "accessibility", "value": value})["nodes"]
        assert len(nodes) == 1, f"{len(nodes)} controls named {name!r}"
        return {"sharedId": nodes[0]["sharedId"]}

    def on_control(self, name, role, function, *arguments):
        result = self.call("script.callFunction", functionDeclaration=function, target=self.target, awaitPromise=False,
                           this=self.control(name, role), arguments=[{"type": "string", "value": a} for a in arguments])
        if result["type"] != "success":
            raise RuntimeError(f"{name}: {result['exceptionDetails']['text']}")

    def choose_file(self, name, path):
        # Firefox names a file input by its label, then its button's text and what it holds.
        held = self.evaluate("(i => i.files.length ? i.files[0].name : 'No file selected.')"
                             "(document.querySelector('input[type=file]'))")
        element = self.control(f"{name} Browse… {held}")
        self.call("input.setFiles", context=self.context, element=element, files=[str(path)])

    def screenshot(self, path):
        Path(path).write_bytes(base64.b64decode(self.call("browsingContext.captureScreenshot", context=self.context)["data"]))

    def key(self, name):
        value = {"Tab": "\ue004", "Enter": "\ue006"}[name]  # WebDriver's codes for them
        self.call("input.performActions", context=self.context, actions=[
            {"type": "key", "id": "keyboard", "actions": [{"type": "keyDown", "value": value}, {"type": "keyUp", "value": value}]}])

    def viewport(self, width=None, height=None):
        self.call("browsingContext.setViewport", context=self.context,
                  viewport={"width": width, "height": height} if width else None)


def plain(remote):
    """A value of WebDriver BiDi's serialization, as Python's."""
    kind, value = remote["type"], remote.get("value")
    if kind == "array":
        return [plain(v) for v in value]
    if kind == "object":
        return {k: plain(v) for k, v in value}
    return None if kind in ("undefined", "null") else value


def prepare_guest():
    """What Chromium needs of scripts/vm-run's guest to see its MIDI ports: the loopback network
    for DevTools and the page, and udev's tags on the sound devices."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["/lib/systemd/systemd-udevd", "--daemon"], check=True, capture_output=True)
    env = {**os.environ, "SYSTEMD_IGNORE_CHROOT": "1"}
    subprocess.run(["udevadm", "trigger"], check=True, env=env)
    subprocess.run(["udevadm", "settle"], check=False, env=env, capture_output=True)


# Firefox's own: Web MIDI given to a page as a user gives it, with no prompt, and real ports,
# not its fake ones; downloads saved where the test looks, unasked.
FIREFOX_PREFS = {"dom.webmidi.enabled": True, "dom.webmidi.gated": False, "midi.prompt.testing": True,
                 "media.navigator.permission.disabled": True, "midi.testing": False,
                 "browser.download.folderList": 2, "browser.download.useDownloadDir": True,
                 "browser.download.always_ask_before_handling_new_types": False,
                 "browser.download.start_downloads_in_tmp_dir": False}


def stand_in_source(build):
    here = Path(__file__).parent
    return (build / "trackpod-sim-node.js").read_text() + (here / "stand_in.js").read_text() + """
        window.tpFar = loadFarEnd().then(far => (window.tpStandIn = makeStandIn(far)));
        navigator.requestMIDIAccess = async () => (await window.tpFar).access;
    """


def start_chromium(work, origin, stand_in, source, started):
    port_file = Path(work) / "profile" / "DevToolsActivePort"
    port_file.unlink(missing_ok=True)  # a browser started before in this profile left it
    # What it says goes to a file: a pipe left unread would stop it once full.
    with (Path(work) / "chromium.err").open("w") as said:
        chromium = subprocess.Popen([HEADLESS, "--no-sandbox", "--remote-debugging-port=0",
                                     f"--user-data-dir={work}/profile", "--window-size=800,1000", "about:blank"],
                                    stdout=subprocess.DEVNULL, stderr=said, start_new_session=True)
    started.append(chromium)
    deadline = time.monotonic() + 180
    while not port_file.exists() or not port_file.read_text().strip():
        assert time.monotonic() < deadline and chromium.poll() is None, "Chromium gave no DevTools port"
        time.sleep(0.1)
    port = port_file.read_text().split()[0]
    targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list"))
    browser = Browser(next(t for t in targets if t["type"] == "page")["webSocketDebuggerUrl"], Path(work) / "chromium.err")
    browser.call("Page.enable")
    browser.call("Inspector.enable")  # so that a crash is told
    if stand_in:
        browser.call("Page.addScriptToEvaluateOnNewDocument", source=source)
    else:
        browser.call("Browser.grantPermissions", origin=origin, permissions=["midi", "midiSysex"])
    browser.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=str(work))
    browser.call("Page.navigate", url=f"{origin}/tpmidi01.html")
    return browser


def start_firefox(work, origin, stand_in, source, started):
    profile = Path(work) / "firefox-profile"
    profile.mkdir()
    prefs = {**FIREFOX_PREFS, "browser.download.dir": str(work)}
    (profile / "user.js").write_text("".join(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n" for k, v in prefs.items()))
    firefox = subprocess.Popen([FIREFOX, "--headless", "--no-remote", "--profile", str(profile), "--remote-debugging-port",
                                "0", "--width", "800", "--height", "1000", "about:blank"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, start_new_session=True)
    started.append(firefox)
    deadline, said = time.monotonic() + 180, ""
    while "WebDriver BiDi listening on " not in said:
        line = firefox.stderr.readline()
        assert line and time.monotonic() < deadline, f"Firefox gave no WebDriver BiDi address: {said}"
        said += line
    address = said.split("WebDriver BiDi listening on ")[1].split()[0]
    threading.Thread(target=firefox.stderr.read, daemon=True).start()  # what else it says, unread
    browser = Firefox(address + "/session")
    if stand_in:
        browser.call("script.addPreloadScript", functionDeclaration="() => {" + source + "}")
    browser.call("browsingContext.navigate", context=browser.context, url=f"{origin}/tpmidi01.html", wait="complete")
    return browser


@contextlib.contextmanager
def page_in_browser(build, work, stand_in=True, kind="chromium"):
    """The page served on 127.0.0.1, open in a fresh headless Chromium or Firefox: its MIDI the
    stand-in's, or the MIDI system's, with System Exclusive allowed as a user allows it."""
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=str(build))
    handler.log_message = lambda *args: None
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    origin = f"http://127.0.0.1:{server.server_address[1]}"
    start = start_firefox if kind == "firefox" else start_chromium
    started = []

    def opened():
        browser = start(work, origin, stand_in, stand_in_source(build) if stand_in else "", started)
        browser.wait_for("typeof Module !== 'undefined' && Module.calledRun === true" +
                         (" && !!window.tpStandIn" if stand_in else ""), seconds=180)
        return browser

    def stop():
        # The whole group: Debian's chromium-headless-shell is a script that does not exec,
        # and a browser left running keeps its MIDI ports (it took the USB gadget's side).
        for process in started:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        started.clear()

    def restart():
        """A fresh browser in this one's place, the page loaded anew; what the test set on
        this one is kept."""
        stop()
        browser.__dict__.update(opened().__dict__)

    try:
        browser = opened()
        browser.restart = restart
        yield browser
    finally:
        stop()
        server.shutdown()
