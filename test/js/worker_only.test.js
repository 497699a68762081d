'use strict';
// The module loaded only in workers, never on the main thread: Node unloads it when the last
// environment that loaded it ends, while the message threads of the players that environment
// owned may still be running. Each ending runs in a child process of its own, where every round
// is a new worker that loads the module afresh, owns a player in one state and ends; the child
// then waits until every thread of that round is gone. A message thread left in unloaded code
// kills the child with SIGSEGV.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { runNode, emulated } = require('./node_child.js');

const loaderPath = JSON.stringify(require.resolve('./loader.js'));
const helpersPath = JSON.stringify(require.resolve('./proxy_helpers.js'));
const sanitized = Boolean(process.env.ASAN_OPTIONS || process.env.TSAN_OPTIONS);
// Rounds of each state per ending: 4 endings x 5 states x 3 = 60 runs, 20 under a sanitizer or
// emulation.
const rounds = Number(process.env.KAVORI_UNLOAD_ROUNDS || (sanitized || emulated ? 1 : 3));

// What the worker does with its player `p` before it ends; each posts 'ready' once it is there.
// Under way: prepared and not released, so the owned player holds the worker until it ends.
const states = {
  preparing: `m._setRoutedListener(() => {});
    m._setDataSource('p', 'script:200;502,1,2*1000');
    m._prepareAsync('p');
    post('ready');`,
  playing: `m._setRoutedListener((player, what) => { if (what === 1) m._start('p'); });
    m._setDataSource('p', ${JSON.stringify(`${__dirname}/../../examples/media/tone.m4a`)});
    m._setLoopCount('p', '0');
    m._prepareAsync('p');
    await until(() => m._isPlaying('p'), 'playing');
    post('ready');`,
  flooding: `let n = 0;
    m._setRoutedListener(() => { if (++n === 1000) post('ready'); });
    m._setDataSource('p', 'script:502,1,2*19000000');
    m._prepareAsync('p');`,
  // The engine error has dropped the hold: returning ends the worker with the player alive.
  failedListening: `m._setRoutedListener((player, what) => { if (what === 100) post('ready'); });
    m._setDataSource('p', 'script:100,-2;502,1,2*100000');
    m._prepareAsync('p');`,
  failedUnheard: `m._setMessageListener('p', (what) => { if (what === 100) post('ready'); });
    m._setDataSource('p', 'script:100,-2;502,1,2*100000');
    m._prepareAsync('p');`,
};

// How the worker ends once its player is in its state. A player still holding the worker is
// released before returning; a failed one holds nothing and stays.
const endings = {
  return: `if (!failed) m._release('p');`,
  terminate: 'for (;;);',  // spins until the parent terminates it
  exit: 'process.exit(0);',
  throw: `setImmediate(() => { throw new Error('thrown by the worker'); });`,
};

async function runEnding(ending) {
  const source = `
    const { Worker } = require('node:worker_threads');
    const { until, within, settled, processCounts } = require(${helpersPath});
    const states = ${JSON.stringify(states)};
    const round = async (state) => {
      const worker = new Worker(\`
        const { parentPort } = require('node:worker_threads');
        const m = require(${loaderPath}).loadModule();
        const { until } = require(${helpersPath});
        const post = (v) => parentPort.postMessage(v);
        const failed = \${JSON.stringify(state.startsWith('failed'))};
        parentPort.once('message', () => { ${endings[ending]} });
        (async () => {
          m._native_init_audio('p');
          m._routeEvents('p', true);
          \${states[state]}
        })();\`, { eval: true });
      worker.on('error', (e) => { if (!/thrown by the worker/.test(e.message)) console.error(e); });
      const exited = new Promise((r) => worker.once('exit', r));
      await within(new Promise((r) => worker.once('message', r)), state + ' under way');
      worker.postMessage('end');
      if (${JSON.stringify(ending)} === 'terminate') await worker.terminate();
      await within(exited, 'the end of the worker in state ' + state);
    };
    (async () => {
      await round('preparing');  // Node opens some threads and descriptors of its own lazily
      const base = processCounts();
      for (let i = 0; i < ${rounds}; i++) {
        for (const state of Object.keys(states)) {
          await round(state);
          await settled(base);  // every message thread has left, or crashed the process
          console.log(state);  // a pipe's writes are synchronous: a crash loses none
        }
      }
    })().catch((e) => { console.error(e); process.exit(1); });`;
  const r = await runNode(['-e', source]);
  return { status: r.status, signal: r.signal, out: r.stdout.trim(), err: r.stderr };
}

// One test per ending, each with its own limit: under emulation a round takes seconds.
for (const ending of Object.keys(endings)) {
  test(`a module loaded only by workers outlives them when they end by ${ending}`, async () => {
    const r = await runEnding(ending);
    const report = `${ending}: ${r.signal || r.status} after ${r.out ? r.out.split('\n').length : 0} runs`;
    console.log(report);
    assert.deepStrictEqual([r.signal, r.status], [null, 0], `${report}\n${r.err}`);
  });
}
