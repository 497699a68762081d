'use strict';
// The media session bridge against the recording kit stand-ins (kit-fakes.js): the order the
// session is made in, each command with the arguments the platform gives, what is published and
// when, the continuous task following playback, a session made again when the platform lost it,
// and nothing left registered after release.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const path = require('node:path');

require('./ets-require.js');
const kv = require('../Index.ets');
const bridgeModule = require('../src/main/ets/MediaSessionBridge.ets');
const fakes = require('./kit-fakes.js');
const { root } = require('../../test/js/loader.js');
const { until } = require('../../test/js/proxy_helpers.js');

const { PlaybackState: PS, LoopMode } = fakes.avSession;
const context = { resourceManager: {} };
const wantAgent = { agent: 'open-player' };
const media = (name) => path.join(root, 'examples', 'media', name);

// A queue with PlayerQueue's members: its calls go to the kit record (as queue.NAME), its events
// are the test's to emit, and its position follows the clock while it plays.
class FakeQueue {
  constructor(count = 3) {
    this.listeners = new Map();
    this.entries = [];
    for (let i = 0; i < count; i++) {
      this.entries.push({ key: 10 + i, assetId: `song-${i}`,
        item: { url: `/m/${i}.m4a`, title: `Song ${i}`, artist: 'A', durationMs: 60000 } });
    }
    this.index = 0;
    this.state = 'idle';
    this.repeatMode = 'off';
    this.shuffle = false;
    this.speed = kv.PlaybackSpeed.SPEED_FORWARD_1_00_X;
    this.duration = 60000;
    this.at = 0;
    this.since = 0;
  }

  get current() { return this.entries[this.index]; }
  get items() { return this.entries.slice(); }
  get currentTime() {
    return this.state === 'playing' ? this.at + (Date.now() - this.since) : this.at;
  }

  log(name, ...args) {
    fakes.state.calls.push({ name: `queue.${name}`, args });
    return Promise.resolve();
  }

  play() { return this.log('play'); }
  pause() { return this.log('pause'); }
  stop() { return this.log('stop'); }
  next() { return this.log('next'); }
  previous() { return this.log('previous'); }
  seek(ms) { return this.log('seek', ms).then(() => ms); }
  setSpeed(speed) { return this.log('setSpeed', speed); }
  skipToKey(key) { return this.log('skipToKey', key); }
  setShuffle(on) { this.shuffle = on; this.log('setShuffle', on); }

  on(type, cb) {
    if (!this.listeners.has(type)) this.listeners.set(type, []);
    this.listeners.get(type).push(cb);
  }

  off(type, cb) {
    this.listeners.set(type, (this.listeners.get(type) || []).filter((c) => c !== cb));
  }

  emit(type, ...args) {
    for (const cb of this.listeners.get(type) || []) cb(...args);
  }

  listenerCount() {
    let n = 0;
    for (const list of this.listeners.values()) n += list.length;
    return n;
  }

  // The queue's moves as the bridge sees them: the state, then its event.
  to(state) {
    const previous = this.state;
    this.at = this.currentTime;
    this.since = Date.now();
    this.state = state;
    this.emit('stateChange', state, previous);
  }
}

// A bridge on a fresh record; errors collected. Released by the caller.
async function bridgeOn(options) {
  fakes.reset();
  const errors = [];
  const bridge = await kv.createBridge({ context, ...options });
  bridge.on('error', (e) => errors.push(e));
  return { bridge, errors, session: fakes.session() };
}

const names = (from = 0) => fakes.state.calls.slice(from).map((c) => c.name);
const published = (from = 0) => fakes.state.calls.slice(from)
  .filter((c) => c.name.endsWith('.setAVPlaybackState')).map((c) => c.args[0]);
const taskCalls = (from = 0) => names(from).filter((n) => n.endsWith('BackgroundRunning'));
const settled = () => new Promise((resolve) => setImmediate(resolve));

