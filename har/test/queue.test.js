'use strict';
// The play queue: hand-offs on the prepared second player, a prepared player that no longer holds
// what comes next never played, a failed preload reported at its item's turn, the play order of
// edits, shuffle and repeat, interruptions, refusals, and a released queue that keeps nothing.
// Items are short silent MP3s of distinct lengths, so the duration playing tells which item plays.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

require('./ets-require.js');
const kv = require('../Index.ets');
const { until } = require('../../test/js/proxy_helpers.js');
const { runNode } = require('../../test/js/node_child.js');
const { mp3WithInfo, MP3_FRAME_MS } = require('../../test/js/stream_server.js');

const E = kv.ErrorCode;
const LENGTHS = { A: 0.9, B: 0.3, C: 0.5, D: 0.7 };
let dir;
const media = {};
const lengthOf = {};

test.before(() => {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-queue-'));
  for (const [name, seconds] of Object.entries(LENGTHS)) {
    media[name] = path.join(dir, `${name}.mp3`);
    fs.writeFileSync(media[name], mp3WithInfo(seconds));
    lengthOf[media[name]] = seconds * 1000;
  }
});
test.after(() => fs.rmSync(dir, { recursive: true, force: true }));

const item = (name) => ({ url: media[name], title: name });
// The item whose length the playing media has (lengths differ by far more than a frame).
const playing = (q) => Object.keys(lengthOf).find((url) =>
  Math.abs(lengthOf[url] - q.duration) < 2 * MP3_FRAME_MS);

function record(q) {
  const seen = [];
  const mismatches = [];
  for (const type of ['itemChange', 'queueEnd', 'stateChange', 'error', 'audioInterrupt']) {
    q.on(type, (a, b) => seen.push([type, a && a.code !== undefined ? a.code : a, b]));
  }
  // Whatever plays is the current item, at every tick.
  q.on('timeUpdate', () => {
    if (q.state === 'playing' && playing(q) !== q.current.item.url) {
      mismatches.push([q.index, q.current.item.title, playing(q)]);
    }
  });
  return { seen, mismatches, of: (type) => seen.filter((e) => e[0] === type) };
}

// The prepared second player holds an item, prepared.
const preloaded = (q) => q.spare.entry !== undefined && q.spare.player.state === 'prepared';

test('items hand off in order, the next one started at completed without preparing', async () => {
  const q = kv.createQueue();
  const r = record(q);
  q.add([item('B'), item('C'), item('B')]);
  try {
    await q.play();
    await until(() => q.state === 'ended', 'the queue to end');
    assert.deepStrictEqual(r.of('itemChange'), [['itemChange', 0, 'auto'],
      ['itemChange', 1, 'auto'], ['itemChange', 2, 'auto']]);
    // Preparing once, for the first item: each later one was ready at its turn.
    assert.deepStrictEqual(r.of('stateChange').map((e) => e[1]),
      ['preparing', 'playing', 'ended']);
    assert.strictEqual(r.of('queueEnd').length, 1);
    // After the end, play() plays what was added since, else starts over.
    q.add(item('C'));
    await q.play();
    await until(() => q.state === 'ended', 'the added item to end');
    await q.play();
    await until(() => q.state === 'playing', 'the queue to start over');
    assert.deepStrictEqual(r.of('itemChange').slice(3).map((e) => e[1]), [3, 0]);
    assert.deepStrictEqual(r.mismatches, []);
  } finally {
    await q.release();
  }
});

test('repeat one plays the item again, repeat all starts over in the same order', async () => {
  for (const [mode, expected] of [['one', [[0, 'auto'], [0, 'repeat'], [0, 'repeat']]],
    ['all', [[0, 'auto'], [1, 'auto'], [0, 'repeat'], [1, 'auto']]]]) {
    const q = kv.createQueue();
    const r = record(q);
    q.add([item('B'), item('C')]);
    q.repeatMode = mode;
    try {
      await q.play();
      await until(() => r.of('itemChange').length === expected.length, `${mode}: hand-offs`);
      assert.deepStrictEqual(r.of('itemChange').map((e) => [e[1], e[2]]), expected, mode);
      assert.deepStrictEqual(r.of('stateChange').map((e) => e[1]), ['preparing', 'playing'], mode);
      assert.deepStrictEqual(r.mismatches, [], mode);
    } finally {
      await q.release();
    }
  }
});

