"""The Debian package: built by CPack, as lintian wants it, unpacked into a scratch root,
its programs run from there against each other; and the simulator's manual page."""

import re
import subprocess

import pytest

from harness import TOP, start_simulator

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


def test_the_simulators_manual_page_names_its_options(transport):
    """The options --help lists, and those the manual page gives an entry of its own."""
    shown = subprocess.run([transport.sim_binary, "--help"], capture_output=True, text=True).stdout
    listed = set(re.findall(r"^  (--[a-z-]+)", shown, re.M))
    page = (TOP / "man/trackpod-sim.1").read_text().replace("\\-", "-")
    entries = set(re.findall(r"^\.TP\n\.B[IR]? (--[a-z-]+)", page, re.M))
    assert listed and listed == entries