test('the session is made, filled and given its commands before it is activated', async () => {
  const queue = new FakeQueue();
  const { bridge, session } = await bridgeOn({ queue, wantAgent });
  try {
    const calls = names();
    assert.deepStrictEqual(fakes.state.calls[0], { name: 'createAVSession',
      args: ['kavori', 'audio'] });
    const activate = calls.indexOf('session1.activate');
    assert.strictEqual(activate, calls.length - 1);
    for (const before of ['session1.setLaunchAbility', 'session1.setAVMetadata',
      'session1.setAVQueueItems', 'session1.setAVPlaybackState']) {
      assert.ok(calls.indexOf(before) > 0 && calls.indexOf(before) < activate, before);
    }
    const registered = fakes.state.calls.filter((c) => c.name === 'session1.on')
      .map((c) => c.args[0]);
    assert.deepStrictEqual(registered.sort(), ['fastForward', 'pause', 'play', 'playNext',
      'playPrevious', 'rewind', 'seek', 'setLoopMode', 'setSpeed', 'skipToQueueItem', 'stop']);
    const metadata = fakes.state.calls.find((c) => c.name === 'session1.setAVMetadata').args[0];
    assert.deepStrictEqual(metadata, { assetId: 'song-0', title: 'Song 0', artist: 'A',
      duration: 60000 });
    const items = fakes.state.calls.find((c) => c.name === 'session1.setAVQueueItems').args[0];
    assert.deepStrictEqual(items.map((i) => [i.itemId, i.description.assetId]),
      [[10, 'song-0'], [11, 'song-1'], [12, 'song-2']]);
    assert.strictEqual(session.sessionType, 'audio');
  } finally {
    await bridge.release();
  }
});

test('each command reaches the queue with the arguments the platform gives', async () => {
  const queue = new FakeQueue();
  queue.at = 20000;
  const { bridge, errors, session } = await bridgeOn({ queue });
  const S = kv.PlaybackSpeed;
  // [command, its arguments, the queue's calls, then repeat and shuffle when the row sets them]
  const rows = [
    ['play', [], [['queue.play']]],
    ['pause', [], [['queue.pause']]],
    ['stop', [], [['queue.stop']]],
    ['playNext', [], [['queue.next']]],
    ['playPrevious', [], [['queue.previous']]],
    ['seek', [12345], [['queue.seek', 12345]]],
    ['fastForward', [10], [['queue.seek', 30000]]],
    ['fastForward', [], [['queue.seek', 35000]]],
    ['fastForward', [100], [['queue.seek', 60000]]],
    ['rewind', [5], [['queue.seek', 15000]]],
    ['rewind', [30], [['queue.seek', 0]]],
    ['setSpeed', [1.5], [['queue.setSpeed', S.SPEED_FORWARD_1_50_X]]],
    ['setSpeed', [1.1], [['queue.setSpeed', S.SPEED_FORWARD_1_00_X]]],
    ['setSpeed', [0.125], [['queue.setSpeed', S.SPEED_FORWARD_0_125_X]]],
    ['setLoopMode', [LoopMode.LOOP_MODE_SINGLE], [], ['one', false]],
    ['setLoopMode', [LoopMode.LOOP_MODE_LIST], [], ['all', false]],
    ['setLoopMode', [LoopMode.LOOP_MODE_SHUFFLE], [['queue.setShuffle', true]], ['all', true]],
    ['setLoopMode', [LoopMode.LOOP_MODE_SEQUENCE], [['queue.setShuffle', false]], ['off', false]],
    ['skipToQueueItem', [11], [['queue.skipToKey', 11]]],
  ];
  try {
    for (const [command, args, calls, modes] of rows) {
      const from = fakes.state.calls.length;
      session.fire(command, ...args);
      await settled();
      const got = fakes.state.calls.slice(from).filter((c) => c.name.startsWith('queue.'))
        .map((c) => [c.name, ...c.args]);
      assert.deepStrictEqual(got, calls, `${command}(${args})`);
      if (modes) assert.deepStrictEqual([queue.repeatMode, queue.shuffle], modes, command);
    }
    assert.deepStrictEqual(errors, []);
    // What the session cannot ask: refused on the bridge's error with 401, the queue untouched.
    const refusals = [['setSpeed', [5]], ['setSpeed', [0]], ['setSpeed', [NaN]], ['seek', [-1]],
      ['rewind', [0]], ['setLoopMode', [LoopMode.LOOP_MODE_CUSTOM]], ['skipToQueueItem', [1.5]]];
    const from = fakes.state.calls.length;
    for (const [command, args] of refusals) session.fire(command, ...args);
    await settled();
    assert.deepStrictEqual(names(from).filter((n) => n.startsWith('queue.')), []);
    assert.deepStrictEqual(errors.map((e) => e.code), refusals.map(() => 401));
    // The loop mode published after a change is the one in effect.
    queue.repeatMode = 'one';
    queue.shuffle = true;
    session.fire('setLoopMode', LoopMode.LOOP_MODE_LIST);
    assert.strictEqual(published().pop().loopMode, LoopMode.LOOP_MODE_SHUFFLE);
  } finally {
    await bridge.release();
  }
});