test('a prepared next item that is no longer next is dropped, never played', async () => {
  // Each case: A plays with B prepared, the change is made, then what follows A must play, and
  // without preparing at the hand-off when what follows was known in time.
  const rows = [
    ['remove', (q) => q.remove(1), 1, 'C'],
    ['insert', (q) => q.insert(1, item('D')), 1, 'D'],
    ['move', (q) => q.move(2, 1), 1, 'C'],
    ['replace', (q) => q.replace(1, item('D')), 1, 'D'],
    ['repeat one', (q) => { q.repeatMode = 'one'; }, 0, 'A'],
    ['shuffle', (q) => q.setShuffle(true, 3), undefined, undefined],
    ['next', (q) => q.next(), 1, 'B'],
    ['skip past it', (q) => q.skipTo(2), 2, 'C', true],
  ];
  for (const [name, change, index, expected, prepares] of rows) {
    const q = kv.createQueue();
    const r = record(q);
    q.add([item('A'), item('B'), item('C')]);
    try {
      await q.play();
      await until(() => preloaded(q), `${name}: B prepared`);
      const before = r.of('itemChange').length;
      const statesBefore = r.of('stateChange').length;
      change(q);
      await until(() => r.of('itemChange').slice(before).some((e) => e[2] !== 'removed') &&
        q.state === 'playing' && q.currentTime > 0, `${name}: the hand-off`);
      const handed = r.of('itemChange').slice(before).filter((e) => e[2] !== 'removed');
      if (index !== undefined) {
        assert.strictEqual(handed[0][1], index, name);
        assert.strictEqual(q.current.item.title, expected, name);
      }
      assert.strictEqual(playing(q), q.current.item.url, name);
      assert.deepStrictEqual(r.mismatches, [], name);
      assert.strictEqual(r.of('stateChange').slice(statesBefore).some((e) => e[1] === 'preparing'),
        Boolean(prepares), name);
    } finally {
      await q.release();
    }
  }
});

test('a seek back before the preload point drops the prepared item; skips to the last drop it',
  async () => {
    const q = kv.createQueue({ preloadMs: 400 });
    const r = record(q);
    q.add([item('A'), item('B'), item('C')]);
    try {
      await q.play();
      await until(() => preloaded(q), 'B prepared within 400 ms of the end');
      assert.ok(q.currentTime >= 900 - 400 - 2 * MP3_FRAME_MS, String(q.currentTime));
      await q.seek(0);
      assert.strictEqual(q.spare.entry, undefined);
      // Prepared again on the way to the end, and played.
      await until(() => r.of('itemChange').length === 2 && q.currentTime > 0, 'the hand-off');
      assert.deepStrictEqual(r.of('itemChange')[1], ['itemChange', 1, 'auto']);
      await until(() => preloaded(q), 'C prepared');
      await q.skipTo(2);
      assert.strictEqual(q.spare.entry, undefined, 'nothing follows the last item');
      await until(() => q.state === 'ended', 'the end');
      assert.deepStrictEqual(r.mismatches, []);
    } finally {
      await q.release();
    }
  });

test('a preload that failed is reported at its item\'s turn, then skipped or stopped at',
  async () => {
    for (const stopOnError of [false, true]) {
      const q = kv.createQueue({ stopOnError });
      const r = record(q);
      q.add([item('C'), { url: 'script:100,-10000,-5', title: 'bad' }, item('B')]);
      let errorWhile;
      q.on('error', () => { errorWhile = q.index; });
      try {
        await q.play();
        await until(() => q.state === (stopOnError ? 'stopped' : 'ended'), 'the end');
        // Failed at once while C played, reported once C ended and its turn came.
        assert.strictEqual(errorWhile, 1);
        const tail = r.seen.filter((e) => e[0] === 'itemChange' || e[0] === 'error');
        assert.deepStrictEqual(tail.slice(1, 3), [['itemChange', 1, 'auto'],
          ['error', E.IO, 1]]);
        assert.deepStrictEqual(tail.slice(3).map((e) => e[0]),
          stopOnError ? [] : ['itemChange'], String(stopOnError));
        assert.strictEqual(q.index, stopOnError ? 1 : 2);
      } finally {
        await q.release();
      }
    }
  });

