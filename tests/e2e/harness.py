"""The real tpmidi01 against the simulator program over a real MIDI system, in plain Python
so that scripts can use it too. E2E_TRANSPORT: jack (a private JACK server, the default),
alsa (the ALSA sequencer, in scripts/vm-run's guest) or usb (there, through its USB MIDI
interface). A TPMIDI ending in .exe runs under Wine, whose WinMM maps ALSA's ports."""

import contextlib
import itertools
import os
import re
import signal
import subprocess
import sys
import time
from collections import namedtuple
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
WINE = "/usr/lib/wine/wine64"
SANITIZER_REPORT = re.compile(r"Sanitizer|runtime error:")
RUN_LIMIT_S = 900  # a guard against a hang: an emulated receive's silence alone takes minutes
PROMPT = "Please choose a port number: "
GADGET = Path("/sys/kernel/config/usb_gadget/trackpod")
CARDS = Path("/proc/asound/cards")
_runs = itertools.count()


def wait_until(predicate, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and not predicate():
        time.sleep(step)
    return predicate()


class Process:
    """A program with its output in files (under Wine, helpers that outlive it inherit the
    output, so a pipe would not end with it). stdin: the text typed, then closed unless
    keep_open; None: no input at all."""

    def __init__(self, command, work, name, stdin=None, keep_open=False, env=None):
        self.paths = Path(work, name + ".out"), Path(work, name + ".err")

        def as_from_a_terminal():  # where Ctrl-C ends a program, though a script started the tests
            signal.signal(signal.SIGINT, signal.SIG_DFL)
            if stdin is None:
                os.close(0)

        with open(self.paths[0], "wb") as out, open(self.paths[1], "wb") as err:
            self.process = subprocess.Popen([str(a) for a in command], stdout=out, stderr=err,
                                            stdin=subprocess.DEVNULL if stdin is None else subprocess.PIPE,
                                            preexec_fn=as_from_a_terminal, env=env and {**os.environ, **env})
        if stdin is not None:
            self.type(stdin)
            if not keep_open:
                self.process.stdin.close()

    def type(self, text):
        with contextlib.suppress(BrokenPipeError):
            self.process.stdin.write(text.encode())
            self.process.stdin.flush()

    def out(self, stream=0):
        return self.paths[stream].read_bytes().decode(errors="replace")

    def err(self):
        return self.out(1)

    def running(self):
        return self.process.poll() is None

    def kill(self):  # as a pulled cable would: no chance to close its ports
        self.process.kill()
        self.process.wait()

    def wait(self, limit):
        if self.process.stdin:
            self.process.stdin.close()
        try:
            self.process.wait(limit)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError(f"{self.process.args} did not end within {limit} s")

    def stop(self):  # SIGTERM: a simulator closes its ports, then writes its files and summary
        self.process.terminate()
        with contextlib.suppress(AssertionError):
            self.wait(30)
        return self.out()


def start_simulator(binary, work, args):
    """Waited for until it says its ports are open, not by asking the MIDI system: every
    short-lived client can leave a synchronous JACK server dropping the next one's messages."""
    sim = Process([binary, *args], work, "sim", stdin="")
    wait_until(lambda: " ready on " in sim.out() or not sim.running(), 10)
    if " ready on " not in sim.out():
        sim.stop()
        raise RuntimeError("the simulator did not come up: " + sim.err())
    return sim


# out: standard output, the numbers that ALSA and WinMM add to the names opened taken out
Run = namedtuple("Run", "out err status")


class Transport:
    def __init__(self, tpmidi, sim, work, name=None):
        self.tpmidi, self.sim_binary, self.work = Path(tpmidi), Path(sim), Path(work)
        self.name = name or os.environ.get("E2E_TRANSPORT", "jack")
        self.wine = self.tpmidi.suffix == ".exe"
        self.command = [WINE, str(self.work / self.tpmidi.name)] if self.wine else [str(self.tpmidi)]
        self.jackd = None

    def start(self):
        if self.name == "jack" and not self.wine:
            self.start_jack()
        elif self.name not in ("alsa", "usb") or not os.path.exists("/dev/snd/seq"):
            raise RuntimeError(f"E2E_TRANSPORT={self.name}: jack here, alsa or usb in the VM")
        self.plug()
        if self.wine:
            self.wine_setup(self.tpmidi)

    def stop(self):
        if self.jackd:
            self.jackd.stop()
        self.unplug()
        if self.wine:
            subprocess.run([WINE.replace("wine64", "wineserver"), "-k"], capture_output=True)

    def start_jack(self):
        """Short periods: an exchange takes well under a millisecond. -S: without it messages
        get lost when both cores are busy. -t 200: a client that misses the default two periods
        (0.7 ms) to finish a cycle or to close leaves the server dropping messages; 200 ms
        still drops a killed client within about 4 s."""
        os.environ.update(JACK_DEFAULT_SERVER=f"tpmidi-{os.getpid()}", JACK_NO_AUDIO_RESERVATION="1")
        self.jackd = Process(["jackd", "-S", "-t", "200", "-n", os.environ["JACK_DEFAULT_SERVER"],
                              "-d", "dummy", "-r", "48000", "-p", "16"], self.work, f"jackd{next(_runs)}", stdin="")
        if subprocess.run(["jack_wait", "-w", "-t", "20"], capture_output=True).returncode != 0:
            raise RuntimeError("the JACK server did not start")

    def restart(self):
        """A fresh JACK server after a client was killed without closing, which can leave it
        dropping messages; a USB interface plugged out and in, dropping what it still held."""
        if self.jackd:
            self.stop()
            self.start_jack()
        elif self.name == "usb":
            self.unplug()
            self.plug()

    def wine_setup(self, *programs):
        """One Wine server for every run (each start costs seconds in the VM); the programs
        copied to the guest's tmpfs: Wine cannot map an image from 9p."""
        os.environ.update(WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
        os.environ.setdefault("WINEPREFIX", str(self.tpmidi.parent / "wine"))
        for program in programs:
            Path(self.work, Path(program).name).write_bytes(Path(program).read_bytes())
        subprocess.run([WINE.replace("wine64", "wineserver"), "-p"], check=True)

    # --- the USB interface: the gadget bound to its controller, or not; nothing on other transports
    @property
    def raw_device(self):  # the gadget's side; its card ("gadget") is renumbered at each plug
        if self.name == "usb":
            return "/dev/snd/midiC%sD0" % os.readlink("/proc/asound/gadget").removeprefix("card")
        return None

    def unplug(self):
        if self.name == "usb" and (GADGET / "UDC").read_text().strip():
            (GADGET / "UDC").write_text("\n")
            assert wait_until(lambda: "trackpod MIDI" not in CARDS.read_text(), 10)

    def plug(self):
        if self.name == "usb" and not (GADGET / "UDC").read_text().strip():
            (GADGET / "UDC").write_text("dummy_udc.0\n")
            assert wait_until(lambda: "trackpod MIDI" in CARDS.read_text() and os.path.exists(
                "/proc/asound/gadget") and os.path.exists(self.raw_device), 10)
            time.sleep(0.5)  # the sequencer's ports follow the cards

    @contextlib.contextmanager
    def unplugged(self):
        """Over USB, the interface out for a while, where its name would be found."""
        self.unplug()
        try:
            yield
        finally:
            self.plug()

    # --- the simulator and the program
    def simulator(self, *args, work=None):
        if "--name" not in args and self.raw_device:
            args = ("--raw-midi", self.raw_device, *args)
        return start_simulator(self.sim_binary, work or self.work, args)

    def start_program(self, *args, stdin="\n", command=None, keep_open=False, env=None):
        """Starts it (or another command) in the background; end() waits for its Run."""
        return Process([*(command or self.command), *args], self.work, f"run{next(_runs)}", stdin, keep_open, env)

    def run(self, *args, stdin="", command=None, env=None):
        """Runs it to its end; stdin: the text typed, or None for no input at all; env: variables
        to change for it."""
        return self.end(self.start_program(*args, stdin=stdin, command=command, env=env))

    def end(self, program, limit=RUN_LIMIT_S):
        program.wait(limit)
        out, err, status = program.out(), program.err(), program.process.returncode
        status = 128 - status if status < 0 else status
        if self.wine:
            out = out.replace("\r\n", "\n")  # msvcrt's console writes "\n" as "\r\n"
            # Wine's WinMM ends every process that used it with SIGSEGV after its last line
            # (test_wines_crash_at_exit shows it): such a run counts as status 0.
            if status == 139 and out.endswith("\n"):
                status = 0
        if self.name != "jack":  # the numbers that ALSA and WinMM add depend on what else runs
            out = re.sub(r" [0-9]+(:[0-9]+)?( opened for (in|out)put)$", r"\2", out, flags=re.M)
        assert not SANITIZER_REPORT.search(err), "sanitizer report from tpmidi01:\n" + err
        # This machine has no ALSA sequencer: a run that finds JACK says no word of it.
        assert self.name != "jack" or "ALSA" not in err or "tpmidi01: no MIDI system: " in err, err
        return Run(out, err, status)

    def run_at_prompt(self, *args, name="other-sim"):
        """Runs the program against a simulator started with --name, whose name does not begin
        with "trackpod", and answers each port prompt with that simulator's number in the list
        above it, in one run (under Wine each costs seconds). Returns the run and the answers."""
        program, answers = self.start_program(*args, stdin="", keep_open=True), 0
        asked = lambda: program.out().count(PROMPT) > answers  # noqa: E731
        while wait_until(lambda: asked() or not program.running(), RUN_LIMIT_S) and asked():
            shown = program.out()
            side = re.findall(r"^  (Input|Output) port #", shown, re.M)[-1]
            found = re.search(rf"^  {side} port #([0-9]+): {re.escape(name)}", shown, re.M)
            assert found, f"no {side} port {name}:\n{shown}"
            program.type(found.group(1) + "\n")
            answers += 1
        return self.end(program), answers

    def opened(self):
        """The two lines that say which ports were opened, as the program prints them."""
        if self.name == "usb":
            ports = [("" if self.wine else "trackpod MIDI:") + "trackpod MIDI MIDI 1"] * 2
        else:
            ports = ["trackpod-sim from-handheld", "trackpod-sim to-handheld"]
            if not self.wine:
                ports = ["trackpod-sim out:" + ports[0], "trackpod-sim in:" + ports[1]]
        return f"\n{ports[0]} opened for input\n\n{ports[1]} opened for output\n"


@contextlib.contextmanager
def busy(seconds=120):
    """Every core kept busy by processes that end with the block, or by themselves after `seconds`."""
    spin = f"import time\nend = time.monotonic() + {seconds}\nwhile time.monotonic() < end: pass"
    spinners = [subprocess.Popen([sys.executable, "-c", spin]) for _ in range(os.cpu_count() or 2)]
    try:
        yield
    finally:
        for p in spinners:
            p.kill()
            p.wait()


def make_file(path, first, size):
    """A file with the given first byte, then noise."""
    data = bytes([first]) + os.urandom(size - 1)
    Path(path).write_bytes(data)
    return data
