'use strict';
// Routing across environments and over a player's whole life: where routed events go, what the
// raw listener still gets, and that every route is given back. Each case runs in a child process,
// so that the routes it counts are its own.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { child, countLines } = require('./proxy_helpers.js');
const { engineTrace } = require('./logfile.js');
const { emulated } = require('./node_child.js');

const loaderPath = JSON.stringify(require.resolve('./loader.js'));
// Memory is measured without a sanitizer only: their shadow memory and per-thread records grow
// with what a case does, not with what the module keeps.
const sanitized = Boolean(process.env.ASAN_OPTIONS || process.env.TSAN_OPTIONS);
// Emulated, the player churn is cut to a tenth and checked for its routes alone.
const churn = emulated ? 20000 : 200000;
const helpersPath = JSON.stringify(require.resolve('./proxy_helpers.js'));

// Defines inWorker(source) in a child: runs source in a worker that has m, until and post(value)
// (to the parent); gives { worker, next(), exited } where next() waits for the worker's next
// message and exited for its end, each with a limit that only stops a hang.
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
    const next = (ms) => (messages.length ? Promise.resolve(messages.shift())
      : within(new Promise((r) => waiting.push(r)), 'a message of the worker', ms));
    const ended = new Promise((r) => worker.once('exit', r));
    return { worker, next, get exited() { return within(ended, 'the end of the worker'); } };
  };
`;

async function run(source) {
  const r = await child(`${workers}
    (async () => { ${source} })().catch((e) => { console.error(e); process.exit(1); });`);
  assert.strictEqual(r.signal, null, r.err);
  assert.strictEqual(r.status, 0, r.err);
  return JSON.parse(r.out);
}

test('a route set before the listener loses nothing, and goes once the player ends', async () => {
  const out = await run(`
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

