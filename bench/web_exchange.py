"""The page's time and processor time per exchange against a bare Web MIDI stop-and-wait loop in
plain JavaScript, in the same Chromium and the same run: a 2.5 bank upload, one data packet and
its echo an exchange, against the same packets sent one at a time by the loop. The far end is
tests/web/peer.py on the VirMIDI card. Runs in scripts/vm-run's guest:
    bash scripts/vm-run python3 bench/web_exchange.py [EXCHANGES] [RUNS]"""

import os
import statistics
import sys
import tempfile
from pathlib import Path

TOP = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(TOP / "tests" / "web"))
from browser import page_in_browser, prepare_guest  # noqa: E402
from peer import Peer  # noqa: E402

BARE_LOOP = """(async count => {
    const access = await navigator.requestMIDIAccess({sysex: true});
    const input = [...access.inputs.values()].find(p => p.name === 'VirMIDI 0-0');
    const output = [...access.outputs.values()].find(p => p.name === 'VirMIDI 0-0');
    await input.open();
    await output.open();
    const started = performance.now();
    for (let k = 1; k <= count; k++) {
        const answered = new Promise(done => { input.onmidimessage = done; });
        output.send([0xF0, 0x7E, 0x00, 0x07, 0x02, k & 0x7F, 0x01, 0x00, k & 0x7F, 0x00, 0xF7]);
        await answered;
    }
    input.onmidimessage = null;
    return (performance.now() - started) / count;
})(%d)"""

# The page's own: the time from its first data packet to its last, per exchange; its waits
# for a message, and those that ran out.
TIMED = """(() => {
    const m = Module.tpMidi, send = m.send, awaitMessage = m.awaitMessage;
    window.tpTimes = [];
    window.tpWaits = [0, 0];
    m.send = bytes => { if (bytes[4] === 0x02) window.tpTimes.push(performance.now()); return send(bytes); };
    m.awaitMessage = ms => {
        window.tpWaits[0]++;
        return awaitMessage(ms).then(() => { if (!m.queue.length) window.tpWaits[1]++; });
    };
})()"""


def task_seconds(page):
    metrics = {m["name"]: m["value"] for m in page.call("Performance.getMetrics")["metrics"]}
    return metrics["TaskDuration"]


def main():
    exchanges = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    prepare_guest()
    peer = Peer("/dev/snd/midiC0D0")
    work = Path(tempfile.mkdtemp())
    bank = work / "bench.tp2"
    bank.write_bytes(bytes([0x24]) + os.urandom(exchanges - 1))
    page_ms, bare_ms, page_cpu, bare_cpu, page_waits = [], [], [], [], []
    with page_in_browser(TOP / "build-web", work, stand_in=False) as page:
        page.call("Performance.enable")
        page.press("Connect")
        page.wait_for("document.getElementById('output').options.length > 1")
        page.choose("MIDI input", "VirMIDI 0-0")
        page.choose("MIDI output", "VirMIDI 0-0")
        page.evaluate(TIMED)
        for _ in range(runs):
            peer.handheld()
            before = task_seconds(page)
            page.choose_file("File to send", bank)
            page.press("Send")
            page.wait_for("!document.getElementById('continue').hidden")
            cpu_from = task_seconds(page)
            page.evaluate("window.tpTimes = []; window.tpWaits = [0, 0]")
            page.press("Continue")
            page.wait_for("document.querySelector('[role=log]').innerText.endsWith('done')", seconds=600)
            times, (waits, ran_out) = page.evaluate("window.tpTimes"), page.evaluate("window.tpWaits")
            page_waits.append(f"{waits} ({ran_out} ran out)")
            page_ms.append((times[-1] - times[0]) / (len(times) - 1))
            page_cpu.append((task_seconds(page) - cpu_from) / exchanges * 1e6)
            assert bytes(peer.uploaded) == bank.read_bytes() and before <= cpu_from
            cpu_from = task_seconds(page)
            bare_ms.append(page.evaluate(BARE_LOOP % exchanges))
            bare_cpu.append((task_seconds(page) - cpu_from) / exchanges * 1e6)
    peer.close()
    page_median, bare_median = statistics.median(page_ms), statistics.median(bare_ms)
    print(f"time per exchange: the page {page_median * 1000:.0f} us, the bare loop {bare_median * 1000:.0f} us, "
          f"ratio {page_median / bare_median:.3f} (medians of {runs} runs of {exchanges})")
    print(f"processor time per exchange: the page {statistics.median(page_cpu):.0f} us, the bare loop "
          f"{statistics.median(bare_cpu):.0f} us, ratio {statistics.median(page_cpu) / statistics.median(bare_cpu):.3f}")
    print(f"the page's waits for a message, each run: {', '.join(page_waits)}")
    print(f"single runs: the page {[round(t * 1000) for t in page_ms]} us, the loop {[round(t * 1000) for t in bare_ms]} us")


if __name__ == "__main__":
    main()
