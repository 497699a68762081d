'use strict';
// Delivery rules of the event bridge: one listener for the module, events reach the listener
// registered when they were posted, argument shapes, order per player, replaced listeners freed.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { hilog } = require('./logfile.js');

const logfilePath = JSON.stringify(require.resolve('./logfile.js'));

const log = hilog();
const { loadModule, buildDir } = require('./loader.js');
const { until, child } = require('./proxy_helpers.js');
const { emulated, runNode } = require('./node_child.js');

const m = loadModule();
m._nativeOpenlog('delivery');

let serial = 0;
function start(script) {
  const id = `delivery-${++serial}`;
  m._native_init_audio(id);
  m._setDataSource(id, `script:${script}`);
  m._prepareAsync(id);
  return id;
}

// Blocks the JS thread until hilog shows that the loop has read the unknown code marker, which
// the script puts after its last event: every event before it is queued and undelivered.
function blockUntilRead(marker) {
  const wanted = `unknown KVP_MSG_xxx(${marker})\\n`;
  const end = Date.now() + 30000;
  while (!log.all().some((l) => l.endsWith(wanted))) {
    if (Date.now() > end) throw new Error(`marker ${marker} never read`);
  }
}

test('arguments: three numbers, or four with a text; undefined receiver; result ignored',
  async () => {
  const calls = [];
  m._setMessageListener('delivery', function (...args) {
    calls.push({ self: this, args });
    return 'ignored';
  });
  const id = start('200;422,0,0,str:x;300,1,1');
  await until(() => calls.length === 3, 'three events');
  m._release(id);
  assert.deepStrictEqual(calls.map((c) => c.args), [[1, 0, 0], [200, 422, 0, ''], [2, 0, 0]]);
  assert.deepStrictEqual(calls.map((c) => c.args.length), [3, 4, 3]);
  assert.ok(calls.every((c) => c.self === undefined));
});

test('routed arguments: the serial first; a text slot only for a listener that declares one',
  async () => {
  const throwingLength = function (...args) { calls.push(args); };
  Object.defineProperty(throwingLength, 'length', { get() { throw new Error('length'); } });
  const calls = [];
  const cases = [
    ['rest parameters', function (...args) { calls.push(args); }, [4, 5, 4]],
    ['five declared', function (p, w, a, b, text) { calls.push([...arguments]); }, [5, 5, 5]],
    ['a throwing length', throwingLength, [4, 5, 4]],
  ];
  m._setMessageListener('delivery', () => {});
  for (const [name, listener, lengths] of cases) {
    calls.length = 0;
    assert.strictEqual(m._setRoutedListener(listener), true, name);
    const id = `delivery-routed-args-${lengths.join('')}-${name.length}`;
    m._native_init_audio(id);
    const player = m._routeEvents(id);
    m._setDataSource(id, 'script:200;422,0,0,str:x;300,1,1');
    m._prepareAsync(id);
    await until(() => calls.length === 3, `three events (${name})`);
    m._release(id);
    const pad = (e) => (lengths[0] === 5 ? [...e, undefined] : e);
    assert.deepStrictEqual(calls, [pad([player, 1, 0, 0]), [player, 200, 422, 0, ''],
      pad([player, 2, 0, 0])], name);
    assert.deepStrictEqual(calls.map((c) => c.length), lengths, name);
  }
  m._setRoutedListener(null);
});

test('one batch of many kinds: each event keeps its own numbers across the groups of calls',
  async () => {
  // Three kinds in turn, all queued while the JS thread is held: one batch, delivered over more
  // than two groups of listener calls, where numbers are made once while they repeat.
  const rows = [['502,1,2', [3, 1, 2]], ['0', [0, 0, 0]], ['400,5,6', [5, 5, 6]]];
  const picked = Array.from({ length: 150 }, (_, i) => rows[i % rows.length]);
  const got = [];
  m._setMessageListener('delivery', (...a) => got.push(a));
  const id = start(`${picked.map((r) => r[0]).join(';')};4751`);
  blockUntilRead(4751);
  await until(() => got.length === picked.length, () => `${got.length} events`);
  m._release(id);
  assert.deepStrictEqual(got, picked.map((r) => r[1]));
});