test('edits keep the current item and its index', () => {
  const rows = [
    ['remove before', (q) => q.remove(1), 2, 'i3'],
    ['remove after', (q) => q.remove(4), 3, 'i3'],
    ['move before to after', (q) => q.move(0, 5), 2, 'i3'],
    ['move after to before', (q) => q.move(5, 0), 4, 'i3'],
    ['move the current', (q) => q.move(3, 0), 0, 'i3'],
    ['move before onto it', (q) => q.move(1, 3), 2, 'i3'],
    ['move after onto it', (q) => q.move(5, 3), 4, 'i3'],
    ['move to its place', (q) => q.move(4, 3), 4, 'i3'],
    ['insert before', (q) => q.insert(0, [item('A'), item('B')]), 5, 'i3'],
    ['insert at it', (q) => q.insert(3, item('A')), 4, 'i3'],
    ['insert thousands', (q) => q.insert(2, Array(5000).fill(item('A'))), 5003, 'i3'],
    ['add', (q) => q.add(item('A')), 3, 'i3'],
    ['remove the current', (q) => q.remove(3), 3, 'i4', ['removed', 3]],
    ['replace the current', (q) => q.replace(3, item('A')), 3, 'A', ['removed', 3]],
    ['remove the last, current', (q) => { q.skipTo(5); q.remove(5); }, -1, undefined,
      ['removed', -1]],
    ['clear', (q) => q.clear(), -1, undefined, ['removed', -1]],
  ];
  for (const [name, edit, index, title, change] of rows) {
    const q = kv.createQueue();
    const changes = [];
    q.add(Array.from({ length: 6 }, (_, i) => ({ url: media.A, title: `i${i}` })));
    q.skipTo(3);
    q.on('itemChange', (i, reason) => changes.push([reason, i]));
    edit(q);
    assert.strictEqual(q.index, index, name);
    assert.strictEqual(q.current && q.current.item.title, title, name);
    if (index >= 0) assert.strictEqual(q.items[index], q.current, name);
    assert.deepStrictEqual(changes.filter((c) => c[0] === 'removed'), change ? [change] : [], name);
    assert.strictEqual(q.state, 'idle', name);
    q.release();
  }
});

test('keys are unique and stable, assetIds from the app\'s id; items are copies', async () => {
  const q = kv.createQueue();
  const given = { url: media.A, id: 'track-7' };
  q.add([given, item('B')]);
  given.url = media.B;
  q.remove(0);
  q.add(item('C'));
  const keys = q.items.map((e) => e.key);
  assert.strictEqual(new Set(keys).size, keys.length);
  assert.ok(keys[1] > keys[0]);
  await q.skipToKey(keys[1]);
  assert.strictEqual(q.index, 1);
  q.insert(0, given);
  assert.strictEqual(q.items[0].assetId, 'track-7');
  assert.strictEqual(q.items[0].item.url, media.B);
  assert.match(q.items[1].assetId, /^kavori-item-\d+$/);
  assert.strictEqual(q.index, 2);
  await q.release();
});

// next() from the start, index by index, until it is refused or count are seen.
async function walk(q, count) {
  const seen = [q.index];
  while (seen.length < count) {
    try {
      await q.next();
    } catch {
      break;
    }
    seen.push(q.index);
  }
  return seen;
}

test('shuffle: a seeded order of every item that stays until reshuffled; previous follows it',
  async () => {
    const make = () => {
      const q = kv.createQueue();
      q.on('error', () => {});
      q.add(Array.from({ length: 12 }, (_, i) => ({ url: media.A, title: `i${i}` })));
      return q;
    };
    const q = make();
    await q.skipTo(5);
    q.setShuffle(true, 42);
    const order = await walk(q, 20);
    assert.strictEqual(order[0], 5, 'the current item leads the order');
    assert.deepStrictEqual([...order].sort((a, b) => a - b), [...Array(12).keys()]);
    assert.notDeepStrictEqual(order, [...Array(12).keys()]);
    // previous() walks it back.
    const back = [q.index];
    for (let i = 0; i < 11; i++) {
      await q.previous();
      back.push(q.index);
    }
    assert.deepStrictEqual(back, [...order].reverse());
    // Repeat all wraps into the same order.
    q.repeatMode = 'all';
    await q.skipTo(order[11]);
    await q.next();
    assert.strictEqual(q.index, order[0]);
    await q.next();
    assert.strictEqual(q.index, order[1]);
    // The same seed, items and current item give the same order; another seed another one.
    const same = make();
    await same.skipTo(5);
    same.setShuffle(true, 42);
    assert.deepStrictEqual(await walk(same, 20), order);
    same.setShuffle(true, 43);
    assert.notDeepStrictEqual(await walk(same, 20), order);
    // Off: the items' order from the current one.
    q.setShuffle(false);
    await q.skipTo(3);
    await q.next();
    assert.strictEqual(q.index, 4);
    await Promise.all([q.release(), same.release()]);
  });

