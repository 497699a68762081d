'use strict';
// Delivery rules of the event bridge: one listener for the module, events reach the listener
// registered when they were posted, argument shapes, order per player, replaced listeners freed.
const test = require('node:test');
const assert = require('node:assert');
const { hilog } = require('./logfile.js');

const logfilePath = JSON.stringify(require.resolve('./logfile.js'));

const log = hilog();
const { loadModule } = require('./loader.js');
const { until, child } = require('./proxy_helpers.js');

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

test('arguments: three numbers, or four with a text; undefined receiver; result ignored', async () => {
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
test('events posted before any listener are dropped, texts included', () => {
  const r = child(`
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

test('a listener that throws: reported as uncaught, the batch goes on', () => {
  const r = child(`
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

test('replaced listeners are released once their events are delivered', () => {
  const r = child(`
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
