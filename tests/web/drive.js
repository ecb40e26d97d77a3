// Runs one job of the page's core (build-web/tpmidi01-node.js) under Node, against a stand-in
// for Web MIDI whose far end is the simulated handheld or a loopback cable, compiled to
// WebAssembly from the simulator's own model (build-web/trackpod-sim-node.js). Prints what a
// test checks, as JSON: the console's two streams, the exit status, the progress told, what
// reached the handheld and the files the job left.
//   node drive.js BUILD_DIR JOB.json
// JOB: {args: [...], files: {name: base64}, bank: base64, holeAfter: N, answerPackets: N (then
//       silent), cable: N (a loopback cable changing every N-th message; 0 intact),
//       unplugAfter: N (messages sent), cancelAfter: N, cancelWhenSaid: TEXT (on the error
//       stream), refuseOpen: true, noPorts: true}; or {pick: [port names]}: the port
//       chosen without asking, as {picked: INDEX}
'use strict';
const fs = require('fs');
const path = require('path');

async function main() {
  const [buildDir, jobFile] = process.argv.slice(2);
  const job = JSON.parse(fs.readFileSync(jobFile, 'utf8'));
  const core = await require(path.resolve(buildDir, 'tpmidi01-node.js'))();
  // Texts as the core takes them, each ended by a NUL, the list by an empty one.
  const packed = texts => {
    const bytes = Buffer.concat([...texts.map(t => Buffer.from(t + '\0')), Buffer.from([0])]);
    const at = core._malloc(bytes.length);
    core.HEAPU8.set(bytes, at);
    return at;
  };
  if (job.pick) {
    process.stdout.write(JSON.stringify({picked: core._tp_pick_port(packed(job.pick))}));
    return;
  }
  const far = await require(path.resolve(buildDir, 'trackpod-sim-node.js'))();

  const standIn = require('./stand_in.js')(far);
  if (job.cable !== undefined) {
    standIn.cable(job.cable);
  } else {
    standIn.handheld(Buffer.from(job.bank || '', 'base64'), job.holeAfter, job.answerPackets);
  }
  Object.assign(standIn.fault, {unplugAfter: job.unplugAfter, cancelAfter: job.cancelAfter,
                                refuseOpen: job.refuseOpen, onCancel: () => core.tpMidi.cancel()});
  const {input, output} = standIn;

  const said = {out: '', err: '', progress: [], continued: 0, wakeLocks: []};
  const m = core.tpMidi;
  m.input = job.noPorts ? null : input;
  m.output = job.noPorts ? null : output;
  m.write = (text, error) => {
    said[error ? 'err' : 'out'] += text;
    if (error && job.cancelWhenSaid && text.includes(job.cancelWhenSaid)) m.cancel();
  };
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
  const started = Date.now();
  said.status = await core.ccall('tp_run', 'number', ['number'], [packed(['tpmidi01', ...job.args])], {async: true});
  said.seconds = (Date.now() - started) / 1000;
  said.files = {};
  for (const name of core.FS.readdir('/work')) {
    if (name !== '.' && name !== '..') said.files[name] = Buffer.from(core.FS.readFile(name)).toString('base64');
  }
  said.uploaded = Buffer.from(standIn.uploaded()).toString('base64');
  said.commands = standIn.commands();
  process.stdout.write(JSON.stringify(said));
}

main().catch(e => { console.error(e); process.exit(3); });
