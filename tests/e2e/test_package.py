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
    lint = subprocess.run(["lintian", "--fail-on", "error,warning", deb], capture_output=True, text=True)
    assert lint.returncode == 0, lint.stdout + lint.stderr
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    for page in ("man/man1/tpmidi01.1.gz", "man/man1/trackpod-sim.1.gz", "doc/tpmidi01/README.md"):
        assert (root / "usr/share" / page).is_file(), page
    s = start_simulator(root / "usr/bin/trackpod-sim", tmp_path, [], transport.env)
    run = transport.run(command=[root / "usr/bin/tpmidi01"])
    s.stop()
    assert "\ntpmidi01 -parameter filename\n" in run.out


def test_the_simulators_manual_page_names_its_options(transport):
    """The options --help lists, and those the manual page gives an entry of its own; and
    every option either names anywhere, the other names too."""
    shown = subprocess.run([transport.sim_binary, "--help"], capture_output=True, text=True).stdout
    listed = set(re.findall(r"^  (--[a-z-]+)", shown, re.M))
    page = (TOP / "man/trackpod-sim.1").read_text().replace("\\-", "-")
    entries = set(re.findall(r"^\.TP\n\.B[IR]? (--[a-z-]+)", page, re.M))
    assert listed and listed == entries
    named = r"--[a-z][a-z-]*[a-z*]"
    assert set(re.findall(named, shown)) == set(re.findall(named, page))


COMPLETE = """source /usr/share/bash-completion/bash_completion
source "$1/packaging/bash-completion/tpmidi01"
cd "$2"
complete_line() {
    COMP_LINE=$1 COMP_POINT=${#1}
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$2" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    echo "$1 => $(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd '|')"
}
"""


def test_the_shell_completes_options_and_file_names(transport, tmp_path):
    """With the real bash-completion, as an interactive shell loads it."""
    for name in ("bank.tp2", "bass notes.txt", "song.tp1", "sound.wav"):
        (tmp_path / name).write_bytes(b"x")
    lines = ["tpmidi01 -se", "tpmidi01 -send ba", "tpmidi01 -receive so", "tpmidi01 -receive sou",
             f"{transport.sim_binary} --bank-h"]
    script = COMPLETE + "".join(
        f"complete_line '{line}' {'_trackpod_sim' if 'sim' in line else '_tpmidi01'}\n" for line in lines)
    said = subprocess.run(["bash", "-c", script, "complete", TOP, tmp_path], capture_output=True, text=True)
    assert said.stdout.splitlines() == [
        "tpmidi01 -se => -send", "tpmidi01 -send ba => bank.tp2|bass notes.txt",
        "tpmidi01 -receive so => song.tp1",  # a bank first
        "tpmidi01 -receive sou => sound.wav",  # then any name
        f"{transport.sim_binary} --bank-h => --bank-hole"], said.stderr