test('a second listener: queued events reach the first, later ones the second', async () => {
  const first = [];
  const second = [];
  m._setMessageListener('delivery', (...a) => first.push(a));
  const a = start('502,1,1*500;100,4711;4711');
  blockUntilRead(4711);
  m._setMessageListener('', (...a) => second.push(a));
  const b = start('502,2,2*300;100,4712');
  await until(() => first.length >= 501 && second.length >= 301,
    () => `events: ${first.length} of the first player, ${second.length} of the second`);
  m._release(a);
  m._release(b);
  assert.strictEqual(first.length, 501);
  assert.ok(first.slice(0, 500).every((e) => e[1] === 1));
  assert.ok(second.slice(0, 300).every((e) => e[1] === 2));
});

test('a listener that is not a function changes nothing and logs an error', async () => {
  const calls = [];
  m._setMessageListener('delivery', (...a) => calls.push(a));
  log.take();
  for (const bad of [42, 'fn', {}, null, undefined]) m._setMessageListener('delivery', bad);
  m._setMessageListener('delivery');
  const errors = log.take().filter((l) => l.startsWith('E '));
  assert.deepStrictEqual(errors, Array(6).fill(
    'E A00000/KavoriPlayer: napi-->setMessageListener listener is not a function'));
  const id = start('200');
  await until(() => calls.length === 1, 'the event');
  m._release(id);
});

test('two players into one listener, identical arguments for identical messages', async () => {
  const calls = [];
  m._setMessageListener('delivery', (...a) => calls.push(a));
  const script = '200;400,320,240;422,0,2,str:hi;800,0,0,str:ü;300';
  const ids = [start(script), start(script)];
  await until(() => calls.length === 10, 'both players');
  ids.forEach((id) => m._release(id));
  const key = (e) => JSON.stringify(e);
  const counts = new Map();
  for (const e of calls) counts.set(key(e), (counts.get(key(e)) || 0) + 1);
  assert.deepStrictEqual([...counts.values()], [2, 2, 2, 2, 2]);
  assert.deepStrictEqual([...counts.keys()].map((k) => JSON.parse(k)),
    [[1, 0, 0], [5, 320, 240], [200, 422, 0, 'hi'], [99, 0, 0, 'ü'], [2, 0, 0]]);
});

test('4 concurrent players, 100,000 events each: per-player order kept, none lost', async () => {
  const CHUNKS = 100;
  const PER = 1000;
  const seen = [0, 1, 2, 3].map(() => ({ count: 0, last: -1, chunkCounts: new Array(CHUNKS).fill(0) }));
  let disorder = 0;
  m._setMessageListener('delivery', (what, chunk, player) => {
    const s = seen[player];
    if (what !== 3 || s === undefined || chunk < s.last) { disorder++; return; }
    s.last = chunk;
    s.count++;
    s.chunkCounts[chunk]++;
  });
  const ids = [0, 1, 2, 3].map((p) => {
    const items = [];
    for (let c = 0; c < CHUNKS; c++) items.push(`502,${c},${p}*${PER}`);
    return start(items.join(';'));
  });
  await until(() => seen.every((s) => s.count === CHUNKS * PER) || disorder > 0,
    'all events', 60000);
  ids.forEach((id) => m._release(id));
  assert.strictEqual(disorder, 0);
  for (const s of seen) assert.ok(s.chunkCounts.every((n) => n === PER));
});

