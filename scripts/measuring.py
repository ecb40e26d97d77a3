"""What the measuring scripts share: a session of the end-to-end harness in a scratch folder,
and a run of the script itself in scripts/vm-run's VM."""

import contextlib
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from tests.e2e import harness

TOP = harness.TOP


@contextlib.contextmanager
def measured(kind, prefix):
    """A started session for a measuring script (kind: jack, alsa, usb or wine-usb, the
    Windows build under Wine) in a scratch folder; stopped and removed at the end."""
    work = Path(tempfile.mkdtemp(prefix=prefix))
    program = TOP / ("build-windows/tpmidi01.exe" if kind.startswith("wine") else "build/tpmidi01")
    transport = harness.session(kind.removeprefix("wine-"), program, TOP / "build/trackpod-sim", work)
    transport.start()
    try:
        yield transport, work
    finally:
        transport.stop()
        shutil.rmtree(work, ignore_errors=True)


def script_arguments():
    """A script's arguments, and whether it already runs in the VM: in_the_vm says so
    with --in-vm ahead of them."""
    args = sys.argv[1:]
    in_vm = args[:1] == ["--in-vm"]
    return args[in_vm:], in_vm


def in_the_vm(module, args, timeout=1800):
    """Runs `python3 -m MODULE --in-vm ARGS` in scripts/vm-run's VM (right here, when this
    already runs there), and exits with its status."""
    sys.exit(subprocess.run(["bash", "scripts/vm-run", "--timeout", str(timeout), "python3", "-m", module, "--in-vm",
                             *map(str, args)], cwd=TOP).returncode)
