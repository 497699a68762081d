'use strict';
// Events reach exactly the player whose engine player sent them: many players at once, a
// player ended while its engine still floods and another (or the same object) prepared at once,
// and players in a worker. KAVORI_CROSSOVER_ROUNDS sets the rounds of the flood case.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
require('./ets-require.js');
const kv = require('../Index.ets');
const { child, countLines, until, within } = require('../../test/js/proxy_helpers.js');

const ROUNDS = Number(process.env.KAVORI_CROSSOVER_ROUNDS || 20);

// A script whose events carry marker in every value (its hundreds): prepared, updates 0 to 9 in
// runs of each (many events in a short script: the module reads at most 2047 bytes of a text), a
// timed text, completion.
const pattern = (marker, each) => 'script:200;' +
  Array.from({ length: 10 }, (_, k) => `502,${marker * 100 + k}*${each}`).join(';') +
  `;800,0,0,str:end ${marker};300`;
const expected = (marker, each) => [['prepared'],
  ...Array.from({ length: 10 * each }, (_, i) =>
    ['bufferingUpdate', 3, marker * 100 + Math.floor(i / each)]),
  ['timedText', `end ${marker}`], ['completed']];

// Records the player's events as [name, ...values] (a new source clears them).
function watch(player) {
  player.events = [];
  player.on('prepared', () => player.events.push(['prepared']));
  player.on('bufferingUpdate', (t, v) => player.events.push(['bufferingUpdate', t, v]));
  player.on('timedText', (t) => player.events.push(['timedText', t]));
  player.on('completed', () => player.events.push(['completed']));
  return player;
}

test('8 players prepared and playing at once each get exactly their own events, in order',
  async () => {
  const players = Array.from({ length: 8 }, (_, i) => {
    const player = watch(kv.createPlayer());
    player.setSource(pattern(i + 1, 30 + 5 * i));
    return player;
  });
  await Promise.all(players.map(async (player) => {
    await player.prepare();
    player.play();
  }));
  try {
    await until(() => players.every((p) => p.events.length > 0 &&
      p.events[p.events.length - 1][0] === 'completed'), 'every player completed');
    players.forEach((player, i) => assert.deepStrictEqual(player.events,
      expected(i + 1, 30 + 5 * i), `player ${i}`));
  } finally {
    await Promise.all(players.map((p) => p.release()));
  }
});

// The router finds a serial in a table by its value modulo the table's size, growing the table for
// new serials, and falls back to a map for a serial whose slot a newer one took: players routed
// across such a clash, among many others, with one route replaced, each get exactly their own.
test('routes by serial: players whose serials share a slot, among 70 more, one route replaced',
  async () => {
  const { loadModule } = require('../../test/js/loader.js');
  const m = loadModule();
  const early = watch(kv.createPlayer());
  early.setSource(pattern(1, 40));
  // Engine players made and ended raw: the next serial is early's plus 4096, the largest table's
  // size, so the two share a slot at every size.
  for (let i = 0; i < 4095; i++) {
    m._native_setup_audio(`spacer-${i}`);
    m._release(`spacer-${i}`);
  }
  const late = watch(kv.createPlayer());
  late.setSource(pattern(2, 40));
  const idle = Array.from({ length: 70 }, () => kv.createPlayer());
  idle.forEach((p) => p.setSource('script:200'));
  const replaced = watch(kv.createPlayer());
  replaced.setSource(pattern(9, 40));
  await replaced.reset();
  replaced.setSource(pattern(3, 40));
  const playing = [early, late, replaced];
  try {
    await within(Promise.all(playing.map(async (p) => {
      await p.prepare();
      p.play();
    })), 'every player prepared');
    await until(() => playing.every((p) => p.events.length > 0 &&
      p.events[p.events.length - 1][0] === 'completed'), 'every player completed');
    playing.forEach((p, i) => assert.deepStrictEqual(p.events, expected(i + 1, 40), `player ${i}`));
  } finally {
    await Promise.all(playing.concat(idle).map((p) => p.release()));
  }
});