test('previous() past the restart threshold restarts the item; before it goes back', async () => {
  const q = kv.createQueue({ restartThresholdMs: 150 });
  const r = record(q);
  q.add([item('A'), item('A')]);
  try {
    await q.skipTo(1);
    await q.play();
    await until(() => q.currentTime > 300, 'past the threshold');
    await q.previous();
    assert.strictEqual(q.index, 1);
    assert.ok(q.currentTime < 300, String(q.currentTime));
    await q.previous();
    assert.strictEqual(q.index, 0);
    assert.deepStrictEqual(r.of('itemChange').map((e) => e[2]), ['skip', 'previous']);
  } finally {
    await q.release();
  }
});

test('refusals: 401 for bad parameters, 5400102 for the state, empty queue and released',
  async () => {
    const q = kv.createQueue();
    const reported = [];
    q.on('error', (e, i) => reported.push([e.code, i]));
    const rejects = async (call, code, what) => {
      const before = reported.length;
      await assert.rejects(call(), (e) => e.code === code, what);
      assert.deepStrictEqual(reported.slice(before).map((x) => x[0]), [code], what);
    };
    const throws = (call, name) => assert.throws(call, (e) => e.code === E.INVALID_PARAMETER &&
      e.message.includes(`'${name}`), name);
    for (const [call, name] of [
      [() => q.add({ title: 'no source' }), 'items'],
      [() => q.add({ url: media.A, fd: { fd: 3 } }), 'items'],
      [() => q.add([item('A'), { url: 'ftp://x' }]), 'items[1].url'],
      [() => q.add({ url: media.A, durationMs: -2 }), 'items.durationMs'],
      [() => q.add({ url: media.A, colour: 'red' }), 'items.colour'],
      [() => q.insert(1, item('A')), 'at'],
      [() => q.remove(0), 'index'],
      [() => q.move(0, 0), 'from'],
      [() => { q.repeatMode = 'twice'; }, 'repeatMode'],
      [() => q.setShuffle(true, NaN), 'seed'],
      [() => kv.createQueue({ preload: 1 }), 'options.preload'],
    ]) throws(call, name);
    for (const method of ['play', 'next', 'previous']) {
      await rejects(() => q[method](), E.OPERATION_NOT_PERMITTED, `${method} on an empty queue`);
    }
    await rejects(() => q.skipTo(0), E.INVALID_PARAMETER, 'skipTo on an empty queue');
    q.add([item('A'), item('B')]);
    await rejects(() => q.skipTo(2), E.INVALID_PARAMETER, 'skipTo past the end');
    await rejects(() => q.skipTo(-1), E.INVALID_PARAMETER, 'skipTo(-1)');
    await rejects(() => q.skipToKey(999), E.INVALID_PARAMETER, 'skipToKey of no item');
    await rejects(() => q.seek(-1), E.INVALID_PARAMETER, 'seek(-1)');
    await rejects(() => q.setVolume(2), E.INVALID_PARAMETER, 'setVolume(2)');
    await rejects(() => q.setSpeed(99), E.INVALID_PARAMETER, 'setSpeed(99)');
    await rejects(() => q.setMediaMuted(kv.MediaType.MEDIA_TYPE_VID, true),
      E.UNSUPPORTED_CAPABILITY, 'setMediaMuted(VID)');
    for (const method of ['pause', 'stop']) {
      await rejects(() => q[method](), E.OPERATION_NOT_PERMITTED, `${method} in idle`);
    }
    await rejects(() => q.seek(0), E.OPERATION_NOT_PERMITTED, 'seek in idle');
    await q.skipTo(1);
    await rejects(() => q.next(), E.OPERATION_NOT_PERMITTED, 'next at the last item');
    await q.release();
    await q.release();
    assert.strictEqual(q.state, 'released');
    for (const method of ['play', 'pause', 'stop', 'next', 'previous']) {
      await rejects(() => q[method](), E.OPERATION_NOT_PERMITTED, `${method} when released`);
    }
    await rejects(() => q.setVolume(0.5), E.OPERATION_NOT_PERMITTED, 'setVolume when released');
    const before = reported.length;
    q.add(item('A'));
    q.clear();
    q.repeatMode = 'all';
    q.setShuffle(true);
    assert.deepStrictEqual(reported.slice(before), Array(4).fill([E.OPERATION_NOT_PERMITTED, -1]));
    assert.deepStrictEqual([q.items, q.index, q.repeatMode], [[], -1, 'off']);
  });

