// A stand-in for Web MIDI whose far end is the simulated handheld or a loopback cable: the
// simulator's own model compiled to WebAssembly (build-web/trackpod-sim-node.js). The same
// under Node (tests/web/drive.js) and in a browser (tests/web/test_browser.py), where it
// takes the place of navigator.requestMIDIAccess.
'use strict';

// The next turn of the event loop, without a timer's least delay (a browser's is 4 ms).
const soon = typeof setImmediate === 'function' ? setImmediate : (() => {
  const channel = new MessageChannel();
  const queued = [];
  channel.port1.onmessage = () => queued.shift()();
  return f => { queued.push(f); channel.port2.postMessage(0); };
})();

function makeStandIn(far) {
  const inHeap = (module, bytes) => {
    const at = module._malloc(bytes.length + 1);
    module.HEAPU8.set(bytes, at);
    return at;
  };
  const fault = {unplugAfter: 0, cancelAfter: 0, refuseOpen: false, onCancel: () => {}};
  let sent = 0;
  // A port opens as Firefox's does: open() on a port already open never settles.
  function open() {
    if (this.connection === 'open') return new Promise(() => {});
    if (fault.refuseOpen && this.type === 'output') return Promise.reject(new Error('the port is in use'));
    this.connection = 'open';
    return Promise.resolve();
  }
  const input = {name: 'trackpod-sim out:from-handheld', id: 'in-1', type: 'input', state: 'connected',
                 connection: 'closed', onmidimessage: null, open};
  const output = {
    name: 'trackpod-sim in:to-handheld', id: 'out-1', type: 'output', state: 'connected', connection: 'closed', open,
    send(bytes) {
      if (output.state !== 'connected') throw new Error('InvalidStateError: the port is disconnected');
      far._sim_receive(inHeap(far, bytes), bytes.length);
      if (++sent === fault.unplugAfter) input.state = output.state = 'disconnected';
      if (sent === fault.cancelAfter) fault.onCancel();
      soon(deliver);
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
    soon(deliver);
  }
  return {
    input, output, fault,
    access: {inputs: new Map([[input.id, input]]), outputs: new Map([[output.id, output]]), onstatechange: null},
    // A handheld with this bank to stream, `holeAfter` messages of it left out (0: none),
    // silent after `answerPackets` data packets (0: never).
    handheld(bank, holeAfter, answerPackets) {
      far._sim_handheld(inHeap(far, bank), bank.length, holeAfter || 0, answerPackets || 0);
      sent = 0;
    },
    // The interface pulled out, now.
    pullOut() {
      input.state = output.state = 'disconnected';
      if (this.access.onstatechange) this.access.onstatechange({port: output});
    },
    // A loopback cable, intact (0) or changing a byte of every N-th message.
    cable(changeEvery) {
      far._sim_cable(changeEvery);
      sent = 0;
    },
    uploaded() { return far.HEAPU8.slice(far._sim_uploaded(), far._sim_uploaded() + far._sim_uploaded_length()); },
    commands() { return far._sim_commands(); },
  };
}

if (typeof module !== 'undefined') module.exports = makeStandIn;