test('text events of a routed player reach the raw listener with their text too', async () => {
  const out = await run(`
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

test('an environment that routes nothing gets no routed event', async () => {
  const out = await run(`
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

test('a route moved by a worker before prepare takes every event there', async () => {
  const out = await run(`
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

test('an ended environment gives its routes back while its players live on', async () => {
  const out = await run(`
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

test('players released mid-flood: the routed path gets exactly what the raw path got', async () => {
  // A JS thread kept off the cores while the engine queues a whole flood releases no player
  // mid-flood; such a round proves less but must hold all the same, and another is run.
  const rounds = [];
  do {
    const out = await run(`
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
      console.log(JSON.stringify({ raw, got, released: raw.some((n) => n < 1000000) }));`);
    assert.deepStrictEqual(out.got, out.raw);
    rounds.push(out);
  } while (!rounds[rounds.length - 1].released && rounds.length < 5);
  assert.ok(rounds.some((out) => out.released), `released mid-flood: ${JSON.stringify(rounds)}`);
});

test('an owned route stays with its environment: another is refused and sees the owner',
  async () => {
  const out = await run(`
    const w = inWorker(\`
      m._setRoutedListener(() => {});
      m._native_init_audio('own');
      post([m._routeEvents('own', true), m._routeOwner('own')]);
      await next();
      m._release('own');\`);
    const [serial, ownerThere] = await w.next();
    m._setRoutedListener(() => {});
    const refused = [m._routeEvents('own', true), m._routeEvents('own')];
    const ownerHere = m._routeOwner('own');
    w.worker.postMessage('release');
    await w.exited;
    await until(() => m._routeCount() === 0, () => m._routeCount() + ' routes held');
    console.log(JSON.stringify({ routed: serial > 0, ownerThere, refused, ownerHere,
      released: m._routeOwner('own'), unknown: m._routeOwner('nobody') }));`);
  assert.deepStrictEqual(out, { routed: true, ownerThere: 1, refused: [-1, -1], ownerHere: 2,
    released: 0, unknown: 0 });
});

test('an environment stays alive while its owned player plays, and ends after its release',
  async () => {
  // The worker has nothing else to wait for: only the owned player holds it between batches.
  const out = await run(`
    const w = inWorker(\`
      let n = 0;
      m._setRoutedListener((player, what) => {
        n++;
        if (what === 2) { m._release('alive'); post(n); }
      });
      m._native_init_audio('alive');
      m._routeEvents('alive', true);
      m._setDataSource('alive', 'script:502,1,2*20000;300');
      m._prepareAsync('alive');\`);
    await w.exited;  // once its player is released
    console.log(JSON.stringify({ got: await w.next(5000) }));`);
  assert.deepStrictEqual(out, { got: 20001 });
});

test('an owned player whose engine failed no longer keeps its environment alive', async () => {
  // With a routed listener, and without one: the rule does not depend on who listens; the error
  // alone, and amid events the loop hands over with it.
  const out = await run(`
    const whats = [];
    for (const script of ['100,-2', '502,1,1*20;100,-2;502,1,2*20']) {
      for (const listener of [true, false]) {
        const w = inWorker(\`
          const seen = [];
          const heard = (what, param2) => {
            seen.push(what === 3 ? param2 : what);
            if (what === 100) post(seen.join());
          };
          if (\${listener}) m._setRoutedListener((player, what, p1, p2) => heard(what, p2));
          m._setMessageListener('failed', (what, p1, p2) => { if (!\${listener}) heard(what, p2); });
          m._native_init_audio('failed');
          m._routeEvents('failed', true);
          m._setDataSource('failed', 'script:\${script}');
          m._prepareAsync('failed');\`);
        whats.push(await w.next());
        await w.exited;  // with its player never released
        await until(() => m._routeCount() === 0, () => m._routeCount() + ' routes held');
      }
    }
    console.log(JSON.stringify({ whats }));`);
  const amid = [...Array(20).fill(1), 100].join();
  assert.deepStrictEqual(out, { whats: ['100', '100', amid, amid] });
});

test('a player prepared by an environment that does not own it holds neither', async () => {
  // The main thread prepares the worker's owned player; the worker releases it and ends. Nothing
  // is left to hold the process: it must exit.
  const r = await child(`${workers}
    setTimeout(() => { console.log('still held'); process.exit(3); }, 60000).unref();
    (async () => {
      m._setRoutedListener(() => {});
      m._native_init_audio('lent');
      const w = inWorker(\`
        m._setRoutedListener(() => {});
        post(m._routeEvents('lent', true));
        await next();
        m._release('lent');\`);
      await w.next();
      m._setDataSource('lent', 'script:200');
      m._prepareAsync('lent');
      w.worker.postMessage('release');
      await w.exited;
    })().catch((e) => { console.error(e); process.exit(1); });`);
  assert.deepStrictEqual([r.status, r.out], [0, ''], r.err);
});

test('a worker terminated mid-playback or mid-flood ends its owned player, threads and fds',
  async () => {
  const out = await run(`
    const report = await terminatedRounds(m, ([id, source]) => inWorker(\`
        let n = 0;
        m._setRoutedListener((player, what) => {
          if (++n === 1000) post('flooding');
          if (what === 1) m._start('\${id}');
        });
        m._native_init_audio('\${id}');
        m._routeEvents('\${id}', true);
        m._setDataSource('\${id}', \${JSON.stringify(source)});
        m._setLoopCount('\${id}', '0');
        m._prepareAsync('\${id}');
        await until(() => m._isPlaying('\${id}'), 'playing');
        if ('\${id}' === 'loop') post('playing');\`));
    console.log(JSON.stringify(report));`);
  countLines(out).forEach((line) => console.log(line));
  for (const [id, { before, during }] of Object.entries(out)) {
    assert.ok(during.threads > before.threads, `${id}: the player had its threads`);
  }
});

test('_routeEvents on ids that have no instance makes none', async () => {
  const out = await run(`
    const rss = () => process.memoryUsage().rss / 2 ** 20;
    for (let i = 0; i < 1000; i++) m._routeEvents('warm' + i);
    const before = rss();
    let routed = 0;
    for (let i = 0; i < 200000; i++) {
      routed += m._routeEvents('unknown' + i) + m._routeOwner('unknown' + i);
    }
    console.log(JSON.stringify({ routed, grownMb: Math.round(rss() - before) }));`);
  assert.strictEqual(out.routed, 0);
  if (!sanitized && !emulated) {
    assert.ok(out.grownMb < 32, `${out.grownMb} MB for 200,000 unknown ids`);
  }
});

test('the main environment\'s end ends the players it owns, and only those', async () => {
  // Neither player is prepared, so nothing holds the environment: its loop runs dry and it ends.
  const trace = engineTrace();
  const r = await child(`
    m._setRoutedListener(() => {});
    m._native_init_audio('owned');
    m._routeEvents('owned', true);
    m._setDataSource('owned', 'script:200');
    m._native_init_audio('free');
    m._routeEvents('free');
    m._setDataSource('free', 'script:200');`);
  assert.strictEqual(r.status, 0, r.err);
  const ended = trace.take().filter((l) => l.startsWith('kvmp_shutdown'));
  assert.deepStrictEqual(ended, ['kvmp_shutdown #1']);
});

test(`memory stays flat over ${churn} routed players, and every route goes back`,
  async () => {
  const r = await child(`
    (async () => {
      m._setRoutedListener(() => {});
      const rss = () => process.memoryUsage().rss / 2 ** 20;
      let first = 0;
      for (let i = 0; i < ${churn}; i++) {
        const id = 'p' + (i % 8);
        m._native_init_audio(id);
        m._routeEvents(id, i % 2 === 0);
        m._release(id);
        if (i === ${churn / 10}) first = rss();
      }
      await until(() => m._routeCount() === 0, () => m._routeCount() + ' routes held');
      console.log(Math.round(rss() - first));
    })().catch((e) => { console.error(e); process.exit(1); });`);
  assert.strictEqual(r.status, 0, r.err);
  if (!sanitized && !emulated) {
    assert.ok(Number(r.out) < 8, `${r.out} MB more after ${churn} players than after ${churn / 10}`);
  }
});

test('an owner\'s end is one step: a racing claimer is refused until the player is ended',
  async () => {
  // Each round the worker's player has failed, so it holds the worker no more and a return ends
  // it too; the main thread claims the player without a pause from the moment the end is asked.
  const rounds = Number(process.env.KAVORI_CLAIM_ROUNDS || (sanitized ? 5 : 10));
  const out = await run(`
    const report = {};
    for (const ending of ['return', 'terminate', 'exit', 'throw']) {
      const seen = { refused: 0, owned: 0, ended: 0 };
      for (let round = 0; round < ${rounds}; round++) {
        const w = inWorker(\`
          m._setRoutedListener((player, what) => { if (what === 100) post('failed'); });
          m._native_init_audio('c');
          m._routeEvents('c', true);
          m._setDataSource('c', 'script:100,-2');
          m._prepareAsync('c');
          await next();
          if ('\${ending}' === 'exit') process.exit(0);
          if ('\${ending}' === 'throw') setImmediate(() => { throw new Error('ends'); });\`);
        w.worker.on('error', () => {});
        await w.next();
        if (${JSON.stringify('terminate')} === ending) w.worker.terminate(); else w.worker.postMessage('end');
        const end = Date.now() + 60000;  // only stops a hang
        for (let got = -1; got !== 0 && Date.now() < end;) {
          got = m._routeEvents('c', true);
          if (got === -1) seen.refused++;
          if (got > 0) { seen.owned++; m._release('c'); }
          if (got === 0) seen.ended++;
        }
        await w.exited;
      }
      report[ending] = seen;
    }
    console.log(JSON.stringify(report));`);
  console.log(JSON.stringify(out));
  for (const [ending, seen] of Object.entries(out)) {
    assert.deepStrictEqual([seen.owned, seen.ended], [0, rounds], `${ending}: ${JSON.stringify(seen)}`);
  }
});

test('an id claimed by one environment is refused to the others until released or ended; it ' +
  'makes no instance', async () => {
  const out = await run(`
    const seen = [];
    const claim = (id, on = true) => seen.push(m._claimId(id, on));
    claim('c');         // 1: claimed here
    claim('c');         // 1: again, still here
    claim('');          // 0: the empty id names no player
    claim('c\\0x');      // 1: read as every method reads ids, so it is 'c'
    const w = inWorker(\`
      const answers = [m._claimId('c', true), m._claimId('c', false), m._claimId('w', true)];
      post(answers);
      await next();
      post([m._claimId('c', true)]);
      await next();\`);
    seen.push(...await w.next());   // 2: main's; 0: not the worker's to drop; 1
    claim('c', false);  // 0: dropped here
    claim('w');         // 2: the worker's
    w.worker.postMessage('go');
    seen.push(...await w.next());   // 1: the worker claims what main dropped
    claim('c');         // 2
    await w.worker.terminate();
    claim('c');         // 1: the worker's end took its claims along
    claim('w');         // 1
    console.log(JSON.stringify({ seen, routes: m._routeEvents('w') }));`);
  assert.deepStrictEqual(out, { seen: [1, 1, 0, 1, 2, 0, 1, 0, 2, 1, 2, 1, 1], routes: 0 });
});