test(`no crossover: ended while flooding, another prepared at once (${ROUNDS} rounds)`,
  async () => {
  const FLOOD = 7;
  const crossed = [];
  // The flood's events that came after the switch: no player may get them.
  let switched = false;
  let late = 0;
  const countLate = (what, param1) => { if (switched && what === 3 && param1 === FLOOD) late++; };
  kv.addRawEventListener(countLate);
  for (let round = 0; round < ROUNDS; round++) {
    switched = false;
    const flooding = watch(kv.createPlayer());
    flooding.setSource(`script:200;502,${FLOOD},0*20000`);
    // From inside the flood's own delivery, as an app that stops on an event: ended without
    // awaiting, and the next player prepared at once, while the engine still posts the flood.
    let next = null;
    let preparing = null;
    let seen = 0;
    flooding.on('bufferingUpdate', () => {
      if (++seen !== 1000) return;
      switched = true;
      if (round % 2 === 0) {
        flooding.release();
        next = watch(kv.createPlayer());
      } else {
        flooding.reset();
        next = flooding;
        next.events = [];
      }
      next.setSource(pattern(round % 2 + 1, 50));
      preparing = next.prepare();
    });
    await flooding.prepare();
    await until(() => preparing !== null, 'the flood');
    await preparing;
    await until(() => next.events.some((e) => e[0] === 'completed'), 'the next player completed');
    const foreign = next.events.filter((e) => e[1] === FLOOD).length;
    if (foreign > 0) crossed.push(`round ${round}: ${foreign} events`);
    else assert.deepStrictEqual(next.events, expected(round % 2 + 1, 50), `round ${round}`);
    await next.release();
    await flooding.release();
  }
  kv.removeRawEventListener(countLate);
  console.log(`crossover rounds: ${crossed.length} of ${ROUNDS}; flood events after the ` +
    `switch: ${late}`);
  assert.ok(late > 0, 'the flood had events on their way at the switch');
  assert.deepStrictEqual(crossed, []);
});

test('a player created in a worker gets its events there, beside one on the main thread',
  async () => {
  const source = `
    const { parentPort } = require('node:worker_threads');
    require(${JSON.stringify(path.join(__dirname, 'ets-require.js'))});
    const kv = require(${JSON.stringify(path.join(__dirname, '..', 'Index.ets'))});
    const player = kv.createPlayer();
    const events = [];
    // Engine events do not hold a loop; past prepared, nothing else here would until completed.
    const hold = setInterval(() => {}, 0x7fffffff);
    player.on('bufferingUpdate', (t, v) => events.push(['bufferingUpdate', t, v]));
    player.on('completed', () => {
      player.release().then(() => {
        parentPort.postMessage(events);
        clearInterval(hold);
      });
    });
    player.setSource(${JSON.stringify(pattern(2, 200))});
    player.prepare();`;
  const main = watch(kv.createPlayer());
  main.setSource(pattern(1, 200));
  const worker = new Worker(source, { eval: true });
  const fromWorker = within(new Promise((resolve, reject) => {
    worker.once('message', resolve);
    worker.once('error', reject);
  }), 'the worker\'s events');
  await main.prepare();
  const workerEvents = await fromWorker;
  await until(() => main.events.some((e) => e[0] === 'completed'), 'main player completed');
  await main.release();
  await worker.terminate();
  assert.deepStrictEqual(main.events, expected(1, 200));
  assert.deepStrictEqual(workerEvents, expected(2, 200).filter((e) => e[0] === 'bufferingUpdate'));
});

// Runs source in a worker of a child process that has kv (the package) and post(value); gives the
// child's stdout. The child's main thread has m (the module) and the proxy helpers.
async function withWorkers(mainSource) {
  const r = await child(`
    const { Worker } = require('node:worker_threads');
    require(${JSON.stringify(path.join(__dirname, 'ets-require.js'))});
    const kv = require(${JSON.stringify(path.join(__dirname, '..', 'Index.ets'))});
    const inWorker = (source) => {
      const worker = new Worker(\`
        const { parentPort } = require('node:worker_threads');
        require(${JSON.stringify(path.join(__dirname, 'ets-require.js'))});
        const kv = require(${JSON.stringify(path.join(__dirname, '..', 'Index.ets'))});
        const post = (v) => parentPort.postMessage(v);
        const next = () => new Promise((r) => parentPort.once('message', r));
        (async () => { \${source} })().catch((e) => post('error: ' + e.message));\`,
      { eval: true });
      const messages = [];
      const waiting = [];
      worker.on('message', (v) => (waiting.length ? waiting.shift()(v) : messages.push(v)));
      const next = () => (messages.length ? Promise.resolve(messages.shift())
        : within(new Promise((r) => waiting.push(r)), 'a message of the worker'));
      return { worker, next };
    };
    (async () => { ${mainSource} })().catch((e) => { console.error(e); process.exit(1); });`);
  assert.strictEqual(r.status, 0, r.err);
  return r.out;
}

