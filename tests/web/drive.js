// Runs one job of the page's core (build-web/tpmidi01-node.js) under Node, against a stand-in
// for Web MIDI whose far end is the simulated handheld or a loopback cable, compiled to
// WebAssembly from the simulator's own model (build-web/trackpod-sim-node.js). Prints what a
// test checks, as JSON: the console's two streams, the exit status, the progress told, what
// reached the handheld and the files the job left.
//   node drive.js BUILD_DIR JOB.json
// JOB: {args: [...], files: {name: base64}, bank: base64, holeAfter: N, cable: N (a loopback
//       cable changing every N-th message; 0 intact), unplugAfter: N (messages sent),
//       cancelAfter: N, refuseOpen: true, noPorts: true}; or {pick: [port names]}: the port
//       chosen without asking, as {picked: INDEX}
'use strict';
const fs = require('fs');
const path = require('path');

async function main() {
  const [buildDir, jobFile] = process.argv.slice(2);
  const job = JSON.parse(fs.readFileSync(jobFile, 'utf8'));
  const core = await require(path.resolve(buildDir, 'tpmidi01-node.js'))();
  if (job.pick) {
    const names = Buffer.concat([...job.pick.map(n => Buffer.concat([Buffer.from(n), Buffer.from([0])])), Buffer.from([0])]);
    const at = core._malloc(names.length);
    core.HEAPU8.set(names, at);
    process.stdout.write(JSON.stringify({picked: core._tp_pick_port(at)}));
    return;
  }
  const far = await require(path.resolve(buildDir, 'trackpod-sim-node.js'))();

  const inHeap = (module, bytes) => {
    const at = module._malloc(bytes.length + 1);
    module.HEAPU8.set(bytes, at);
    return at;
  };
  if (job.cable !== undefined) {
    far._sim_cable(job.cable);
  } else {
    const bank = Buffer.from(job.bank || '', 'base64');
    far._sim_handheld(inHeap(far, bank), bank.length, job.holeAfter || 0);
  }

  // The stand-in's ports: what the page's MIDIInput and MIDIOutput give the core.
  let sent = 0;
  const input = {name: 'trackpod-sim out:from-handheld', state: 'connected', onmidimessage: null,
                 open: async () => {}};
  const output = {
    name: 'trackpod-sim in:to-handheld', state: 'connected',
    open: async () => { if (job.refuseOpen) throw new Error('the port is in use'); },
    send(bytes) {
      if (output.state !== 'connected') throw new Error('InvalidStateError: the port is disconnected');
      far._sim_receive(inHeap(far, bytes), bytes.length);
      if (++sent === job.unplugAfter) input.state = output.state = 'disconnected';
      if (sent === job.cancelAfter) core.tpMidi.cancel();
      setImmediate(deliver);
    },
  };
  // The far end's messages arrive as Web MIDI's events do, each on its own turn.
  function deliver() {
    const length = far._sim_next_length();
    if (length === 0 || input.state !== 'connected') return;
    const at = far._malloc(length);
    far._sim_take(at);
    const data = far.HEAPU8.slice(at, at + length);
    far._free(at);
    if (input.onmidimessage) input.onmidimessage({data});
    setImmediate(deliver);
  }

  const said = {out: '', err: '', progress: [], continued: 0, wakeLocks: []};
  const m = core.tpMidi;
  m.input = job.noPorts ? null : input;
  m.output = job.noPorts ? null : output;
  m.write = (text, error) => { said[error ? 'err' : 'out'] += text; };
  m.askContinue = () => { said.continued++; setImmediate(() => m.continued(1)); };
  m.progress = (done, total) => said.progress.push([done, total]);
  m.holdWakeLock = async reason => { said.wakeLocks.push(reason); return 3; };
  m.releaseWakeLock = handle => said.wakeLocks.push('released ' + handle);
  // Each wait for a message, counted: the page must not spin.
  const awaitMessage = m.awaitMessage;
  said.waits = 0;
  m.awaitMessage = ms => { said.waits++; return awaitMessage(ms); };

  core.FS.mkdir('/work');
  core.FS.chdir('/work');
  for (const [name, data] of Object.entries(job.files || {})) core.FS.writeFile(name, Buffer.from(data, 'base64'));
  const packed = Buffer.concat(['tpmidi01', ...job.args].map(a => Buffer.concat([Buffer.from(a), Buffer.from([0])])));
  const started = Date.now();
  said.status = await core.ccall('tp_run', 'number', ['number'], [inHeap(core, Buffer.concat([packed, Buffer.from([0])]))],
                                 {async: true});
  said.seconds = (Date.now() - started) / 1000;
  said.files = {};
  for (const name of core.FS.readdir('/work')) {
    if (name !== '.' && name !== '..') said.files[name] = Buffer.from(core.FS.readFile(name)).toString('base64');
  }
  said.uploaded = Buffer.from(far.HEAPU8.slice(far._sim_uploaded(), far._sim_uploaded() + far._sim_uploaded_length()))
                      .toString('base64');
  said.commands = far._sim_commands();
  process.stdout.write(JSON.stringify(said));
}

main().catch(e => { console.error(e); process.exit(3); });
