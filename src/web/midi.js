// The JavaScript side of the page's MIDI seam (src/web/binding.cpp): the ports chosen, the
// messages that came, the waits that give the browser its thread back, and what the page
// is asked to show. The page sets the hooks at the end; a test sets them to stand-ins.
Module.tpMidi = (function () {
  // A timer that keeps its length in a background tab: browsers hold a hidden tab's own
  // timers to about a second, but not a worker's. Where no worker can be made, the tab's.
  function makeTimer() {
    try {
      const source = 'onmessage = e => setTimeout(() => postMessage(e.data), e.data.ms);';
      const worker = new Worker(URL.createObjectURL(new Blob([source], {type: 'text/javascript'})));
      const waiting = new Map();
      let next = 1;
      worker.onmessage = e => {
        const done = waiting.get(e.data.id);
        waiting.delete(e.data.id);
        if (done) done();
      };
      return ms => new Promise(done => {
        const id = next++;
        waiting.set(id, done);
        worker.postMessage({id, ms});
      });
    } catch (e) {
      return ms => new Promise(done => setTimeout(done, ms));
    }
  }
  // Timing clock, MIDI time code and Active Sensing are not the handheld's: let through only
  // when asked, as the console program does.
  const realTime = new Set([0xF1, 0xF8, 0xFE]);

  const m = {
    // The chosen MIDIInput and MIDIOutput, or null.
    input: null, output: null,
    queue: [],
    passRealTime: false,
    // What a job's failure needs told (src/app/page.cpp says it): the browser's reason, the
    // port's name. Its code goes back as a call's result: cancelled (1), a port that cannot
    // be opened (2), a message that cannot be sent (3).
    reason: '', failedPort: '',
    cancelled: false,
    timer: null,

    portCount(input) { return (input ? m.input : m.output) ? 1 : 0; },
    portName(input) { const port = input ? m.input : m.output; return port ? port.name : ''; },
    fail(code, port, reason) {
      m.failedPort = port ? port.name : '';
      m.reason = reason ? String(reason.message || reason) : '';
      return code;
    },
    async open(input) {
      const port = input ? m.input : m.output;
      // Firefox never settles open() on a port already open: the second job would hang.
      if (port.connection === 'open') return 0;
      try {
        await port.open();
        return 0;
      } catch (e) {
        return m.fail(2, port, e);
      }
    },
    send(bytes) {
      try {
        m.output.send(bytes);
        return 0;
      } catch (e) {
        return m.fail(3, m.output, e);
      }
    },
    received(event) {
      const data = event.data;
      if (!data || data.length === 0 || (!m.passRealTime && realTime.has(data[0]))) return;
      m.queue.push(data);
      if (m.waiting) m.waiting.end();
    },
    nextLength() { return m.queue.length ? m.queue[0].length : 0; },
    take() { return m.queue.shift(); },
    // Resolves when a message comes, or after `ms`. In a shown tab, the tab's own timer,
    // cleared when the message comes first, which an exchange's answer mostly does. A hidden
    // tab's timers run a second late, so there the worker's serve: they cannot be cleared as
    // cheaply, so one serves every wait that ends after it, and a wait that ends sooner than
    // every one set gets its own.
    awaitMessage(ms) {
      if (m.queue.length || m.cancelled) return Promise.resolve();
      return new Promise(done => {
        const wait = {due: performance.now() + ms, end() {
          if (m.waiting === wait) m.waiting = null;
          clearTimeout(wait.timeout);
          done();
        }};
        m.waiting = wait;
        if (typeof document === 'object' && !document.hidden) wait.timeout = setTimeout(wait.end, ms);
        else m.timerFor(wait);
      });
    },
    waiting: null,
    // When the timers set run out.
    timersDue: [],
    timerFor(wait) {
      if (m.timersDue.some(due => due <= wait.due + 0.5)) return;
      const due = wait.due;
      m.timersDue.push(due);
      m.sleep(due - performance.now()).then(() => {
        m.timersDue.splice(m.timersDue.indexOf(due), 1);
        const now = m.waiting;
        if (!now) return;
        if (now.due - performance.now() <= 0.5) now.end(); else m.timerFor(now);
      });
    },
    sleep(ms) {
      if (!m.timer) m.timer = makeTimer();
      return m.timer(ms);
    },
    missingPort() {
      for (const port of [m.input, m.output]) {
        if (port && port.state === 'disconnected') return port.name;
      }
      return '';
    },
    // A job's start and end: what came before it is none of its business.
    begin() {
      m.queue = [];
      m.cancelled = false;
      m.passRealTime = false;
      if (m.input) m.input.onmidimessage = m.received;
    },
    end() {
      if (m.input) m.input.onmidimessage = null;
      if (m.waiting) m.waiting.end();
    },
    cancel() {
      m.cancelled = true;
      m.fail(1);
      if (m.waiting) m.waiting.end();
      m.continued(0);
    },

    // The page's hooks.
    write(text, error) { (error ? console.error : console.log)(text); },
    // Resolves 1 when the user continues, 0 when the job was cancelled.
    awaitContinue() {
      if (m.cancelled) return Promise.resolve(0);
      return new Promise(done => {
        m.continued = value => { m.continued = () => {}; done(value); };
        m.askContinue();
      });
    },
    continued(value) {},
    askContinue() {},
    progress(done, total) {},
    async holdWakeLock(reason) { return -1; },
    releaseWakeLock(handle) {},
  };
  return m;
})();
