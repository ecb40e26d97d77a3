"""The real tpmidi01 against the simulator program over a real MIDI system, in plain Python
so that scripts can use it too (python3 -m scripts.NAME, from the top of the project).

A session joins three things: a MIDI system (Jack, AlsaSequencer or UsbInterface: each
starts and stops, plugs and unplugs the handheld's interface where it has one, and names
the handheld's ports), a way to run a program (Native, or UnderWine for a TPMIDI ending in
.exe, whose WinMM maps ALSA's ports), and a work folder. Nothing here changes the
environment of the process that uses it: what a program needs is handed to it alone."""

import contextlib
import itertools
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from collections import namedtuple
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
WINE, WINESERVER = "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver"
SANITIZER_REPORT = re.compile(r"Sanitizer|runtime error:")
RUN_LIMIT_S = 900  # a guard against a hang: an emulated receive's silence alone takes minutes
PROMPT = "Please choose a port number: "
GADGET = Path("/sys/kernel/config/usb_gadget/trackpod")
CARDS = Path("/proc/asound/cards")


def environment(extra):
    """This process's environment with `extra` set, for one program started from it."""
    return {**os.environ, **extra}


def wait_until(predicate, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and not predicate():
        time.sleep(step)
    return predicate()


class Process:
    """A program with its output in files (under Wine, helpers that outlive it inherit the
    output, so a pipe would not end with it). stdin: the text typed, then closed unless
    keep_open; None: no input at all. env: variables to set for it."""

    def __init__(self, command, work, name, stdin=None, keep_open=False, env=None):
        self.paths = Path(work, name + ".out"), Path(work, name + ".err")

        def as_from_a_terminal():  # where Ctrl-C ends a program, though a script started the tests
            signal.signal(signal.SIGINT, signal.SIG_DFL)
            if stdin is None:
                os.close(0)

        with open(self.paths[0], "wb") as out, open(self.paths[1], "wb") as err:
            self.process = subprocess.Popen([str(a) for a in command], stdout=out, stderr=err,
                                            stdin=subprocess.DEVNULL if stdin is None else subprocess.PIPE,
                                            preexec_fn=as_from_a_terminal, env=env and environment(env))
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


def start_simulator(binary, work, args, env=None):
    """Waited for until it says its ports are open, not by asking the MIDI system: every
    short-lived client can leave a synchronous JACK server dropping the next one's messages."""
    sim = Process([binary, *args], work, "sim", stdin="", env=env)
    wait_until(lambda: " ready on " in sim.out() or not sim.running(), 10)
    if " ready on " not in sim.out():
        sim.stop()
        raise RuntimeError("the simulator did not come up: " + sim.err())
    return sim


# --- The MIDI systems.
class MidiSystem:
    # The handheld's ports as RtMidi on Linux names them, for input and for output: the
    # simulator's virtual ports.
    ports = ("trackpod-sim out:trackpod-sim from-handheld", "trackpod-sim in:trackpod-sim to-handheld")
    numbered = True  # ALSA adds client and port numbers to the names, WinMM a device number
    env = {}

    def start(self):
        pass

    def stop(self):
        pass

    def plug(self):
        pass

    def unplug(self):
        pass

    def restart(self):
        self.stop()
        self.start()

    def simulator_args(self):
        return ()


class Jack(MidiSystem):
    """A private JACK server. Short periods: an exchange takes well under a millisecond. -S:
    without it messages get lost when both cores are busy. -t 200: a client that misses the
    default two periods (0.7 ms) to finish a cycle or to close leaves the server dropping
    messages; 200 ms still drops a killed client within about 4 s."""

    name, numbered = "jack", False

    def __init__(self, work):
        self.work, self.server, self.starts = work, None, itertools.count()
        self.env = {"JACK_DEFAULT_SERVER": f"tpmidi-{os.getpid()}", "JACK_NO_AUDIO_RESERVATION": "1"}

    def start(self):
        self.server = Process(["jackd", "-S", "-t", "200", "-n", self.env["JACK_DEFAULT_SERVER"], "-d", "dummy",
                               "-r", "48000", "-p", "16"], self.work, f"jackd{next(self.starts)}", "", env=self.env)
        if subprocess.run(["jack_wait", "-w", "-t", "20"], capture_output=True, env=environment(self.env)).returncode:
            raise RuntimeError("the JACK server did not start: " + self.server.err())

    def stop(self):
        self.server.stop()


class AlsaSequencer(MidiSystem):
    """The ALSA sequencer of scripts/vm-run's guest, the simulator on its virtual ports."""

    name = "alsa"

    def start(self):
        if not os.path.exists("/dev/snd/seq"):
            raise RuntimeError("no ALSA sequencer here: E2E_TRANSPORT=alsa runs in scripts/vm-run's VM")


class UsbInterface(MidiSystem):
    """The USB MIDI interface of scripts/vm-run's guest, plugged in while started: the
    gadget bound to its controller; the simulator serves its far side's byte stream."""

    name = "usb"
    ports = ("trackpod MIDI:trackpod MIDI MIDI 1",) * 2

    def start(self):
        if not GADGET.exists():
            raise RuntimeError("no USB gadget here: E2E_TRANSPORT=usb runs in scripts/vm-run's VM")
        self.plug()

    def stop(self):
        self.unplug()

    def raw_device(self):  # the gadget's side; its card ("gadget") is renumbered at each plug
        return "/dev/snd/midiC%sD0" % os.readlink("/proc/asound/gadget").removeprefix("card")

    def unplug(self):
        if (GADGET / "UDC").read_text().strip():
            (GADGET / "UDC").write_text("\n")
            assert wait_until(lambda: "trackpod MIDI" not in CARDS.read_text(), 10)

    def plug(self):
        if not (GADGET / "UDC").read_text().strip():
            (GADGET / "UDC").write_text("dummy_udc.0\n")
            assert wait_until(lambda: "trackpod MIDI" in CARDS.read_text() and os.path.exists(
                "/proc/asound/gadget") and os.path.exists(self.raw_device()), 10)
            time.sleep(0.5)  # the sequencer's ports follow the cards

    def simulator_args(self):
        return ("--raw-midi", self.raw_device())


# --- How a program runs.
class Native:
    wine, env = False, {}

    def start(self, work, programs):
        pass

    def stop(self):
        pass

    def command(self, program):
        return [str(program)]

    def shown(self, port):
        return port

    def output(self, out, err, status):
        return out, err, status


class UnderWine:
    """One Wine server for every run (each start costs seconds in the VM), a private prefix,
    no Mono or Gecko installers, no debug chatter."""

    wine = True

    def __init__(self, prefix, work):
        self.env = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=", "LC_ALL": "C.UTF-8",
                    "WINEPREFIX": str(prefix)}
        self.work = Path(work)

    def start(self, work, programs):
        """The programs copied to the work folder: Wine cannot map an image from 9p."""
        for program in programs:
            shutil.copy(program, self.work)
        subprocess.run([WINESERVER, "-p"], check=True, env=environment(self.env))

    def stop(self):
        subprocess.run([WINESERVER, "-k"], capture_output=True, env=environment(self.env))

    def command(self, program):
        return [WINE, str(self.work / Path(program).name)]

    def shown(self, port):  # WinMM shows a port's name without its client's
        return port.split(":", 1)[-1]

    def output(self, out, err, status):
        # msvcrt's console writes "\n" as "\r\n". Wine's WinMM ends every process that used
        # it with SIGSEGV after its last line (test_wines_crash_at_exit shows it): such a
        # run counts as status 0.
        out, err = out.replace("\r\n", "\n"), err.replace("\r\n", "\n")
        return out, err, 0 if status == 139 and out.endswith("\n") else status


