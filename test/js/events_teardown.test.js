'use strict';
// Teardown around the event bridge: environments that go away with events queued, players
// released in the middle of an event storm, and process exit during a flood. Each case runs in
// a child process, since a fault here crashes.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { child } = require('./proxy_helpers.js');

const loaderPath = JSON.stringify(require.resolve('./loader.js'));

// Defines workerSource(id, how) in a child: a worker that sets its player up with `setup` (code
// over m and id, counting its events in n), floods, and ends after its first 1000 events: by
// returning (its loop runs dry), by process.exit, or spinning until terminated from outside.
const floodingWorker = (setup) => `
    const workerSource = (id, how) => \`
      const { parentPort } = require('node:worker_threads');
      const m = require(${loaderPath.replace(/\\/g, '\\\\')}).loadModule();
      let n = 0;
      ${setup}
      m._setDataSource('\${id}', 'script:502,1,2*1000000;422,0,3,str:abc*300000');
      m._prepareAsync('\${id}');
      const t = setInterval(() => {
        if (n < 1000) return;
        clearInterval(t);
        parentPort.postMessage(n);
        if ('\${how}' === 'exit') process.exit(0);
        if ('\${how}' === 'spin') for (;;);
      }, 1);\`;`;

test('worker environments that register the listener and end during a flood', async () => {
  const r = await child(`
    const { Worker } = require('node:worker_threads');
    // The worker takes the listener, floods, and ends after its first events.
    ${floodingWorker("m._setMessageListener('${id}', () => { n++; }); m._native_init_audio('${id}');")}
    (async () => {
      let base = null;  // after a first round: Node opens some descriptors of its own lazily
      for (const [round, how] of ['return', 'return', 'exit', 'spin', 'return', 'exit', 'spin'].entries()) {
        const id = 'flood' + round;
        const w = new Worker(workerSource(id, how), { eval: true });
        const exited = new Promise((resolve) => w.once('exit', resolve));
        await within(new Promise((resolve) => w.once('message', resolve)),
          'the flood of the worker');
        if (how === 'spin') await w.terminate();
        await within(exited, 'the end of the worker');
        await sleep(50);  // the flood goes on with no environment to take it
        let got = 0;
        m._setMessageListener('main', () => got++);
        start('main' + round, '200*10');
        await until(() => got >= 10, 'main listener events');
        m._release(id);
        m._release('main' + round);
        if (round === 0) {
          await sleep(200);
          base = { threads: threadCount(), fds: fdCount() };
        }
      }
      await settled(base);
      console.log('ok');
    })().catch((e) => { console.error(e); process.exit(1); });`);
  assert.strictEqual(r.signal, null, r.err);
  assert.strictEqual(r.status, 0, r.err);
  assert.strictEqual(r.out, 'ok');
});

test('worker environments that route their flooding player and end', async () => {
  const r = await child(`
    const { Worker } = require('node:worker_threads');
    // The worker routes its player to its own listener and ends while the player floods; the
    // route goes with it: the main environment's routed listener never sees that player.
    ${floodingWorker("m._setRoutedListener(() => { n++; }); m._native_init_audio('${id}'); " +
      "parentPort.postMessage(m._routeEvents('${id}'));")}
    (async () => {
      const strays = new Set();
      for (const [round, how] of ['return', 'exit', 'spin', 'return', 'exit', 'spin'].entries()) {
        const id = 'routed' + round;
        const w = new Worker(workerSource(id, how), { eval: true });
        const exited = new Promise((resolve) => w.once('exit', resolve));
        const messages = [];
        await within(new Promise((resolve) => w.on('message', (v) => messages.push(v) === 2 &&
          resolve())), 'the flood of the worker');
        if (how === 'spin') await w.terminate();
        await within(exited, 'the end of the worker');
        const got = new Set();
        m._setRoutedListener((player) => got.add(player));
        m._native_init_audio('main' + round);
        const own = m._routeEvents('main' + round);
        m._setDataSource('main' + round, 'script:200*10');
        m._prepareAsync('main' + round);
        await until(() => got.has(own), 'main routed events');
        m._release(id);
        m._release('main' + round);
        got.delete(own);
        got.forEach((p) => strays.add(p));
      }
      console.log('ok', strays.size);
    })().catch((e) => { console.error(e); process.exit(1); });`);
  assert.strictEqual(r.signal, null, r.err);
  assert.strictEqual(r.status, 0, r.err);
  assert.strictEqual(r.out, 'ok 0');
});

test('release of a player during an event storm, 1,000 times', async () => {
  const r = await child(`
    (async () => {
      let got = 0;
      m._setMessageListener('storm', () => got++);
      start('warm', '200');
      await until(() => got === 1, 'warm-up event');
      m._release('warm');
      await sleep(100);
      const base = { threads: threadCount(), fds: fdCount() };
      for (let i = 0; i < 1000; i++) {
        start('storm', '502,1,2*100000;428,0,0,str:text*1000;300');
        if (i % 10 === 0) await new Promise(setImmediate);
        m._release('storm');
      }
      await settled(base);
      console.log('ok', got > 0);
    })().catch((e) => { console.error(e); process.exit(1); });`);
  assert.strictEqual(r.signal, null, r.err);
  assert.strictEqual(r.status, 0, r.err);
  assert.strictEqual(r.out, 'ok true');
});

test('process exit while players flood the listener', async () => {
  // Ends from inside the listener, with events of four players still queued.
  for (const ending of ['process.exit(0)', 'clearInterval(keep)']) {
    const r = await child(`
      let got = 0;
      const keep = setInterval(() => {}, 1000);
      m._setMessageListener('exit', () => { if (++got === 1000) ${ending}; });
      for (let i = 0; i < 4; i++) start('exit' + i, '502,1,2*300000;800,0,0,str:é*100000');`);
    assert.strictEqual(r.signal, null, `${ending}: ${r.err}`);
    assert.strictEqual(r.status, 0, `${ending}: ${r.err}`);
  }
});