test('state is published on state, jumps, speed and items, not on every tick', async () => {
  const queue = new FakeQueue();
  const { bridge } = await bridgeOn({ queue });
  try {
    let from = fakes.state.calls.length;
    queue.to('playing');
    for (let i = 0; i < 50; i++) queue.emit('timeUpdate', queue.currentTime);
    let reports = published(from);
    assert.deepStrictEqual(reports.map((r) => r.state), [PS.PLAYBACK_STATE_PLAY]);
    assert.strictEqual(reports[0].activeItemId, 10);
    assert.ok(Math.abs(reports[0].position.updateTime - Date.now()) < 60000);

    from = fakes.state.calls.length;
    queue.at += 5000;  // a jump the queue made without a seek
    queue.emit('timeUpdate', queue.currentTime);
    queue.emit('seekDone', 30000);
    queue.speed = kv.PlaybackSpeed.SPEED_FORWARD_2_00_X;
    queue.emit('speedDone', queue.speed);
    queue.to('buffering');
    queue.to('playing');
    queue.index = 1;
    queue.emit('itemChange', 1, 'auto');
    reports = published(from);
    assert.deepStrictEqual(reports.map((r) => [r.state, r.speed]), [
      [PS.PLAYBACK_STATE_PLAY, 1], [PS.PLAYBACK_STATE_PLAY, 1], [PS.PLAYBACK_STATE_PLAY, 2],
      [PS.PLAYBACK_STATE_BUFFERING, 2], [PS.PLAYBACK_STATE_PLAY, 2], [PS.PLAYBACK_STATE_PLAY, 2]]);
    assert.strictEqual(reports.pop().activeItemId, 11);
    const metadata = fakes.state.calls.slice(from).filter((c) => c.name.endsWith('Metadata'));
    assert.deepStrictEqual(metadata.map((c) => c.args[0].assetId), ['song-1']);
    // The same items are not sent again; an edit the app announces with update() is.
    assert.deepStrictEqual(names(from).filter((n) => n.endsWith('QueueItems')), []);
    queue.entries.push({ key: 99, assetId: 'new', item: {} });
    from = fakes.state.calls.length;
    bridge.update();
    assert.deepStrictEqual(names(from).filter((n) => n.endsWith('QueueItems')),
      ['session1.setAVQueueItems']);
    for (const [state, expected] of [['paused', PS.PLAYBACK_STATE_PAUSE],
      ['stopped', PS.PLAYBACK_STATE_STOP], ['ended', PS.PLAYBACK_STATE_COMPLETED],
      ['preparing', PS.PLAYBACK_STATE_PREPARE], ['idle', PS.PLAYBACK_STATE_IDLE]]) {
      queue.to(state);
      assert.strictEqual(published().pop().state, expected, state);
    }
  } finally {
    await bridge.release();
  }
});