# out: standard output, the numbers that ALSA and WinMM add to the names opened taken out
Run = namedtuple("Run", "out err status")


class Session:
    def __init__(self, tpmidi, sim, work, system, runner):
        self.tpmidi, self.sim_binary, self.work = Path(tpmidi), Path(sim), Path(work)
        self.system, self.runner, self.runs = system, runner, itertools.count()
        self.name, self.wine = system.name, runner.wine
        self.command = runner.command(self.tpmidi)

    @property
    def env(self):  # what every program started needs: the JACK server's name, Wine's settings
        return {**self.system.env, **self.runner.env}

    def start(self, *other_programs):
        self.system.start()
        self.runner.start(self.work, [self.tpmidi, *other_programs])

    def stop(self):
        self.system.stop()
        self.runner.stop()

    def restart(self):
        """The MIDI system as fresh: after a program was killed without closing its ports, a
        JACK server can drop messages; a USB interface plugged out and in drops what it held."""
        self.system.restart()

    @contextlib.contextmanager
    def unplugged(self):
        """The interface out for a while (over USB), where its name would be found."""
        self.system.unplug()
        try:
            yield
        finally:
            self.system.plug()

    def simulator(self, *args, work=None):
        """The simulator on the system's far side, unless given a --name of its own."""
        args = args if "--name" in args else (*self.system.simulator_args(), *args)
        return start_simulator(self.sim_binary, work or self.work, args, self.system.env)

    def start_program(self, *args, stdin="", command=None, keep_open=False, env=None):
        """Starts it (or another command) in the background; end() waits for its Run.
        stdin: the text typed, then closed (the waits for Enter end at once), or None for
        no input at all; env: variables to set for it."""
        return Process([*(command or self.command), *args], self.work, f"run{next(self.runs)}", stdin, keep_open,
                       {**self.env, **(env or {})})

    def run(self, *args, stdin="", command=None, env=None):
        """Runs it to its end."""
        return self.end(self.start_program(*args, stdin=stdin, command=command, env=env))

    def end(self, program, limit=RUN_LIMIT_S):
        program.wait(limit)
        out, err, status = program.out(), program.err(), program.process.returncode
        out, err, status = self.runner.output(out, err, 128 - status if status < 0 else status)
        if self.system.numbered:  # the numbers depend on what else runs
            out = re.sub(r" [0-9]+(:[0-9]+)?( opened for (in|out)put)$", r"\2", out, flags=re.M)
        assert not SANITIZER_REPORT.search(err), "sanitizer report from tpmidi01:\n" + err
        # Without an ALSA sequencer, a run that finds a MIDI system says no word of it.
        assert os.path.exists("/dev/snd/seq") or "ALSA" not in err or "tpmidi01: no MIDI system: " in err, err
        return Run(out, err, status)

    def run_at_prompt(self, *args, name="other-sim", env=None):
        """Runs the program against a simulator started with --name, whose name does not begin
        with "trackpod", and answers each port prompt with that simulator's number in the list
        above it, in one run (under Wine each costs seconds). Returns the run and the answers."""
        program, answers = self.start_program(*args, keep_open=True, env=env), 0
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
        into, out_of = map(self.runner.shown, self.system.ports)
        return f"\n{into} opened for input\n\n{out_of} opened for output\n"