// Crash-prone or process-wide cases run in a child of their own.
test('events posted before any listener are dropped, texts included', async () => {
  const r = await child(`
    (async () => {
      const lines = require(${logfilePath}).since(process.env.KAVORI_HILOG_FILE);
      m._nativeOpenlog('early');
      start('early', '422,0,3,str:abc;800,0,0,str:x;428,0,0,str:y;502,1,1*1000;9001');
      await until(() => lines().some((l) => l.includes('KVP_MSG_xxx(9001)')), 'the early script');
      const got = [];
      m._setMessageListener('late', (...a) => got.push(a));
      start('late', '200');
      await until(() => got.length > 0, 'the late event');
      m._release('early'); m._release('late');
      console.log(JSON.stringify(got));
    })();`);
  assert.strictEqual(r.status, 0, r.err);
  assert.strictEqual(r.out, '[[1,0,0]]');
});

test('a listener that throws: reported as uncaught, the batch goes on', async () => {
  const r = await child(`
    const got = [];
    process.on('uncaughtException', (e) => got.push('caught ' + e.message));
    m._setMessageListener('t', (w, p1) => { got.push(p1); if (p1 === 2) throw new Error('boom'); });
    start('t', '502,1;502,2;502,3');
    until(() => got.length === 4, () => got.join()).then(() => {
      m._release('t');
      console.log(got.join(','));
    });`);
  assert.strictEqual(r.status, 0, r.err);
  assert.strictEqual(r.out, '1,2,caught boom,3');
});

test('replaced listeners are released once their events are delivered', async () => {
  const r = await child(`
    (async () => {
      let collected = 0;
      const registry = new FinalizationRegistry(() => collected++);
      for (let i = 0; i < 200; i++) {
        const listener = () => {};
        registry.register(listener, i);
        m._setMessageListener('gc', listener);
        if (i % 50 === 0) start('gc' + i, '502,1,1*100');
      }
      const gone = () => { global.gc(); return collected >= 199; };
      await until(gone, () => \`\${collected} collected\`);
      for (let i = 0; i < 200; i += 50) m._release('gc' + i);
      console.log(collected);
    })();`, ['--expose-gc']);
  assert.strictEqual(r.status, 0, r.err);
  assert.strictEqual(r.out, '199');
});

// Routed events: each with the serial of the engine player that posted it.
function startRouted(script) {
  const id = `delivery-${++serial}`;
  m._native_init_audio(id);
  const player = m._routeEvents(id);
  m._setDataSource(id, `script:${script}`);
  m._prepareAsync(id);
  return { id, player };
}

test('routed: 6 players at once, each its own events in order, in both listeners', async () => {
  const routed = new Map();
  // The raw listener tells players apart by what they post: (3, c, p) and the text 'player p'.
  const raw = [0, 1, 2, 3, 4, 5].map(() => []);
  let rawCount = 0;
  assert.strictEqual(m._setRoutedListener(42), false);
  assert.strictEqual(m._setRoutedListener((player, ...event) => {
    if (!routed.has(player)) routed.set(player, []);
    routed.get(player).push(event);
  }), true);
  m._setMessageListener('delivery', (...event) => {
    rawCount++;
    if (event[0] === 3) raw[event[2]].push(event);
    if (event[0] === 200) raw[Number(event[3].slice(7))].push(event);
  });
  assert.strictEqual(m._routeEvents('delivery-no-player'), 0);
  // Player p posts chunks (3, c, p) of its own sizes, then a text of its own, then completes.
  const expected = [];
  const players = [0, 1, 2, 3, 4, 5].map((p) => {
    const items = [];
    const events = [];
    for (let c = 0; c < 20; c++) {
      const n = 1 + ((c * 7 + p * 13) % 50) * 100;
      items.push(`502,${c},${p}*${n}`);
      for (let i = 0; i < n; i++) events.push([3, c, p]);
    }
    items.push(`428,0,0,str:player ${p};300`);
    events.push([200, 428, 0, `player ${p}`], [2, 0, 0]);
    expected.push(events);
    return startRouted(items.join(';'));
  });
  const total = expected.reduce((sum, e) => sum + e.length, 0);
  await until(() => rawCount === total && players.every((pl, p) =>
    (routed.get(pl.player) || []).length === expected[p].length), 'every event', 60000);
  players.forEach((pl) => m._release(pl.id));
  assert.strictEqual(new Set(players.map((pl) => pl.player)).size, 6);
  assert.ok(players.every((pl) => Number.isSafeInteger(pl.player) && pl.player > 0));
  assert.deepStrictEqual([...routed.keys()].sort(), players.map((pl) => pl.player).sort());
  players.forEach((pl, p) =>
    assert.deepStrictEqual(routed.get(pl.player), expected[p], `player ${p}`));
  players.forEach((pl, p) =>
    assert.deepStrictEqual(raw[p], expected[p].slice(0, -1), `raw, player ${p}`));
  m._setRoutedListener(null);
});

