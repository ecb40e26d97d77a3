"""The Debian package: built by CPack, unpacked into a scratch root, its programs run
from there against each other."""

import subprocess

import pytest

from harness import start_simulator

pytestmark = [pytest.mark.over("jack"), pytest.mark.native]


def test_the_package(transport, tmp_path):
    build, root = transport.tpmidi.parent, tmp_path / "root"
    if "TPMIDI_SANITIZE:BOOL=ON" in (build / "CMakeCache.txt").read_text():
        pytest.skip("a sanitized build is not packaged")
    subprocess.run(["cpack", "-G", "DEB", "-B", tmp_path / "pkg"], cwd=build, check=True, capture_output=True)
    deb, = (tmp_path / "pkg").glob("tpmidi01_*.deb")
    assert "librtmidi6" in subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True, text=True).stdout
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    for page in ("tpmidi01.1", "trackpod-sim.1"):
        assert (root / "usr/share/man/man1" / page).is_file(), page
    s = start_simulator(root / "usr/bin/trackpod-sim", tmp_path, [])
    run = transport.run(command=[root / "usr/bin/tpmidi01"])
    s.stop()
    assert "\ntpmidi01 -parameter filename\n" in run.out