def session(transport, tpmidi, sim, work):
    """A session over the MIDI system named (jack, alsa or usb), running tpmidi as it is built:
    natively, or under Wine for a .exe."""
    system = {"jack": lambda: Jack(work), "alsa": AlsaSequencer, "usb": UsbInterface}[transport]()
    tpmidi = Path(tpmidi)
    runner = UnderWine(tpmidi.parent / "wine", work) if tpmidi.suffix == ".exe" else Native()
    return Session(tpmidi, sim, work, system, runner)


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


def _read_console_texts():
    """tests/console.texts by name, its escapes undone."""
    texts = {}
    for line in (Path(__file__).parent.parent / "console.texts").read_text(encoding="utf-8").splitlines():
        key, sep, text = line.partition(" = ")
        if sep and not line.startswith("#"):
            texts[key] = re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r"}.get(m.group(1), m.group(1)), text)
    return texts


CONSOLE_TEXTS = _read_console_texts()


def console_text(name, file="", k=0, n=0):
    """A console text of tests/console.texts, which the in-process tests read too."""
    return CONSOLE_TEXTS[name].replace("{file}", str(file)).replace("{k}", str(k)).replace("{n}", str(n))


def sent_text(first, file, size):
    """A file of `size` bytes sent, after the ports' lines; a GBA ROM (0x2E) by multiboot, always
    the whole 256 KiB, the image taken."""
    if first == 0x2E:
        return (console_text("multiboot.before", file)
                + "".join(console_text("multiboot.progress", k=k) for k in range(1, 257))
                + console_text("multiboot.accepted"))
    kind = f"send.0x{first:02X}" if first in (0xC9, 0x24, 0xAB) else "send.other"
    n = size // 1024
    return (console_text(kind + ".before", file)
            + "".join(console_text("send.progress", k=done // 1024, n=n) for done in range(0, size, 1024))
            + console_text("send.done", n=n) + console_text(kind + ".after"))


def received_text(size, whole=True):
    """A receive of `size` bytes, after the ports' lines, the whole bank saved or not."""
    return (console_text("receive.ready") + "".join(console_text("receive.progress", k=k) for k in range(1, size // 1024 + 1))
            + (console_text("receive.done", k=size // 1024) if whole else console_text("receive.error")))


def make_file(path, first, size):
    """A file with the given first byte, then noise."""
    data = bytes([first]) + os.urandom(size - 1)
    Path(path).write_bytes(data)
    return data