test('routed: a player ended mid-flood hands both listeners its last events before its route goes',
  async () => {
  // What the loop took before the engine ended reaches both listeners at once: the route's end
  // may not overtake it. Three rounds, as a loop's end mostly falls inside a batch, not always.
  const raw = new Map();
  const routed = new Map();
  const add = (counts, p) => counts.set(p, (counts.get(p) || 0) + 1);
  m._setMessageListener('delivery', (what, param1, p) => add(raw, p));
  m._setRoutedListener((player, what, param1, p) => add(routed, p));
  const routes = m._routeCount();
  for (const p of [1, 2, 3]) {
    const { id } = startRouted(`502,0,${p}*19000000`);
    await until(() => routed.get(p) > 1000, 'the flood under way');
    m._release(id);
    await until(() => m._routeCount() === routes, 'the end of the loop');
  }
  // Queued behind every event of the ended loops, in both channels.
  const last = startRouted('502,0,4');
  await until(() => raw.get(4) === 1 && routed.get(4) === 1, 'the last event');
  m._release(last.id);
  for (const p of [1, 2, 3]) assert.strictEqual(routed.get(p), raw.get(p), `player ${p}`);
  m._setRoutedListener(null);
});

test('routed: a new engine player under one id: new serial; late events keep the old', async () => {
  const got = [];
  m._setRoutedListener((...a) => got.push(a));
  m._setMessageListener('delivery', () => {});
  const id = 'delivery-same-id';
  m._native_init_audio(id);
  const first = m._routeEvents(id);
  m._setDataSource(id, 'script:502,1,1*2000;100,4721;4721');
  m._prepareAsync(id);
  blockUntilRead(4721);  // the old player's events are queued, none delivered
  m._release(id);
  m._native_init_audio(id);
  const second = m._routeEvents(id);
  m._setDataSource(id, 'script:502,2,2*500;300');
  m._prepareAsync(id);
  await until(() => got.filter((e) => e[0] === second).length === 501 &&
    got.filter((e) => e[0] === first).length === 2001, 'events of both engine players');
  m._release(id);
  assert.ok(second > first && first > 0, `${first} then ${second}`);
  assert.ok(got.filter((e) => e[0] === first).every((e) => e[2] === 1 || e[1] === 100));
  assert.ok(got.filter((e) => e[0] === second).every((e) => e[2] === 2 || e[1] === 2));
  m._setRoutedListener(null);
});

test('routed: a listener replaced or removed inside a batch: each event to the one set then',
  async () => {
  // The five events are queued before any is delivered: one batch, one group of calls.
  const cases = [['replaced', true, [[1, 2, 3], [4, 5]]], ['removed', false, [[1, 2, 3], []]]];
  m._setMessageListener('delivery', () => {});
  for (const [name, replace, expected] of cases) {
    const first = [];
    const second = [];
    const next = (player, what, param1) => second.push(param1);
    m._setRoutedListener((player, what, param1) => {
      first.push(param1);
      if (param1 === 3) m._setRoutedListener(replace ? next : null);
    });
    const marker = 4731 + expected[1].length;
    const { id } = startRouted(`502,1;502,2;502,3;502,4;502,5;${marker}`);
    blockUntilRead(marker);
    await until(() => first.length >= 3, `the batch (${name})`);
    // A later player's events come after any of the batch's rest.
    m._setRoutedListener(next);
    const later = startRouted('502,6;4739');
    await until(() => second.includes(6), `the later player (${name})`);
    m._release(id);
    m._release(later.id);
    assert.deepStrictEqual([first, second.slice(0, -1)], expected, name);
  }
  m._setRoutedListener(null);
});

