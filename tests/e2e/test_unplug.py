"""A port that goes away: the program ends the job by itself, with "error" and no success
line, and keeps every byte it received. Through USB the interface is pulled out; over JACK
and ALSA the simulator is killed, and its ports go with it. The Linux build only: Wine's
WinMM was seen to keep listing a pulled-out device, so the program there is never told."""

import time

import pytest

from harness import make_file, wait_until

# The job's arguments, the simulator's, and when to pull: once a file in the test's folder
# holds so many lines (the simulator's log) or bytes (the file received), then after so many
# seconds; then how the console ends, the progress line kept, and the exit status. The
# upload's handheld falls silent after 300 packets, its port still there: it is waited for
# longer than a look for gone ports takes, and longer than the 3 s after which the user is told
# that the program waits. The loopback check counts what came back before the port went.
JOBS = {
    "upload": (["-send", "bank.tp2"], ["--log", "wire.log", "--answer-packets", "300"], "wire.log", 302, 4,
               "0k of 4k sent\r\nerror\n", 0),
    "multiboot": (["-send", "game.gba"], ["--log", "wire.log"], "wire.log", 500, 0, "k of 256k sent\nerror\n", 0),
    "receive": (["-receive", "received.tp2"], ["--bank", "bank.tp2"], "received.tp2.part", 700, 0, "\nerror\n", 0),
    "sync": (["-sync"], ["--silent"], None, 0, 1.5, "\nerror\n", 0),  # well into the wait for an answer
    "loopback check": (["--loopback"], ["--loopback", "--log", "wire.log"], "wire.log", 300, 0, " (worst)\n\nerror\n", 1),
}


@pytest.mark.native
@pytest.mark.parametrize("job", JOBS)
def test_a_port_that_goes_away(transport, sim, tmp_path, job):
    args, sim_args, watched, level, silence, end, status = JOBS[job]
    in_folder = lambda names: [tmp_path / n if "." in n else n for n in names]  # noqa: E731
    bank = make_file(tmp_path / "bank.tp2", 0x24, 4096)
    make_file(tmp_path / "game.gba", 0x2E, 262144)
    s = sim(*in_folder(sim_args))
    program = transport.start_program(*in_folder(args))
    try:
        # A loaded machine can take seconds to start the program: the pull comes after it
        # has opened the ports, or it would only find none.
        assert wait_until(lambda: program.out().count(" opened for ") == 2 or not program.running(), 60)
        if watched:
            path = tmp_path / watched
            size = lambda: path.read_text().count("\n") if path.suffix == ".log" else path.stat().st_size  # noqa: E731
            assert wait_until(lambda: path.exists() and size() >= level, 60)
        time.sleep(silence)
        assert program.running()
        since = time.monotonic()
        if transport.name == "usb":
            transport.system.unplug()
        else:
            s.kill()
        run, waited = transport.end(program, 15), time.monotonic() - since
    finally:
        transport.restart()  # plugged in again; a JACK server that a killed client can leave dropping messages
    assert waited < 5, "the program kept waiting after its port went away"
    assert run.out.endswith(end) and not any(w in run.out for w in ("done", "complete", "activated")), run.out
    assert run.status == status and " went away" in run.err
    assert run.err.count("tpmidi01: waiting for the handheld (") == (silence >= 4), run.err
    assert transport.name == "usb" or 'tpmidi01: the MIDI port "trackpod-sim ' in run.err
    assert (tmp_path / "bank.tp2").read_bytes() == bank  # a file sent is only read
    if job == "receive":  # the bytes where the error stream's last line says, and no file named for a bank
        received = (tmp_path / "received.tp2.part").read_bytes()
        assert len(received) >= level and received == bank[:len(received)]
        assert run.err.endswith(f"tpmidi01: {len(received)} bytes received are in {tmp_path}/received.tp2.part; "
                                f"{tmp_path}/received.tp2 was not created\n")

