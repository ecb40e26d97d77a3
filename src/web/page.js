// The page: ports, jobs and what the program says, over the core in WebAssembly. Every
// sentence it shows comes from the core: a job's lines as the console program writes them,
// the page's own from tp_page_words (src/app/page.cpp).
(function () {
  const $ = id => document.getElementById(id);
  const m = Module.tpMidi;
  const remembered = {input: 'tpmidi01.input', output: 'tpmidi01.output'};
  let words = {};
  let access = null;
  let busy = false;
  let offered = null;  // {name, bytes} a receive left for saving

  const say = (key, names) => (words[key] || '').replace('{file}', (names || {}).file || '');
  // A list of texts as the core takes it, each ended by a NUL, the list by an empty one: in
  // the core's memory, to be freed.
  const packed = texts => allocateUTF8(texts.map(t => t + '\0').join('') + '\0');
  const problem = text => { $('problem').textContent = text || ''; };

  // The job's lines, as a console shows them: a carriage return starts its line again. The
  // error stream's lines are lines of their own. Each piece between line ends changes its
  // line's text once, in place: a progress line is rewritten many times a second.
  let line = null, restart = false;
  function newLine(error) {
    line = document.createElement('div');
    line.error = error;
    if (error) line.className = 'err';
    line.appendChild(document.createTextNode(''));
    $('log').appendChild(line);
  }
  function write(text, error) {
    for (const piece of text.split(/(\r|\n)/)) {
      if (piece === '\r') {
        restart = true;
      } else if (piece === '\n') {
        if (!line || line.error !== error) newLine(error);
        line = null;
        restart = false;
      } else if (piece) {
        if (!line || line.error !== error) newLine(error);
        line.firstChild.data = restart ? piece : line.firstChild.data + piece;
        restart = false;
      }
    }
    $('log').scrollTop = $('log').scrollHeight;
  }

  // A bar, the kibibytes done and the time left at the pace so far (none once the job is
  // over, however it ended).
  let started = 0, told = [0, 0];
  function progress(done, total, over) {
    const now = performance.now();
    if (done === 0 || !started) started = now;
    told = [done, total];
    const bar = $('bar');
    if (total > 0) {
      bar.max = total;
      bar.value = done;
      const left = done > 0 ? (now - started) / done * (total - done) / 1000 : 0;
      $('barText').textContent = `${done >> 10} of ${total >> 10} KiB` +
          (done > 0 && done < total && !over ? `, about ${Math.ceil(left)} s left` : '');
    } else {
      // Of unknown length it moves as if busy, until the job ends.
      if (over) bar.value = 0; else bar.removeAttribute('value');
      $('barText').textContent = `${done >> 10} KiB`;
    }
  }

  const wakeLocks = new Map();
  let nextLock = 1;
  async function holdWakeLock() {
    try {
      const lock = await navigator.wakeLock.request('screen');
      wakeLocks.set(nextLock, lock);
      return nextLock++;
    } catch (e) {
      return -1;
    }
  }
  function releaseWakeLock(handle) {
    const lock = wakeLocks.get(handle);
    wakeLocks.delete(handle);
    if (lock) lock.release().catch(() => {});
  }

  function portsOf(kind) { return access ? [...access[kind === 'input' ? 'inputs' : 'outputs'].values()] : []; }

  // The lists, kept as the ports come and go: the user's last choice, else the port the
  // console program would open without asking.
  function fillList(kind) {
    const list = $(kind);
    const ports = portsOf(kind);
    const names = ports.map(p => p.name);
    const before = list.value || localStorage.getItem(remembered[kind]);
    list.textContent = '';
    list.appendChild(new Option('(none)', ''));
    ports.forEach(p => list.appendChild(new Option(p.name, p.id)));
    let chosen = ports.find(p => p.id === before || p.name === before);
    if (!chosen) {
      const at = packed(names);
      const index = Module._tp_pick_port(at);
      Module._free(at);
      chosen = index >= 0 ? ports[index] : null;
    }
    list.value = chosen ? chosen.id : '';
    list.disabled = busy || ports.length === 0;
  }
  function fillLists() {
    fillList('input');
    fillList('output');
    problem(portsOf('input').length + portsOf('output').length === 0 ? say('noPorts') : '');
  }

  async function connect() {
    if (!navigator.requestMIDIAccess) return problem(say('noWebMidi'));
    try {
      access = await navigator.requestMIDIAccess({sysex: true});
    } catch (e) {
      return problem(say('refused'));
    }
    access.onstatechange = () => { if (!busy) fillLists(); };
    fillLists();
  }

  // A control disabled under the keyboard's focus drops it: while a job runs the focus waits
  // on its lines, and then goes back to the control that started it.
  let returnTo = null;
  function lock(on) {
    busy = on;
    if (on) returnTo = document.activeElement;
    document.querySelectorAll('button.job, #connect, select, #file, #saveAs, #delay, #permanent').forEach(c => {
      c.disabled = on;
    });
    $('cancel').disabled = !on;
    if (on && returnTo && returnTo.disabled) $('log').focus();
    if (!on) {
      fillLists();
      const lost = [document.body, $('log'), null].includes(document.activeElement);
      if (lost && returnTo) returnTo.focus();
      returnTo = null;
    }
  }

  // Runs the program with these arguments over the chosen ports: its exit status.
  async function job(args) {
    if (busy) return null;
    const input = portsOf('input').find(p => p.id === $('input').value) || null;
    const output = portsOf('output').find(p => p.id === $('output').value) || null;
    if (!input || !output) { problem(say('choosePorts')); return null; }
    problem('');
    $('log').textContent = '';
    line = null;
    $('bar').value = 0;
    $('barText').textContent = '';
    started = 0;
    m.input = input;
    m.output = output;
    lock(true);
    try {
      const at = packed(['tpmidi01', ...args]);
      const status = await Module.ccall('tp_run', 'number', ['number'], [at], {async: true});
      Module._free(at);
      return status;
    } finally {
      if ($('barText').textContent) progress(told[0], told[1], true);
      $('continue').hidden = true;
      lock(false);
    }
  }

  function exists(name) {
    try { FS.stat(name); return true; } catch (e) { return false; }
  }
  function forget(name) { if (exists(name)) FS.unlink(name); }

  async function send(file) {
    if (!file) return problem(say('noFile'));
    const bytes = new Uint8Array(await file.arrayBuffer());
    const name = file.name.replace(/[\/\\]/g, '_') || 'file';
    FS.writeFile(name, bytes);
    const note = bytes.length === 0 ? 'empty' : bytes.length > 262144 ? 'tooLarge' : '';
    await job(['-send', name]);
    if (note) problem(say(note, {file: name}));
    forget(name);
  }

  // A bank is offered for saving only once it is whole; else only what came, as NAME.part.
  async function receive() {
    const name = ($('saveAs').value.trim() || 'bank.tp2').replace(/[\/\\]/g, '_');
    forget(name);
    forget(name + '.part');
    $('save').hidden = true;
    $('offer').textContent = '';
    await job(['-receive', name]);
    const kept = exists(name) ? name : exists(name + '.part') ? name + '.part' : null;
    if (!kept) return;
    if (kept === name) $('bar').value = $('bar').max;  // whole: it stands full
    offered = {name: kept, bytes: FS.readFile(kept)};
    $('offer').textContent = say(kept === name ? 'whole' : 'part', {file: kept});
    $('save').hidden = false;
  }

  function save() {
    if (!offered) return;
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([offered.bytes], {type: 'application/octet-stream'}));
    a.download = offered.name;
    document.body.appendChild(a);
    a.click();
    a.remove();
  }

  function mode(name, extra) {
    const permanent = $('permanent').checked;
    return job([permanent ? name.toUpperCase() : name, ...(extra || [])]);
  }

  Module.onRuntimeInitialized = () => {
    FS.mkdir('/work');
    FS.chdir('/work');
    for (const pair of UTF8ToString(Module._tp_page_words()).split('\n')) {
      const at = pair.indexOf('=');
      if (at > 0) words[pair.slice(0, at)] = pair.slice(at + 1);
    }
    $('why').textContent = say('why');
    if (location.protocol === 'file:') {
      $('fromDisk').textContent = say('fromDisk');
      $('fromDisk').hidden = false;
    }
    if (!navigator.requestMIDIAccess) {
      problem(say('noWebMidi'));
      $('connect').disabled = true;
    }
    m.write = write;
    m.progress = progress;
    m.holdWakeLock = holdWakeLock;
    m.releaseWakeLock = releaseWakeLock;
    m.askContinue = () => {
      $('continue').hidden = false;
      $('continue').focus();
    };
    $('continue').onclick = () => {
      $('continue').hidden = true;
      m.continued(1);
    };
    $('cancel').onclick = () => { $('continue').hidden = true; m.cancel(); };
    $('connect').onclick = connect;
    for (const kind of ['input', 'output']) {
      $(kind).onchange = () => localStorage.setItem(remembered[kind], $(kind).value);
    }
    $('send').onclick = () => send($('file').files[0]);
    document.body.addEventListener('dragover', e => e.preventDefault());
    document.body.addEventListener('drop', e => {
      e.preventDefault();
      if (e.dataTransfer.files.length) send(e.dataTransfer.files[0]);
    });
    $('receive').onclick = receive;
    $('save').onclick = save;
    $('sync').onclick = () => mode('-sync');
    $('midi').onclick = () => mode('-midi', [String($('delay').value)]);
    $('midireceive').onclick = () => mode('-midireceive');
    $('check').onclick = () => job(['--loopback']);
    // Closing the tab ends a job: asked first.
    window.addEventListener('beforeunload', e => {
      if (busy) { e.preventDefault(); e.returnValue = ''; }
    });
  };
})();