test('where scripts run nothing, as on the device: a call per event, with the same meanings',
  { skip: process.env.KAVORI_MODULE_FILE !== undefined }, async () => {
  // This file's delivery cases, run alone against the module built with such a napi_run_script.
  const cases = ['arguments', 'one batch of many kinds', 'two players', 'a listener that throws',
    'replaced or removed inside a batch', 'routed: 6 players'];
  const r = await runNode([`--test-name-pattern=${cases.join('|')}`, __filename],
    { env: { KAVORI_MODULE_FILE: 'libkavori_no_script_napi.so' } });
  const passed = r.stdout.split('\n').filter((l) => /^ok \d+ - /.test(l) && !l.includes('# SKIP'));
  assert.strictEqual(r.status, 0, `${r.stdout}\n${r.stderr}`);
  assert.strictEqual(passed.length, 7, r.stdout);
});

// Runs body in a child process with the event bench's addon (which carries its own copy of the
// bridge) as bench and rss() in MB; ASan's quarantine, which would keep freed blocks, is off.
function withBench(body) {
  const asan = process.env.ASAN_OPTIONS || '';
  return child(`
    const path = require('node:path');
    const addon = { exports: {} };
    process.dlopen(addon, path.join(${JSON.stringify(buildDir)}, 'kavori_bench_events.node'));
    const bench = addon.exports;
    const rss = () => process.memoryUsage().rss / 2 ** 20;
    (async () => {${body}
    })().catch((e) => { console.error(e); process.exit(1); });`, [],
  { ASAN_OPTIONS: `${asan}${asan ? ':' : ''}quarantine_size_mb=0` });
}

test('a flood\'s buffers go back once it is delivered', async () => {
  // Native producers flood a JS thread held until they end, so the queue holds the whole flood
  // (over 190 MB); once delivered, that storage must not stay with the process (the C library may
  // keep up to about 64 MB of the smaller blocks the queue grew through).
  const r = await withBench(`
      const N = 8000000;
      let got = 0;
      bench._setMessageListener('flood', () => got++);
      const before = rss();
      bench.produceBridge(4, N / 4, 0);
      bench.join();  // the JS thread is held until every event is queued
      const grown = rss() - before >= 128;
      await until(() => got === N, () => got + ' events', 60000);
      console.log(grown, Math.round(rss() - before));`);
  assert.strictEqual(r.status, 0, r.err);
  if (emulated) return;  // every event delivered; the memory figures read 0 there
  const [grown, retained] = r.out.split(' ');
  assert.strictEqual(grown, 'true', r.out);
  assert.ok(Number(retained) < 96, `${retained} MB kept after the flood`);
});

test('a flood that outpaced the JS thread gives its buffers back while a trickle follows', async () => {
  // A second flood is queued while the first is delivered, so both buffers are a flood's size when
  // it ends; a trickle follows, so the queue is seldom empty at a batch's end. Once the trickle is
  // under way, the floods' storage must be gone.
  const r = await withBench(`
      const [first, second, trickle] = [8000000, 2000000, 2000];
      let got = 0;
      bench._setMessageListener('flood', () => got++);
      const before = rss();
      bench.produceBridge(4, first / 4, 0);
      bench.join();  // the JS thread is held until the first flood is queued
      bench.produceBridge(4, second / 4, 0);  // queued while the first is delivered
      bench.produceBridge(1, trickle, 2000);
      await until(() => got >= first + second + trickle / 2, () => got + ' events', 120000);
      const retained = Math.round(rss() - before);
      await until(() => got === first + second + trickle, () => got + ' events', 60000);
      bench.join();
      console.log(retained);`);
  assert.strictEqual(r.status, 0, r.err);
  if (emulated) return;  // every event delivered; the memory figures read 0 there
  assert.ok(Number(r.out) < 96, `${r.out} MB kept while the trickle follows the floods`);
});

