'use strict';
// Routing across environments and over a player's whole life: where routed events go, what the
// raw listener still gets, and that every route is given back. Each case runs in a child process,
// so that the routes it counts are its own.
const test = require('node:test');
const assert = require('node:assert');
const { child } = require('./proxy_helpers.js');

const loaderPath = JSON.stringify(require.resolve('./loader.js'));
const helpersPath = JSON.stringify(require.resolve('./proxy_helpers.js'));

// Defines inWorker(source) in a child: runs source in a worker that has m, until and post(value)
// (to the parent); gives { worker, next() } where next() waits for the worker's next message.
const workers = `
  const { Worker } = require('node:worker_threads');
  const inWorker = (source) => {
    const worker = new Worker(\`
      const { parentPort } = require('node:worker_threads');
      const m = require(${loaderPath}).loadModule();
      const { until } = require(${helpersPath});
      const post = (v) => parentPort.postMessage(v);
      const next = () => new Promise((r) => parentPort.once('message', r));
      (async () => { \${source} })().catch((e) => { post('error: ' + e.message); });\`,
      { eval: true });
    const messages = [];
    const waiting = [];
    worker.on('message', (v) => (waiting.length ? waiting.shift()(v) : messages.push(v)));
    const next = () => (messages.length ? Promise.resolve(messages.shift())
      : new Promise((r) => waiting.push(r)));
    const exited = new Promise((r) => worker.once('exit', r));
    return { worker, next, exited };
  };
`;

function run(source) {
  const r = child(`${workers}
    (async () => { ${source} })().catch((e) => { console.error(e); process.exit(1); });`);
  assert.strictEqual(r.signal, null, r.err);
  assert.strictEqual(r.status, 0, r.err);
  return JSON.parse(r.out);
}

test('a route set before the listener loses nothing, and goes once the player ends', () => {
  const out = run(`
    m._setMessageListener('r', () => {});
    m._native_init_audio('a');
    const player = m._routeEvents('a');
    const got = [];
    m._setRoutedListener((...e) => got.push(e));
    m._setDataSource('a', 'script:502,1,1*100;300');
    m._prepareAsync('a');
    await until(() => got.length === 101, () => got.length + ' routed');
    const held = m._routeCount();
    m._release('a');
    await until(() => m._routeCount() === 0, () => m._routeCount() + ' routes held');
    console.log(JSON.stringify({ player, held, all: got.every((e) => e[0] === player) }));`);
  assert.deepStrictEqual([out.player > 0, out.held, out.all], [true, 1, true]);
});

test('text events of a routed player reach the raw listener with their text too', () => {
  const out = run(`
    const raw = [];
    const got = [];
    m._setMessageListener('t', (...e) => raw.push(e));
    m._setRoutedListener((...e) => got.push(e));
    m._native_init_audio('t');
    const player = m._routeEvents('t');
    m._setDataSource('t', 'script:428,0,0,str:hi;300');
    m._prepareAsync('t');
    await until(() => raw.length === 2 && got.length === 2, 'both listeners');
    m._release('t');
    console.log(JSON.stringify({ raw, got: got.map(([p, ...e]) => [p === player, ...e]) }));`);
  assert.deepStrictEqual(out.raw, [[200, 428, 0, 'hi'], [2, 0, 0]]);
  assert.deepStrictEqual(out.got, [[true, 200, 428, 0, 'hi'], [true, 2, 0, 0]]);
});

test('an environment that routes nothing gets no routed event', () => {
  const out = run(`
    const w = inWorker(\`
      let n = 0;
      m._setRoutedListener(() => { n++; });
      post('listening');
      await next();  // the main player's events are all queued by now
      m._native_init_audio('own');
      m._routeEvents('own');
      m._setDataSource('own', 'script:502,9,9;300');
      m._prepareAsync('own');
      await until(() => n >= 2, 'own events');  // after any stray ones, in queue order
      m._release('own');
      post(n);\`);
    await w.next();
    const got = [];
    m._setRoutedListener((...e) => got.push(e));
    m._native_init_audio('main');
    m._routeEvents('main');
    m._setDataSource('main', 'script:502,1,1*100;300');
    m._prepareAsync('main');
    await until(() => got.length === 101, () => got.length + ' routed');
    m._release('main');
    w.worker.postMessage('go');
    const workerGot = await w.next();
    await w.exited;
    console.log(JSON.stringify({ workerGot }));`);
  assert.deepStrictEqual(out, { workerGot: 2 });
});

test('a route moved by a worker before prepare takes every event there', () => {
  const out = run(`
    const got = [];
    m._setRoutedListener((...e) => got.push(e));
    m._setMessageListener('mv', () => {});
    m._native_init_audio('mv');
    const player = m._routeEvents('mv');
    const w = inWorker(\`
      let n = 0;
      m._setRoutedListener(() => { n++; });
      post(m._routeEvents('mv'));
      await until(() => n === 101, () => n + ' moved events');
      post(n);\`);
    const moved = await w.next();
    m._setDataSource('mv', 'script:502,1,1*100;300');
    m._prepareAsync('mv');
    const workerGot = await w.next();
    await w.exited;
    m._release('mv');
    console.log(JSON.stringify({ same: moved === player, workerGot, mainGot: got.length }));`);
  assert.deepStrictEqual(out, { same: true, workerGot: 101, mainGot: 0 });
});

test('an ended environment gives its routes back while its players live on', () => {
  const out = run(`
    m._native_init_audio('kept');
    const w = inWorker(\`
      m._setRoutedListener(() => {});
      post(m._routeEvents('kept'));
      await next();\`);  // ends once the count is read
    const player = await w.next();
    const held = m._routeCount();
    w.worker.postMessage('end');
    await w.exited;
    await until(() => m._routeCount() === 0, () => m._routeCount() + ' routes held');
    m._release('kept');
    console.log(JSON.stringify({ routed: player > 0, held }));`);
  assert.deepStrictEqual(out, { routed: true, held: 1 });
});

test('players released mid-flood: the routed path gets exactly what the raw path got', () => {
  const out = run(`
    const players = 4;
    const raw = new Array(players).fill(0);
    const routed = new Map();
    // Each player is released from inside the listener, at its 1000th event: mid-flood.
    m._setMessageListener('f', (what, param1, param2) => {
      if (++raw[param2] === 1000) m._release('f' + param2);
    });
    m._setRoutedListener((player) => routed.set(player, (routed.get(player) || 0) + 1));
    const serials = [];
    for (let p = 0; p < players; p++) {
      m._native_init_audio('f' + p);
      serials.push(m._routeEvents('f' + p));
      m._setDataSource('f' + p, 'script:502,1,' + p + '*1000000');
      m._prepareAsync('f' + p);
    }
    await until(() => m._routeCount() === 0, () => m._routeCount() + ' routes held');
    // Every loop has ended: one more event on each path comes after all of theirs.
    let last = 0;
    m._setMessageListener('f', (what, param1, param2) => {
      if (what === 2) last++; else raw[param2]++;
    });
    m._setRoutedListener((player, what) => {
      if (what === 2) last++; else routed.set(player, (routed.get(player) || 0) + 1);
    });
    m._native_init_audio('end');
    m._routeEvents('end');
    m._setDataSource('end', 'script:300');
    m._prepareAsync('end');
    await until(() => last === 2, 'the last event on both paths');
    m._release('end');
    const got = serials.map((s) => routed.get(s) || 0);
    console.log(JSON.stringify({ raw, got, released: raw.every((n) => n < 1000000) }));`);
  assert.deepStrictEqual(out.got, out.raw);
  assert.ok(out.released, `released mid-flood: ${out.raw}`);
});