test('volume, mute and speed carry over to every item', async () => {
  const q = kv.createQueue();
  const speeds = [];
  q.on('speedDone', (s) => speeds.push(s));
  q.add([item('C'), item('C')]);
  try {
    await q.setVolume(0.25);
    await q.setMediaMuted(kv.MediaType.MEDIA_TYPE_AUD, true);
    await q.setSpeed(kv.PlaybackSpeed.SPEED_FORWARD_2_00_X);
    await q.play();
    for (const index of [0, 1]) {
      await until(() => q.index === index && q.state === 'playing', `item ${index} playing`);
      const player = q.active.player;
      assert.strictEqual(player.getSpeed(), kv.PlaybackSpeed.SPEED_FORWARD_2_00_X, `${index}`);
      assert.strictEqual(player.muted, true, `${index}`);
    }
    assert.deepStrictEqual(speeds, [kv.PlaybackSpeed.SPEED_FORWARD_2_00_X]);
    assert.deepStrictEqual([q.volume, q.muted, q.speed],
      [0.25, true, kv.PlaybackSpeed.SPEED_FORWARD_2_00_X]);
  } finally {
    await q.release();
  }
});

// A queue whose players post the scripted interrupts at media times: `ms:force:hint,...`.
function interruptedQueue(script, options, acts) {
  const q = kv.createQueue(options);
  for (const lane of [q.active, q.spare]) {
    const setSource = lane.player.setSource.bind(lane.player);
    lane.player.setSource = (url) => {
      setSource(url);
      lane.player.setOption(1, 'kavori_test_interrupts', script);
      if (acts) lane.player.setOption(1, 'kavori_test_interrupt_acts', '1');
    };
  }
  return q;
}

test('interruptions: forced ones followed, SHARE hints acted on unless turned off', async () => {
  const { InterruptForceType: F, InterruptHint: H } = kv;
  const rows = [
    // script, options, engine acts, queue state after, player state after
    [`200:${F.INTERRUPT_SHARE}:${H.INTERRUPT_HINT_PAUSE}`, {}, false, 'paused', 'paused'],
    [`200:${F.INTERRUPT_SHARE}:${H.INTERRUPT_HINT_STOP}`, {}, false, 'stopped', 'stopped'],
    [`200:${F.INTERRUPT_SHARE}:${H.INTERRUPT_HINT_PAUSE}`, { followShareHints: false }, false,
      'playing', 'playing'],
    [`200:${F.INTERRUPT_FORCE}:${H.INTERRUPT_HINT_PAUSE}`, {}, true, 'paused', 'paused'],
    [`200:${F.INTERRUPT_FORCE}:${H.INTERRUPT_HINT_STOP}`, {}, true, 'stopped', 'stopped'],
    [`200:${F.INTERRUPT_FORCE}:${H.INTERRUPT_HINT_DUCK}`, {}, true, 'playing', 'playing'],
    // An engine that only reports: the player pauses or stops it, the queue follows the same.
    [`200:${F.INTERRUPT_FORCE}:${H.INTERRUPT_HINT_PAUSE}`, {}, false, 'paused', 'paused'],
    [`200:${F.INTERRUPT_FORCE}:${H.INTERRUPT_HINT_STOP}`, { followShareHints: false }, false,
      'stopped', 'stopped'],
  ];
  for (const [script, options, acts, state, playerState] of rows) {
    const q = interruptedQueue(script, options, acts);
    const r = record(q);
    q.add([item('A'), item('B')]);
    try {
      await q.play();
      await until(() => r.of('audioInterrupt').length === 1, `${script}: the interrupt`);
      assert.strictEqual(q.state, state, script);
      assert.strictEqual(q.active.player.state, playerState, script);
      const at = r.seen.findIndex((e) => e[0] === 'audioInterrupt');
      assert.ok(r.seen.slice(0, at).every((e) => e[1] !== state) || state === 'playing', script);
      if (state === 'paused') {
        // The system's RESUME after a pause it made (or the queue made for it) plays again.
        q.onInterrupt(q.active, { eventType: 2, forceType: F.INTERRUPT_SHARE,
          hintType: H.INTERRUPT_HINT_RESUME, type: 1, hint: 1 });
        assert.strictEqual(q.state, 'playing', script);
        // Not after a pause of the app's.
        await q.pause();
        q.onInterrupt(q.active, { eventType: 2, forceType: F.INTERRUPT_SHARE,
          hintType: H.INTERRUPT_HINT_RESUME, type: 1, hint: 1 });
        assert.strictEqual(q.state, 'paused', script);
      }
    } finally {
      await q.release();
    }
  }
});