test('a flood lets its thread\'s loop run while it is delivered, and loses nothing, in order',
  async () => {
  // One producer floods a JS thread held until the whole flood is queued, so that one wake-up
  // finds all of it. An immediate and a timer set then must run while most of it is undelivered;
  // every event must come, in order. On the main thread, and in a worker of its own.
  const flood = `
    async function flood() {
      const path = require('node:path');
      const { until } = require(${JSON.stringify(require.resolve('./proxy_helpers.js'))});
      const addon = { exports: {} };
      process.dlopen(addon, path.join(${JSON.stringify(buildDir)}, 'kavori_bench_events.node'));
      const bench = addon.exports;
      const N = 2000000;
      let got = 0;
      let disorder = 0;
      bench._setMessageListener('flood', (what, seq) => { if (seq !== got++) disorder++; });
      bench.produceBridge(1, N, 0);
      bench.join();
      const seen = await Promise.all([new Promise((r) => setImmediate(() => r(got))),
        new Promise((r) => setTimeout(() => r(got), 0))]);
      await until(() => got === N, () => got + ' events', 120000);
      return { undelivered: seen.map((n) => N - n > 0), got, disorder };
    }`;
  const cases = [
    ['main thread', 'flood().then((r) => console.log(JSON.stringify(r)));'],
    ['worker', `const { Worker } = require('node:worker_threads');
      new Worker(${JSON.stringify(flood)} + 'flood().then((r) => ' +
        'require("node:worker_threads").parentPort.postMessage(r));', { eval: true })
        .on('message', (r) => console.log(JSON.stringify(r)));`],
  ];
  for (const [where, run] of cases) {
    const r = await child(`${flood}\n${run}`);
    assert.strictEqual(r.status, 0, r.err);
    assert.deepStrictEqual(JSON.parse(r.out), { undelivered: [true, true], got: 2000000,
      disorder: 0 }, where);
  }
});

test('a flood begun is delivered whole, also once nothing else keeps its thread\'s loop running',
  async () => {
  // An interval keeps the loop running until the first event; the rest of the flood must come
  // before the process ends all the same, as when one wake-up delivered all of it.
  const r = await withBench(`
      const N = 1000000;
      let got = 0;
      const keep = setInterval(() => {}, 1000);
      bench._setMessageListener('flood', () => { if (got++ === 0) clearInterval(keep); });
      bench.produceBridge(1, N, 0);
      bench.join();
      process.on('exit', () => console.log(got));`);
  assert.strictEqual(r.status, 0, r.err);
  assert.strictEqual(r.out, '1000000');
});

test('routed: an engine player that posts before its creator has it is routed all the same',
  async () => {
  const r = await child(`
    const raw = [];
    const got = [];
    m._setMessageListener('early', (...a) => raw.push(a));
    m._setRoutedListener((...a) => got.push(a));
    m._native_init_audio('early');  // the engine has handled its first message by now
    const player = m._routeEvents('early');
    m._setDataSource('early', 'script:502,1,2;300');
    m._prepareAsync('early');
    (async () => {
      await until(() => raw.length === 3 && got.length === 2,
        () => \`\${raw.length} raw, \${got.length} routed\`);
      m._release('early');
      console.log(JSON.stringify({ player, raw, got }));
    })();`, [], { KAVORI_ENGINE_POST_AT_CREATE: '1' });
  assert.strictEqual(r.status, 0, r.err);
  const { player, raw, got } = JSON.parse(r.out);
  assert.ok(player > 0);
  assert.deepStrictEqual(raw, [[0, 0, 0], [3, 1, 2], [2, 0, 0]]);
  assert.deepStrictEqual(got, [[player, 3, 1, 2], [player, 2, 0, 0]]);
});

