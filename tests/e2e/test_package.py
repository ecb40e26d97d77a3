"""The Debian package: built by CPack, unpacked into a scratch root, its programs run
from there against each other."""

import shutil
import subprocess

import pytest

from harness import Simulator

pytestmark = [pytest.mark.over("jack"), pytest.mark.native]


def test_the_package(transport, tmp_path):
    build = transport.tpmidi.parent
    if "TPMIDI_SANITIZE:BOOL=ON" in (build / "CMakeCache.txt").read_text():
        pytest.skip("a sanitized build is not packaged")
    subprocess.run(["cpack", "-G", "DEB", "-B", tmp_path / "pkg"], cwd=build, check=True,
                   capture_output=True)
    deb, = (tmp_path / "pkg").glob("tpmidi01_*.deb")
    depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True, text=True).stdout
    assert "librtmidi6" in depends
    root = tmp_path / "root"
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    for installed in ("usr/bin/tpmidi01", "usr/bin/trackpod-sim",
                      "usr/share/man/man1/tpmidi01.1", "usr/share/man/man1/trackpod-sim.1"):
        assert (root / installed).is_file(), installed

    s = Simulator(root / "usr/bin/trackpod-sim", tmp_path, [])
    run = transport.run(command=[str(root / "usr/bin/tpmidi01")])
    s.stop()
    assert "\ntpmidi01 -parameter filename\n" in run.out
    if shutil.which("man"):
        page = subprocess.run(["man", "-l", root / "usr/share/man/man1/tpmidi01.1"],
                              capture_output=True, text=True).stdout
        assert "TROUBLESHOOTING" in page