test('a released queue keeps nothing alive: the process ends on its own', async () => {
  const source = `
    require(${JSON.stringify(require.resolve('./ets-require.js'))});
    const kv = require(${JSON.stringify(require.resolve('../Index.ets'))});
    const q = kv.createQueue();
    q.add([{ url: ${JSON.stringify(media.A)} }, { url: ${JSON.stringify(media.B)} }]);
    let once = false;
    q.on('timeUpdate', (t) => {
      if (!once && t > 0 && q.spare.player.state === 'prepared') {
        once = true;
        q.release().then(() => {
          console.log('released', q.active.player.state, q.spare.player.state);
          // Fires only if something still holds the process: a pass never waits for it.
          setTimeout(() => { console.log('still alive'); process.exit(2); }, 30000).unref();
        });
      }
    });
    q.play();`;
  const r = await runNode(['-e', source]);
  assert.strictEqual(r.stderr, '');
  assert.deepStrictEqual([r.status, r.stdout.trim()], [0, 'released released released']);
});

test('network items: prepared in time where the time allows; live ones never preloaded',
  async () => {
    const { startServer } = require('../../test/js/stream_server.js');
    const server = await startServer();
    const slow = server.url('/mp3/0.5', 'info=1&headerDelay=300');
    const rows = [
      // current item, next item, whether the hand-off prepares, whether the next item was
      // being preloaded / held prepared while the current one played
      ['time allows', item('A'), { url: slow }, false, [true, true]],
      ['too short a current item', item('B'), { url: slow }, true, [true, false]],
      ['live by its hint', item('B'), { url: server.url('/live.mp3'), durationMs: -1 }, true,
        [false, false]],
      // Dropped once found live (maybe before a tick saw it): a live item opens at its turn.
      ['found live when prepared', item('B'), { url: server.url('/live.mp3') }, true,
        [null, false]],
    ];
    try {
      for (const [name, current, next, prepares, preloads] of rows) {
        const q = kv.createQueue();
        const r = record(q);
        const held = [false, false];
        // Asked for before its turn: read from the server, which sees even a preload that a
        // tick would miss.
        let askedBefore = 0;
        const base = server.requests.length;
        q.on('itemChange', (index) => {
          if (index !== 1) return;
          askedBefore = server.requests.slice(base).filter((x) => next.url.includes(x.path))
            .length;
        });
        q.on('timeUpdate', () => {
          if (q.index !== 0) return;
          held[0] = held[0] || q.spare.entry !== undefined;
          held[1] = held[1] || preloaded(q);
        });
        q.add([current, next]);
        try {
          await q.play();
          await until(() => q.index === 1 && q.state === 'playing' && q.currentTime > 0,
            `${name}: the next item playing`);
          const states = r.of('stateChange').map((e) => e[1]);
          assert.deepStrictEqual(states, prepares ? ['preparing', 'playing', 'preparing',
            'playing'] : ['preparing', 'playing'], name);
          assert.deepStrictEqual(held.map((h, i) => (preloads[i] === null ? null : h)), preloads,
            name);
          assert.strictEqual(askedBefore > 0, preloads[0] !== false, name);
          assert.deepStrictEqual(r.of('error'), [], name);
        } finally {
          await q.release();
        }
      }
    } finally {
      await server.close();
    }
  });