test('routed: events posted while the listener is null reach no later listener', async () => {
  m._setMessageListener('delivery', () => {});
  m._setRoutedListener(() => {});
  m._setRoutedListener(null);
  const muted = startRouted('502,1,1*50;4741');
  blockUntilRead(4741);  // all 50 are posted, while no listener is set
  const got = [];
  m._setRoutedListener((...e) => got.push(e));
  const heard = startRouted('502,2,2;300');
  await until(() => got.some((e) => e[0] === heard.player && e[1] === 2), 'the second player\'s end');
  m._release(muted.id);
  m._release(heard.id);
  assert.deepStrictEqual(got, [[heard.player, 3, 2, 2], [heard.player, 2, 0, 0]]);
  m._setRoutedListener(null);
});

test('a flood\'s rest comes whatever the app did to its timers, and the process ends with it',
  async () => {
  // The timers are the app's (or its test framework's): the flood must not wait on them. A fake
  // that never fires, one that runs its callback at once, none at all, and throwing ones; set
  // before the first listener. Each run prints at its natural exit; an unref'd guard with the real
  // timer only stops a hang.
  const cases = [
    ['fake, never firing', '() => {}'],
    ['synchronous', '(fn) => { fn(); return 0; }'],
    ['deleted', undefined],
    ['throwing', '() => { throw new Error("no timers here"); }'],
  ];
  for (const [name, timer] of cases) {
    const replace = timer === undefined
      ? 'delete globalThis.setImmediate; delete globalThis.setTimeout;'
      : `globalThis.setImmediate = ${timer}; globalThis.setTimeout = ${timer};`;
    const r = await withBench(`
      const N = 10001;
      let got = 0;
      let disorder = 0;
      setTimeout(() => { console.log('hung at ' + got); process.exit(1); }, 60000).unref();
      const keep = setInterval(() => {}, 1000);  // until the first event, as an app's own work
      ${replace}
      bench._setMessageListener('flood', (what, seq) => {
        if (got === 0) clearInterval(keep);
        if (seq !== got++) disorder++;
      });
      bench.produceBridge(1, N, 0);
      bench.join();  // one batch: the whole flood is queued before the first delivery
      process.on('exit', () => console.log(got, disorder));`);
    assert.strictEqual(r.status, 0, `${name}: ${r.out} ${r.err}`);
    assert.strictEqual(r.out, '10001 0', name);
  }
});

test('a flood is delivered a slice of at most 4,096 events per turn of its thread\'s loop',
  async () => {
  // Counted in turns of the loop, not in time: an immediate that sets itself again marks each.
  // Slices of 4,096 let up to two go by per turn (the rest's own wake-up and a producer's).
  const r = await withBench(`
      const N = 1000000;
      const perTurn = [0];
      bench._setMessageListener('flood', () => perTurn[perTurn.length - 1]++);
      bench.produceBridge(1, N, 0);
      bench.join();
      const total = () => perTurn.reduce((a, b) => a + b, 0);
      const turn = () => { perTurn.push(0); if (total() < N) setImmediate(turn); };
      setImmediate(turn);
      await until(() => total() === N, () => total() + ' events', 120000);
      console.log(Math.max(...perTurn), perTurn.length);`);
  assert.strictEqual(r.status, 0, r.err);
  const [most, turns] = r.out.split(' ').map(Number);
  assert.ok(most <= 2 * 4096, `${most} events in one turn of the loop`);
  assert.ok(turns >= 1000000 / (2 * 4096), `${turns} turns`);
});

