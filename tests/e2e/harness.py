"""The real tpmidi01 against the simulator program over a real MIDI system.

Plain Python, so that the transport benchmark can use it without pytest. The
transport is chosen by E2E_TRANSPORT:
  jack   a private JACK server of this process's own (the default)
  alsa   the ALSA sequencer, inside scripts/vm-run's guest
  usb    the same, the simulator serving the gadget side of a USB MIDI interface
A TPMIDI that ends in .exe is the Windows build, run under Wine over WinMM, whose
driver maps the ALSA sequencer's ports to MIDI devices.
"""

import contextlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
WINE = "/usr/lib/wine/wine64"
SANITIZER_REPORT = re.compile(r"Sanitizer|runtime error:")
RUN_LIMIT_S = 300
GADGET = "/sys/kernel/config/usb_gadget/trackpod"


def wait_until(predicate, seconds, step=0.05):
    """Polls until predicate() is true; False when the time ran out."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


class Jack:
    """A JACK server of this process's own, with short periods so that an exchange
    takes well under a millisecond. -S (synchronous) matters: without it messages get
    lost when both cores are busy. So does -t: by default a client gets two periods
    (0.7 ms here) to finish a cycle or to close, and a client that misses that under
    load leaves the server dropping messages or stuck for good. 200 ms is ample, and
    still lets the server drop a killed client within about 4 s."""

    def __init__(self, work):
        self.work = Path(work)
        self.process = None

    def start(self):
        os.environ["JACK_DEFAULT_SERVER"] = f"tpmidi-{os.getpid()}"
        os.environ["JACK_NO_AUDIO_RESERVATION"] = "1"
        log = open(self.work / "jackd.log", "ab")
        self.process = subprocess.Popen(
            ["jackd", "-S", "-t", "200", "-n", os.environ["JACK_DEFAULT_SERVER"],
             "-d", "dummy", "-r", "48000", "-p", "16"],
            stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        log.close()
        waited = subprocess.run(["jack_wait", "-w", "-t", "20"], capture_output=True)
        if waited.returncode != 0:
            raise RuntimeError("the JACK server did not start:\n" + self.log())

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.process = None

    def restart(self):
        """A fresh server: a client killed without closing (Ctrl-C, SIGKILL) can leave
        a synchronous server dropping later messages."""
        self.stop()
        self.start()

    def log(self):
        path = self.work / "jackd.log"
        return path.read_text(errors="replace")[-3000:] if path.exists() else ""


class Simulator:
    """trackpod-sim, started and waited for until it says its ports are open. Not by
    polling the MIDI system for its ports: on a slow machine every such short-lived
    client can leave a synchronous JACK server dropping the next client's messages."""

    def __init__(self, binary, work, args):
        self.work = Path(work)
        self.args = [str(a) for a in args]
        self.out_path = self.work / "sim.out"
        self.err_path = self.work / "sim.err"
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen([str(binary), *self.args], stdout=out, stderr=err,
                                            stdin=subprocess.DEVNULL)
        wait_until(lambda: " ready on " in self.out() or self.process.poll() is not None, 10)
        if " ready on " not in self.out():
            self.stop()
            raise RuntimeError("the simulator did not come up: " + self.err())

    def out(self):
        return self.out_path.read_text(errors="replace")

    def err(self):
        return self.err_path.read_text(errors="replace")

    def kill(self):
        """Ends it as a pulled cable would: no chance to close its ports."""
        self.process.kill()
        self.process.wait()

    def stop(self):
        """Ends it, which closes its ports, then it writes its files and summary."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.out()

    def microseconds_per_exchange(self):
        found = re.search(r" s, ([0-9.e+-]+) us each$", self.out(), re.M)
        return float(found.group(1)) if found else None


@dataclass
class Run:
    out: str      # standard output, port numbers taken out of the names opened
    err: str
    status: int


class Transport:
    """Where the program and the simulator meet, and how the program is run there."""

    def __init__(self, tpmidi, sim, work, name=None):
        self.tpmidi = Path(tpmidi)
        self.sim_binary = Path(sim)
        self.work = Path(work)
        self.name = name or os.environ.get("E2E_TRANSPORT", "jack")
        self.wine = self.tpmidi.suffix == ".exe"
        self.jack = None
        self.wine_runs = 0
        self.wine_crashes = 0
        self.command = [str(self.tpmidi)]

    @property
    def raw_device(self):
        """The raw MIDI device the simulator serves, where it is behind a USB interface
        rather than on ports of its own."""
        if self.name == "usb":
            # The gadget's card (its id is "gadget"); its number changes with each plug.
            return "/dev/snd/midiC%sD0" % os.readlink("/proc/asound/gadget").removeprefix("card")
        return None

    def unplug(self):
        """Pulls the USB interface out: the gadget unbound from its controller."""
        Path(GADGET, "UDC").write_text("\n")
        assert wait_until(lambda: "trackpod MIDI" not in Path("/proc/asound/cards").read_text(), 10)

    @contextlib.contextmanager
    def unplugged(self):
        """Over USB, the interface pulled out for a while: where its name would be
        found, the program is to list the ports and ask."""
        if self.name != "usb":
            yield
            return
        self.unplug()
        try:
            yield
        finally:
            self.plug()

    def plug(self):
        """Plugs it in again, and waits until both sides' devices are there."""
        if Path(GADGET, "UDC").read_text().strip():
            return
        Path(GADGET, "UDC").write_text("dummy_udc.0\n")
        assert wait_until(lambda: "trackpod MIDI" in Path("/proc/asound/cards").read_text()
                          and os.path.exists("/proc/asound/gadget") and os.path.exists(self.raw_device), 10)
        time.sleep(0.5)  # the sequencer's ports follow the cards

    # --- the MIDI system
    def start(self):
        if self.name == "jack":
            if self.wine:
                raise RuntimeError("the Windows build runs over ALSA, in the VM")
            self.jack = Jack(self.work)
            self.jack.start()
        elif self.name in ("alsa", "usb"):
            if not os.path.exists("/dev/snd/seq"):
                raise RuntimeError(f"E2E_TRANSPORT={self.name}, but there is no /dev/snd/seq")
            if self.name == "usb":
                self.plug()
        else:
            raise RuntimeError(f"unknown E2E_TRANSPORT {self.name}")
        if self.wine:
            self.wine_setup(self.tpmidi)
            self.command = [WINE, str(self.work / self.tpmidi.name)]

    def stop(self):
        if self.jack:
            self.jack.stop()
        if self.name == "usb":
            self.unplug()
        if self.wine:
            subprocess.run([WINE.replace("wine64", "wineserver"), "-k"], capture_output=True)

    def restart(self):
        """A fresh MIDI system after a client was killed without closing; a USB
        interface plugged out and in, which drops what it still held for the last."""
        if self.jack:
            self.jack.restart()
        if self.name == "usb":
            self.unplug()
            self.plug()

    def wine_setup(self, *programs):
        """Wine's settings, one server for every run (each start costs seconds in the
        VM), and the programs copied into the work folder on the guest's tmpfs: Wine
        cannot map an image from 9p."""
        os.environ.update(WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
        os.environ.setdefault("WINEPREFIX", str(self.tpmidi.parent / "wine"))
        for program in programs:
            shutil.copy(program, self.work)
        subprocess.run([WINE.replace("wine64", "wineserver"), "-p"], check=True)

    # --- the simulator and the program
    def simulator(self, *args, work=None):
        args = list(args)
        if "--name" not in args and self.raw_device:
            args = ["--raw-midi", self.raw_device, *args]
        return Simulator(self.sim_binary, work or self.work, args)

    def run(self, *args, stdin="", command=None, cwd=None):
        """Runs the program to its end. stdin: the text typed, or None for a closed
        standard input."""
        try:
            out, err, status = execute([*(command or self.command), *args], stdin, cwd)
        except subprocess.TimeoutExpired as e:
            raise AssertionError(f"tpmidi01 {args} did not end within {RUN_LIMIT_S} s:\n{e.output}")
        return self.finish(out, err, status)

    def finish(self, out, err, status):
        out = out.decode("utf-8", errors="replace")
        err = err.decode("utf-8", errors="replace")
        if status < 0:
            status = 128 - status
        if self.wine:
            out = out.replace("\r\n", "\n")  # msvcrt's console writes "\n" as "\r\n"
            status = self.wine_exit(out, status)
        if self.name != "jack":
            # The numbers that ALSA (client:port) and WinMM (the device) add to the
            # names depend on what else runs.
            out = re.sub(r" [0-9]+(:[0-9]+)?( opened for (in|out)put)$", r"\2", out, flags=re.M)
        assert not SANITIZER_REPORT.search(err), "sanitizer report from tpmidi01:\n" + err
        return Run(out, err, status)

    def wine_exit(self, out, status):
        """Wine's WinMM driver ends every process that used it with SIGSEGV after its
        last line (test_wine shows it with a program that only counts the devices). A
        run that printed its last line and then died so counts as status 0."""
        self.wine_runs += 1
        if status == 139 and out.endswith("\n"):
            self.wine_crashes += 1
            return 0
        return status

    def start_program(self, *args, stdin="", out=None, err=None):
        """Starts the program in the background; its input the text given, left open."""
        process = subprocess.Popen([*self.command, *[str(a) for a in args]],
                                   stdin=subprocess.PIPE, stdout=out or subprocess.DEVNULL,
                                   stderr=err or subprocess.DEVNULL)
        process.stdin.write(stdin.encode())
        process.stdin.flush()
        return process

    def run_at_prompt(self, *args, name="other-sim"):
        """Runs the program against a simulator started with --name, as for an
        interface whose name does not begin with "trackpod": the port numbers typed at
        the prompts are read off the lists it shows. Returns the run and the answers."""
        answers = ""
        for side in ("Input", "Output"):
            run = self.run(*args, stdin=answers)
            number = port_number(run.out, side, name)
            if number is not None:
                answers += number + "\n"
        return self.run(*args, stdin=answers), answers

    # --- what the program shows of the ports
    def opened(self, prefix="trackpod-sim"):
        """The two lines that say which ports were opened, as the program prints them."""
        if self.name == "usb":
            port = "trackpod MIDI MIDI 1" if self.wine else "trackpod MIDI:trackpod MIDI MIDI 1"
            return f"\n{port} opened for input\n\n{port} opened for output\n"
        if self.wine:
            return (f"\n{prefix} from-handheld opened for input\n"
                    f"\n{prefix} to-handheld opened for output\n")
        return (f"\n{prefix} out:{prefix} from-handheld opened for input\n"
                f"\n{prefix} in:{prefix} to-handheld opened for output\n")

    def listed_inputs(self):
        """The input ports of the VM's sequencer when no simulator runs."""
        if self.wine:
            return "  Input port #0: Midi Through Port-0 0\n  Input port #1: VirMIDI 0-0 1\n"
        return ("  Input port #0: Midi Through:Midi Through Port-0 14:0\n"
                "  Input port #1: Virtual Raw MIDI 0-0:VirMIDI 0-0 16:0\n")


def execute(command, stdin=None, cwd=None, limit=RUN_LIMIT_S):
    """Runs a command to its end: its standard output, error and status. stdin: the
    text typed, or None for a closed standard input. Output goes to files, not pipes:
    under Wine, helper processes that outlive the program inherit them, and a pipe
    would not end with the program."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen([str(a) for a in command], cwd=cwd, stdout=out, stderr=err,
                                   stdin=subprocess.DEVNULL if stdin is None else subprocess.PIPE,
                                   preexec_fn=(lambda: os.close(0)) if stdin is None else None)
        if stdin is not None:
            try:
                process.stdin.write(stdin.encode())
                process.stdin.close()
            except BrokenPipeError:
                pass
        try:
            process.wait(limit)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            out.seek(0)
            raise subprocess.TimeoutExpired(command, limit, out.read().decode(errors="replace"))
        out.seek(0)
        err.seek(0)
        return out.read(), err.read(), process.returncode


@contextlib.contextmanager
def busy(seconds=120):
    """Every core kept busy by other processes, as on a machine doing other work. They
    give up by themselves after `seconds`, and are ended by their ids when the block
    ends."""
    spin = f"import time\nend = time.monotonic() + {seconds}\nwhile time.monotonic() < end: pass"
    spinners = [subprocess.Popen([sys.executable, "-c", spin]) for _ in range(os.cpu_count() or 2)]
    try:
        yield
    finally:
        for p in spinners:
            p.kill()
            p.wait()


def port_number(out, side, name):
    """The number the program lists for the first port of `side` whose name starts with
    `name`, or None."""
    found = re.search(rf"^  {side} port #([0-9]+): {re.escape(name)}", out, re.M)
    return found.group(1) if found else None


def make_file(path, first, size):
    """A file with the given first byte, then noise."""
    data = bytes([first]) + os.urandom(size - 1)
    Path(path).write_bytes(data)
    return data


def scratch():
    return Path(tempfile.mkdtemp(prefix="tpmidi-e2e-"))
