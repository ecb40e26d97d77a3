"""The Debian package: built by CPack, as lintian wants it, unpacked into a scratch root,
its programs run from there against each other."""

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
    depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True, text=True).stdout
    assert depends.count("librtmidi6") == 1, depends
    lint = subprocess.run(["lintian", "--fail-on", "error", deb], capture_output=True, text=True)
    assert lint.returncode == 0, lint.stdout + lint.stderr
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    for page in ("man/man1/tpmidi01.1.gz", "man/man1/trackpod-sim.1.gz", "doc/tpmidi01/README.md"):
        assert (root / "usr/share" / page).is_file(), page
    s = start_simulator(root / "usr/bin/trackpod-sim", tmp_path, [], transport.env)
    run = transport.run(command=[root / "usr/bin/tpmidi01"])
    s.stop()
    assert "\ntpmidi01 -parameter filename\n" in run.out