test('where the loop\'s next turn cannot be waited for: a flood comes at once, its listener let go',
  { skip: process.env.KAVORI_MODULE_FILE !== undefined }, async () => {
  // The module built so that no async work can be queued: a batch longer than a slice is
  // delivered whole at its wake-up. Its channel must still give back every hold it took, or a
  // replaced listener would stay referenced for ever.
  const r = await child(`
    (async () => {
      const lines = require(${logfilePath}).since(process.env.KAVORI_HILOG_FILE);
      m._nativeOpenlog('no-later');
      let collected = 0;
      const registry = new FinalizationRegistry(() => collected++);
      let got = 0;
      let disorder = 0;
      let flooding = (what, chunk, seq) => { if (what === 3 && chunk !== 1) disorder++; got++; };
      registry.register(flooding, 'flood');
      m._setMessageListener('no-later', flooding);
      flooding = null;
      start('no-later', '502,1,1*6000;4761');
      const wanted = 'unknown KVP_MSG_xxx(4761)\\\\n';
      while (!lines().some((l) => l.endsWith(wanted))) {}  // all of it queued, one batch
      await until(() => got === 6000, () => got + ' events');
      m._setMessageListener('no-later', () => {});
      await until(() => { global.gc(); return collected === 1; }, 'the replaced listener let go');
      m._release('no-later');
      console.log(got, disorder);
    })();`, ['--expose-gc'], { KAVORI_MODULE_FILE: 'libkavori_no_async_work_napi.so' });
  assert.strictEqual(r.status, 0, r.err);
  assert.strictEqual(r.out, '6000 0');
});

test('a polluted prototype adds no argument and takes no text away, in groups of calls',
  async () => {
  // Texts and textless events in one batch, so that they go in one group of calls.
  // Node's own timers read holes too: the wait is for the listeners, the loop kept by a port, and
  // the pollution taken back before anything else runs.
  const pollutions = [
    ['Object.prototype[0]', 'Object.prototype[0] = "x";', 'delete Object.prototype[0];'],
    ['Array.prototype[2]', 'Array.prototype[2] = "y";', 'delete Array.prototype[2];'],
    ['an accessor at Array.prototype[1]',
      'Object.defineProperty(Array.prototype, 1, { get() { return "z"; }, set(v) {}, ' +
        'configurable: true });', 'delete Array.prototype[1];'],
  ];
  for (const [name, pollute, clean] of pollutions) {
    const r = await child(`
      const lines = require(${logfilePath}).since(process.env.KAVORI_HILOG_FILE);
      m._nativeOpenlog('polluted');
      const { port1 } = new MessageChannel();
      port1.on('message', () => {});  // keeps the loop until the events are in
      // Kept in strings: the test's own arrays would meet the pollution too.
      let raw = '';
      let routed = '';
      let count = 0;
      const done = () => {
        if (++count < 8) return;
        ${clean}
        port1.close();
        m._release('polluted');
        console.log('[[' + raw.slice(1) + '],[' + routed.slice(1) + ']]');
      };
      m._setMessageListener('polluted', (...a) => { raw += ',' + JSON.stringify(a); done(); });
      m._setRoutedListener((player, ...a) => { routed += ',' + JSON.stringify(a); done(); });
      m._native_init_audio('polluted');
      m._routeEvents('polluted');
      m._setDataSource('polluted', 'script:502,1;428,0,0,str:t;502,2;502,3;4781');
      m._prepareAsync('polluted');
      const wanted = 'unknown KVP_MSG_xxx(4781)\\\\n';
      while (!lines().some((l) => l.endsWith(wanted))) {}  // one batch, one group of calls
      ${pollute}`);
    assert.strictEqual(r.status, 0, `${name}: ${r.err}`);
    const events = [[3, 1, 0], [200, 428, 0, 't'], [3, 2, 0], [3, 3, 0]];
    assert.deepStrictEqual(JSON.parse(r.out), [events, events], name);
  }
});