test('the continuous task follows playing, across items, and ends on a forced pause',
  async () => {
  const queue = new FakeQueue();
  const { bridge, errors } = await bridgeOn({ queue, wantAgent });
  const held = async (expected) => {
    await until(() => bridge.backgroundRunning === expected && fakes.state.running === expected,
      `task ${expected}`);
  };
  try {
    assert.strictEqual(bridge.managesBackgroundTask, true);
    queue.to('preparing');
    queue.to('playing');
    await held(true);
    // A hand-off: the next item prepares, stalls, plays; the task stays.
    queue.index = 1;
    queue.emit('itemChange', 1, 'auto');
    queue.to('preparing');
    queue.to('buffering');
    queue.to('playing');
    await settled();
    queue.to('paused');
    await held(false);
    queue.to('playing');
    await held(true);
    // The system paused the stream: the task ends before the state says so.
    queue.emit('audioInterrupt', { eventType: 1, forceType: 0, hintType: 2, type: 0, hint: 2 });
    await held(false);
    queue.to('paused');
    queue.to('playing');
    await held(true);
    // Quick changes end where the last one leads, one request at a time.
    queue.to('paused');
    queue.to('playing');
    queue.to('stopped');
    await held(false);
    queue.to('playing');
    await held(true);
    await bridge.release();
    assert.strictEqual(fakes.state.running, false);
    // play, pause, play, forced pause, play, the quick three (one stop), play, release.
    assert.deepStrictEqual(taskCalls(), ['startBackgroundRunning', 'stopBackgroundRunning',
      'startBackgroundRunning', 'stopBackgroundRunning', 'startBackgroundRunning',
      'stopBackgroundRunning', 'startBackgroundRunning', 'stopBackgroundRunning']);
    assert.deepStrictEqual(errors, []);
  } finally {
    await bridge.release();
  }

  // Without a wantAgent the task is the app's: not one request.
  const alone = await bridgeOn({ queue: new FakeQueue() });
  assert.strictEqual(alone.bridge.managesBackgroundTask, false);
  const q = alone.bridge;
  try {
    const fake = fakes.state.calls;
    assert.deepStrictEqual(taskCalls(), []);
    assert.ok(fake.length > 0);
  } finally {
    await q.release();
  }
  // A refused start is reported and not retried until playback starts again.
  const queue2 = new FakeQueue();
  const refused = await bridgeOn({ queue: queue2, wantAgent });
  fakes.fail('startBackgroundRunning', 201);
  queue2.to('playing');
  await until(() => refused.errors.length === 1, 'the refused start');
  assert.strictEqual(refused.errors[0].code, 201);
  assert.strictEqual(refused.bridge.backgroundRunning, false);
  await refused.bridge.release();
  assert.deepStrictEqual(taskCalls(), ['startBackgroundRunning']);
});

