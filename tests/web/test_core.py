"""The page's core (src/web, built by scripts/web.sh) under Node, against a stand-in for Web MIDI
whose far end is the simulator's own model compiled to WebAssembly: every job moves the same
bytes and says the same words as the console program (tests/console.texts)."""

import base64
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import console_text, make_file, received_text, sent_text  # noqa: E402

BUILD = Path(os.environ.get("TPMIDI_WEB_BUILD", Path(__file__).resolve().parents[2] / "build-web"))
OPENED = "\ntrackpod-sim out:from-handheld opened for input\n\ntrackpod-sim in:to-handheld opened for output\n"


def run(tmp_path, args, files=None, **far_end):
    """One job of the core; what tests/web/drive.js tells of it."""
    job = {"args": args, "files": {n: base64.b64encode(d).decode() for n, d in (files or {}).items()}, **far_end}
    if "bank" in job:
        job["bank"] = base64.b64encode(job["bank"]).decode()
    spec = tmp_path / "job.json"
    spec.write_text(json.dumps(job))
    done = subprocess.run(["node", "--no-experimental-fetch", Path(__file__).parent / "drive.js", BUILD, spec],
                          capture_output=True, text=True, timeout=300, check=False)
    assert done.returncode == 0, done.stderr
    said = json.loads(done.stdout)
    said["files"] = {n: base64.b64decode(d) for n, d in said.get("files", {}).items()}
    said["uploaded"] = base64.b64decode(said.get("uploaded", ""))
    return said


@pytest.mark.parametrize("args, line", [
    (["-sync"], "Sync mode activated."),
    (["-SYNC"], "Sync mode activated permanently."),
    (["-midi", "16"], "MIDI mode activated."),
    (["-MIDI"], "MIDI mode activated permanently."),
    (["-midireceive"], "MIDI receive mode activated."),
    (["-MIDIRECEIVE"], "MIDI receive mode activated permanently."),
])
def test_a_mode_switch(tmp_path, args, line):
    said = run(tmp_path, args)
    assert (said["status"], said["out"], said["err"], said["commands"]) == (0, OPENED + f"\n{line}\n\n", "", 1)


@pytest.mark.parametrize("first, size", [(0x24, 4096), (0xC9, 3000), (0xAB, 1500), (0x00, 1), (0x2E, 65536)])
def test_an_upload(tmp_path, first, size):
    data = make_file(tmp_path / "upload", first, size)
    said = run(tmp_path, ["-send", "the file"], {"the file": data})
    assert said["out"] == OPENED + sent_text(first, "the file", size)
    assert said["uploaded"][:size] == data
    whole = 262144 if first == 0x2E else size
    assert said["progress"][-1] == [whole, whole]
    assert said["continued"] == (0 if first == 0x2E else 1)
    assert said["wakeLocks"] == ["sending the file to the handheld", "released 3"]


def test_an_empty_file_is_sent_as_nothing(tmp_path):
    said = run(tmp_path, ["-send", "empty"], {"empty": b""})
    assert said["out"] == OPENED + sent_text(0x00, "empty", 0)
    assert said["uploaded"] == b""


@pytest.mark.parametrize("hole_after", [0, 700])
def test_a_receive(tmp_path, hole_after):
    bank = bytes([0x24]) + os.urandom(1500)
    said = run(tmp_path, ["-receive", "bank.tp2"], bank=bank, holeAfter=hole_after)
    assert said["out"] == OPENED + received_text(len(bank), whole=not hole_after)
    if hole_after:
        # Only what came, under its own name, the holes named.
        assert list(said["files"]) == ["bank.tp2.part"]
        assert said["files"]["bank.tp2.part"] == bank[:hole_after] + bank[hole_after + 3:]
        assert "the bank has a hole after byte 700: at least 3 messages lost" in said["err"]
    else:
        assert said["files"] == {"bank.tp2": bank}
    # The page never spins: it waits for each message, then about 3.5 s of the bank's closing
    # silence in waits that grow to 20 ms (of 2 ms each, 1750 waits).
    assert said["waits"] < len(bank) + 400


@pytest.mark.parametrize("change_every, status, verdict", [
    (0, 0, console_text("loopback.passes")),
    (3, 1, "The interface fails"),
])
def test_the_interface_check(tmp_path, change_every, status, verdict):
    said = run(tmp_path, ["--loopback"], cable=change_every)
    assert said["status"] == status
    assert said["out"].startswith(OPENED + console_text("loopback.asked"))
    assert verdict in said["out"]
    assert said["continued"] == 1


@pytest.mark.parametrize("fault, reason", [
    ({"unplugAfter": 200}, "tpmidi01: the MIDI port \"trackpod-sim out:from-handheld\" went away\n"),
    ({"cancelAfter": 200}, "tpmidi01: the job was cancelled\n"),
])
def test_an_upload_ended_midway(tmp_path, fault, reason):
    data = make_file(tmp_path / "bank", 0x24, 4096)
    said = run(tmp_path, ["-send", "bank.tp2"], {"bank.tp2": data}, **fault)
    assert said["out"].endswith("k sent\r\nerror\n") and said["err"] == reason
    assert 0 < len(said["uploaded"]) < 200 and said["wakeLocks"][-1] == "released 3"


def test_a_silent_handheld_is_said_with_the_pages_way_out(tmp_path):
    data = make_file(tmp_path / "bank", 0x24, 4096)
    said = run(tmp_path, ["-send", "bank.tp2"], {"bank.tp2": data}, answerPackets=300,
               cancelWhenSaid="waiting for the handheld")
    assert said["err"] == ("tpmidi01: waiting for the handheld (is trackpod on, in the right mode, and the cable "
                           "plugged in both ways?); Cancel ends\ntpmidi01: the job was cancelled\n")


def test_a_receive_pulled_out_keeps_what_came(tmp_path):
    bank = bytes([0x24]) + os.urandom(1500)
    said = run(tmp_path, ["-receive", "bank.tp2"], bank=bank, unplugAfter=1)
    assert said["out"].endswith("\nerror\n")
    assert list(said["files"]) == ["bank.tp2.part"]


@pytest.mark.parametrize("fault, out, err", [
    ({"refuseOpen": True}, "\ntrackpod-sim out:from-handheld opened for input\n\nerror\n",
     "tpmidi01: cannot open the MIDI port \"trackpod-sim in:to-handheld\": the port is in use "
     "(does another program hold it?)\n"),
    ({"noPorts": True}, "\nNo input ports available!\n", ""),
])
def test_ports_that_cannot_be_used(tmp_path, fault, out, err):
    said = run(tmp_path, ["-sync"], **fault)
    assert (said["out"], said["err"], said["commands"]) == (out, err, 0)


@pytest.mark.parametrize("names, picked", [
    (["Midi Through Port-0"], 0),
    (["Midi Through Port-0", "UM-ONE"], -1),
    (["Midi Through Port-0", "trackpod-sim out", "trackpod-sim out 2"], 2),
    ([], -1),
])
def test_the_port_chosen_without_asking(tmp_path, names, picked):
    spec = tmp_path / "job.json"
    spec.write_text(json.dumps({"pick": names}))
    done = subprocess.run(["node", "--no-experimental-fetch", Path(__file__).parent / "drive.js", BUILD, spec],
                          capture_output=True, text=True, timeout=60, check=True)
    assert json.loads(done.stdout) == {"picked": picked}