test('createPlayer with the id of a live player of another thread gives 5400102, with an ' +
  'engine player or without', async () => {
  const out = await withWorkers(`
    const main = kv.createPlayer({ id: 'shared' });
    main.setSource('script:200');
    const idle = kv.createPlayer({ id: 'idle-elsewhere' });  // no engine player
    const w = inWorker(\`
      const codes = [];
      const attempt = (f) => { try { f(); codes.push('ok'); } catch (e) { codes.push(e.code); } };
      attempt(() => kv.createPlayer({ id: 'shared' }));
      attempt(() => kv.createPlayer({ id: 'idle-elsewhere' }));
      post(codes);
      await next();  // the main players are released
      for (const id of ['shared', 'idle-elsewhere']) attempt(() => kv.createPlayer({ id }).release());
      post(codes);\`);
    const first = await w.next();
    const errors = [];
    idle.on('error', (e) => errors.push(e.code));
    idle.setSource('script:200');  // still this thread's
    const state = idle.state;
    await idle.release();
    await main.release();
    w.worker.postMessage('released');
    const second = await w.next();
    await w.worker.terminate();
    console.log(JSON.stringify({ first, second, errors, state }));`);
  assert.deepStrictEqual(JSON.parse(out), { first: [5400102, 5400102],
    second: [5400102, 5400102, 'ok', 'ok'], errors: [], state: 'initialized' });
});

test('a generated id is never one another thread holds, and comes back when that thread ends',
  async () => {
  const out = await withWorkers(`
    const first = kv.createPlayer();
    const id = first.id;
    await first.release();  // its id is free to come back here
    const w = inWorker(\`
      const { id } = await next();
      kv.createPlayer({ id });  // the worker's own choice, with no source yet
      post('made');
      await next();\`);
    w.worker.postMessage({ id });
    await w.next();
    const later = kv.createPlayer();
    let chosen = 'ok';
    try { kv.createPlayer({ id }); } catch (e) { chosen = e.code; }
    await later.release();
    await w.worker.terminate();  // its end gives the id up
    const after = kv.createPlayer({ id });
    await after.release();
    console.log(JSON.stringify({ generated: later.id === id, chosen, after: after.id === id }));`);
  assert.deepStrictEqual(JSON.parse(out), { generated: false, chosen: 5400102, after: true });
});

test('a worker that ends takes its players along: terminated mid-playback and mid-flood',
  async () => {
  const out = await withWorkers(`
    const report = await terminatedRounds(m, ([id, source]) => inWorker(\`
        const player = kv.createPlayer({ id: '\${id}' });
        let n = 0;
        player.on('bufferingUpdate', () => { if (++n === 1000) post('flooding'); });
        player.setSource(\${JSON.stringify(source)});
        player.loop = true;
        await player.prepare();
        await player.play();
        if ('\${id}' === 'loop') post('playing');\`));
    console.log(JSON.stringify(report));`);
  countLines(JSON.parse(out)).forEach((line) => console.log(line));
});

// Every slot of every player starts on one shared empty list: adding, removing and emitting on one
// player's slot must leave every other slot, of that player or another, as it was.
test('listener lists: a player\'s callbacks stay its own and its slot\'s, however they come and go',
  () => {
  const { PlayerEvents } = require('../src/main/ets/PlayerEvents.ets');
  const { EventSlot } = require('../src/main/ets/Events.ets');
  const [a, b] = [new PlayerEvents(), new PlayerEvents()];
  const calls = [];
  const f = (v) => calls.push(`f ${v}`);
  const g = (v) => calls.push(`g ${v}`);
  const slots = [[EventSlot.INFO, 'info'], [EventSlot.SEEK_DONE, 'seekDone'],
    [EventSlot.ERROR, 'error']];
  // Each step, then the calls of an emit on each of slots, player by player.
  const steps = [
    ['nothing added', () => {}, []],
    ['a adds f to info', () => a.add('info', f), ['f a info']],
    ['b adds g to seekDone', () => b.add('seekDone', g), ['f a info', 'g b seekDone']],
    ['a removes f', () => a.remove('info', f), ['g b seekDone']],
    ['b removes every seekDone callback', () => b.remove('seekDone'), []],
    ['a adds g to info again', () => a.add('info', g), ['g a info']],
  ];
  for (const [name, step, want] of steps) {
    step();
    calls.length = 0;
    for (const [key, player] of [['a', a], ['b', b], ['fresh', new PlayerEvents()]]) {
      for (const [slot, event] of slots) player.emit(slot, `${key} ${event}`);
      assert.strictEqual(player.listened(EventSlot.ERROR), false, `${name}: ${key}`);
    }
    assert.deepStrictEqual(calls, want, name);
  }
});