test('a lost session is made again, a failing service only once it lasts', async () => {
  const queue = new FakeQueue();
  const { bridge, errors } = await bridgeOn({ queue, wantAgent });
  try {
    fakes.fail('setAVPlaybackState', 6600102);
    queue.to('playing');
    await until(() => names().includes('session2.activate'), 'a second session');
    assert.deepStrictEqual(errors.map((e) => e.code), [6600102]);
    const old = fakes.state.sessions[0];
    assert.strictEqual(old.listenerCount(), 0);
    const since = names().indexOf('createAVSession', 1);
    const again = names(since);
    assert.ok(again.indexOf('session2.setAVMetadata') < again.indexOf('session2.activate'));
    assert.ok(again.includes('session2.setAVQueueItems'));
    assert.strictEqual(fakes.session().listenerCount(), 11);
    // The new session carries the commands: a pause from it reaches the queue.
    fakes.session().fire('pause');
    await until(() => names().includes('queue.pause'), 'the pause');

    // One 6600101 is the platform's to retry; the bridge looks again after the limit.
    bridgeModule.setServiceExceptionLimitForTests(1);
    fakes.fail('setAVPlaybackState', 6600101);
    queue.to('paused');
    await until(() => published().length > 0 && errors.length === 2, 'the 6600101');
    await until(() => names().filter((n) => n === 'session2.setAVPlaybackState').length === 3,
      () => fakes.transcript().join('\n'));
    assert.strictEqual(fakes.state.sessions.length, 2);
    // Failing the limit apart: a third session. Three faults, as the state change may publish
    // twice within one millisecond, which is no lasting failure; one may be left to the new one.
    fakes.fail('setAVPlaybackState', 6600101, 3);
    queue.to('playing');
    await until(() => names().includes('session3.activate'), 'a third session');
    await until(() => fakes.state.faults.length === 0, 'the faults used');
    assert.deepStrictEqual(errors.slice(0, 2).map((e) => e.code), [6600102, 6600101]);
    assert.ok(errors.length >= 4 && errors.slice(2).every((e) => e.code === 6600101),
      errors.map((e) => e.code).join(', '));
    assert.ok(errors.every((e) => e instanceof kv.BusinessError &&
      e.message.startsWith('media session: setAVPlaybackState failed')));
  } finally {
    bridgeModule.setServiceExceptionLimitForTests(3000);
    await bridge.release();
  }
});

test('the task-cancel notice is listened to only where the platform has it', async () => {
  let { bridge } = await bridgeOn({ queue: new FakeQueue(), wantAgent });
  await bridge.release();
  assert.ok(!names().some((n) => n.startsWith('backgroundTaskManager.')));
  fakes.addCancelApi();
  try {
    const queue = new FakeQueue();
    ({ bridge } = await bridgeOn({ queue, wantAgent }));
    assert.strictEqual(fakes.cancelListeners.length, 1);
    queue.to('playing');
    await until(() => bridge.backgroundRunning, 'the task');
    fakes.cancelTask();  // the system took the task: requested again when playback resumes
    assert.strictEqual(bridge.backgroundRunning, false);
    queue.to('paused');
    queue.to('playing');
    await until(() => bridge.backgroundRunning && fakes.state.running, 'the task again');
    await bridge.release();
    assert.strictEqual(fakes.cancelListeners.length, 0);
    assert.deepStrictEqual(taskCalls(), ['startBackgroundRunning', 'startBackgroundRunning',
      'stopBackgroundRunning']);
  } finally {
    await bridge.release();
    fakes.removeCancelApi();
  }
});

test('release removes every listener; one bridge at a time; options are checked', async () => {
  const queue = new FakeQueue();
  const { bridge, session } = await bridgeOn({ queue, wantAgent });
  assert.ok(queue.listenerCount() > 0);
  await assert.rejects(kv.createBridge({ context, queue: new FakeQueue() }),
    (e) => e.code === 5400102 && /already in use/.test(e.message));
  queue.to('playing');
  await until(() => bridge.backgroundRunning, 'the task');
  const from = fakes.state.calls.length;
  await bridge.release();
  assert.strictEqual(session.listenerCount(), 0);
  assert.strictEqual(queue.listenerCount(), 0);
  assert.deepStrictEqual(names(from).filter((n) => n.endsWith('.off')).length, 11);
  assert.ok(names(from).includes('session1.destroy'));
  assert.ok(names(from).includes('stopBackgroundRunning'));
  // Released: nothing more reaches the session, and a release again is a no-op.
  const after = fakes.state.calls.length;
  queue.to('paused');
  await bridge.release();
  assert.deepStrictEqual(names(after), []);

  const bad = [[{ queue }, 'options.context'], [{ context }, 'options.queue'],
    [{ context, queue, player: kv.createPlayer() }, 'options.queue'],
    [{ context, player: {} }, 'options.player'], [{ context, queue, speed: 1 }, 'options.speed'],
    [{ context, queue, item: { durationMs: -2 } }, 'options.item.durationMs'],
    [{ context, queue, followShareHints: 'yes' }, 'options.followShareHints']];
  for (const [options, name] of bad) {
    await assert.rejects(kv.createBridge(options), (e) => e.code === 401 &&
      e.message.includes(`'${name}'`), name);
  }
  // A session the platform cannot make: the bridge is refused and the next may try.
  fakes.reset();
  fakes.fail('createAVSession', 6600101);
  await assert.rejects(kv.createBridge({ context, queue }), (e) => e.code === 6600101);
  const next = await kv.createBridge({ context, queue });
  await next.release();
});

test('a single player: its states and metadata, shared hints acted on, forced ones followed',
  async () => {
  const player = kv.createPlayer({ timeUpdateIntervalMs: 60000 });
  const { bridge, errors, session } = await bridgeOn({ player, wantAgent,
    item: { id: 'tone', title: 'Tone' } });
  const { EventSlot, interruptEvent } = require('../src/main/ets/Events.ets');
  // A RESUME comes while paused, where the engine's script posts none: as the player routes one.
  const resume = () => player.listeners.emit(EventSlot.AUDIO_INTERRUPT, interruptEvent(1, 1));
  const reached = (state, task) => until(() => player.state === state &&
    bridge.backgroundRunning === task && fakes.state.running === task,
    () => `${state}, task ${task}: ${player.state} ${fakes.transcript().join('\n')}`);
  try {
    const registered = fakes.state.calls.filter((c) => c.name === 'session1.on')
      .map((c) => c.args[0]);
    assert.deepStrictEqual(registered.sort(), ['fastForward', 'pause', 'play', 'rewind', 'seek',
      'setLoopMode', 'setSpeed', 'stop']);
    player.setSource(media('tone.m4a'));
    // A shared PAUSE at 300 ms, the system's own PAUSE at 600 ms (tone.m4a lasts 4 s).
    player.setOption(1, 'kavori_test_interrupts', '300:1:2,600:0:2');
    await player.prepare();
    const metadata = fakes.state.calls.filter((c) => c.name.endsWith('setAVMetadata')).pop();
    assert.strictEqual(metadata.args[0].assetId, 'tone');
    assert.ok(metadata.args[0].duration > 1000, 'the duration once known');
    session.fire('play');
    await until(() => published().some((r) => r.state === PS.PLAYBACK_STATE_PLAY), 'PLAY');
    await reached('paused', false);  // the shared PAUSE: the bridge paused
    assert.strictEqual(published().pop().state, PS.PLAYBACK_STATE_PAUSE);
    resume();  // after the bridge's own pause: plays again
    await reached('playing', true);
    await reached('paused', false);  // the system's PAUSE: shown, task ended
    assert.strictEqual(published().pop().state, PS.PLAYBACK_STATE_PAUSE);
    resume();  // not the bridge's pause: no play
    await settled();
    assert.strictEqual(player.state, 'paused');
    session.fire('play');
    await reached('playing', true);
    session.fire('pause');
    await reached('paused', false);
    resume();  // nor over the user's pause
    await settled();
    assert.strictEqual(player.state, 'paused');

    session.fire('setLoopMode', LoopMode.LOOP_MODE_SINGLE);
    assert.strictEqual(player.loop, true);
    assert.strictEqual(published().pop().loopMode, LoopMode.LOOP_MODE_SINGLE);
    session.fire('setLoopMode', LoopMode.LOOP_MODE_LIST);  // refused: what is in effect shows
    assert.strictEqual(published().pop().loopMode, LoopMode.LOOP_MODE_SINGLE);
    session.fire('setSpeed', 2);
    await until(() => published().pop().speed === 2, 'the speed');
    session.fire('stop');
    await until(() => player.state === 'stopped', 'stopped');
    assert.strictEqual(published().pop().state, PS.PLAYBACK_STATE_STOP);
    session.fire('play');  // a stopped player prepares again first
    await reached('playing', true);
    assert.deepStrictEqual(errors.map((e) => e.code), [401]);
  } finally {
    await bridge.release();
    await player.release();
  }
  assert.strictEqual(fakes.state.running, false);

  // With shared hints left to the app, the bridge does not act on them.
  const own = kv.createPlayer({ timeUpdateIntervalMs: 60000 });
  const off = await bridgeOn({ player: own, followShareHints: false });
  try {
    own.setSource(media('tone.m4a'));
    own.setOption(1, 'kavori_test_interrupts', '100:1:2');
    let hints = 0;
    own.on('audioInterrupt', () => hints++);
    await own.prepare();
    await own.play();
    await until(() => hints === 1, 'the hint');
    await settled();
    assert.strictEqual(own.state, 'playing');
  } finally {
    await off.bridge.release();
    await own.release();
  }
});

test('a queue of the bundled media: play, pause, next over an item that fails, seek, release',
  async () => {
  const queue = kv.createQueue({ timeUpdateIntervalMs: 60000 });
  queue.add([{ url: media('tone.m4a'), id: 'tone', title: 'Tone' },
    { url: 'script:100,-10000,-5', id: 'broken', title: 'Broken' },
    { url: media('tone.m4a'), id: 'tone-2', title: 'Tone again' }]);
  const keys = queue.items.map((e) => e.key);
  const { bridge, errors, session } = await bridgeOn({ queue, wantAgent });
  const queueErrors = [];
  queue.on('error', (e, index) => queueErrors.push([e.code, index]));
  const marks = {};
  const mark = (name) => { marks[name] = fakes.state.calls.length; };
  const last = (suffix) => fakes.state.calls.filter((c) => c.name.endsWith(suffix)).pop().args[0];
  try {
    mark('play');
    session.fire('play');
    await until(() => queue.state === 'playing' && bridge.backgroundRunning, 'playing');
    mark('pause');
    session.fire('pause');
    await until(() => queue.state === 'paused' && !bridge.backgroundRunning, 'paused');
    assert.strictEqual(last('setAVPlaybackState').state, PS.PLAYBACK_STATE_PAUSE);
    session.fire('play');
    await until(() => queue.state === 'playing' && bridge.backgroundRunning, 'playing again');
    mark('next');
    session.fire('playNext');  // a media key's next: the broken item fails and is skipped
    await until(() => queue.index === 2 && queue.state === 'playing', 'the third item');
    assert.deepStrictEqual(queueErrors.map((e) => e[1]), [1]);
    assert.strictEqual(last('setAVMetadata').assetId, 'tone-2');
    assert.strictEqual(last('setAVPlaybackState').activeItemId, keys[2]);
    // The task was held across the hand-off: no stop since the play.
    assert.ok(!names(marks.next).includes('stopBackgroundRunning'));
    mark('seek');
    session.fire('seek', 2500);
    await until(() => {
      const r = published(marks.seek).pop();
      return r !== undefined && r.position.elapsedTime >= 2500;
    }, 'the seek published');
    mark('release');
    await bridge.release();
    assert.strictEqual(session.listenerCount(), 0);
    assert.strictEqual(fakes.state.running, false);
    assert.deepStrictEqual(errors, []);
    // The calls of each step, for a reader: KAVORI_SESSION_TRANSCRIPT=1.
    if (process.env.KAVORI_SESSION_TRANSCRIPT) {
      const steps = Object.entries(marks);
      steps.forEach(([name, from], i) => {
        const to = i + 1 < steps.length ? steps[i + 1][1] : fakes.state.calls.length;
        console.log(`## ${name}\n${fakes.transcript(from).slice(0, to - from).join('\n')}`);
      });
    }
  } finally {
    await bridge.release();
    await queue.release();
  }
});
