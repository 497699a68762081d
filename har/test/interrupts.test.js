'use strict';
// Audio interruptions and setMediaMuted on the bundled media. The stand-in engine posts scripted
// interrupts at set media times (its test-only source options), as an engine that acts on a
// forced PAUSE or STOP itself and as one that only reports it: either way the app sees the same
// event, then the same state, and the engine ends in that state.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const path = require('node:path');
const { isDeepStrictEqual } = require('node:util');
const { engineTrace } = require('../../test/js/logfile.js');

const trace = engineTrace();  // before the module loads
require('./ets-require.js');
const kv = require('../Index.ets');
const { root } = require('../../test/js/loader.js');
const { until } = require('../../test/js/proxy_helpers.js');

const media = (name) => path.join(root, 'examples', 'media', name);
const FORMAT = 1;
const { INTERRUPT_TYPE_BEGIN: BEGIN, INTERRUPT_TYPE_END: END } = kv.InterruptType;
const AUD = kv.MediaType.MEDIA_TYPE_AUD;

// The engine calls that pause or stop a player, or set its volume, since the last take.
const engineCalls = (prefixes) => trace.take().filter((l) =>
  prefixes.some((p) => l.startsWith(`${p} `))).map((l) => l.split(' ')[0]);

// A player of tone.m4a (4 s, looping so that it never completes here) whose engine posts the
// interrupts given, and its events in order. No ticks: timeUpdate comes only from a pause.
async function interrupted(interrupts, acts, options = { timeUpdateIntervalMs: 60000 }) {
  const player = kv.createPlayer(options);
  player.log = [];
  player.interrupts = [];
  player.on('audioInterrupt', (e) => {
    player.interrupts.push(e);
    player.log.push('audioInterrupt');
  });
  player.on('stateChange', (s) => player.log.push(s));
  player.on('timeUpdate', () => player.log.push('timeUpdate'));
  player.on('error', (e) => player.log.push(`error ${e.code}`));
  player.setSource(media('tone.m4a'));
  player.setOption(FORMAT, 'kavori_test_interrupts', interrupts);
  if (acts) player.setOption(FORMAT, 'kavori_test_interrupt_acts', '1');
  await player.prepare();
  player.setLoopCount(0);
  return player;
}

// Each force x hint: [force, hint, eventType, the state of a playing player after]. Only a forced
// PAUSE or STOP acts; RESUME, UNDUCK and UNMUTE end an interruption.
const PAIRS = [
  [0, 0, BEGIN, 'playing'], [0, 1, END, 'playing'], [0, 2, BEGIN, 'paused'],
  [0, 3, BEGIN, 'stopped'], [0, 4, BEGIN, 'playing'], [0, 5, END, 'playing'],
  [0, 6, BEGIN, 'playing'], [0, 7, END, 'playing'],
  [1, 0, BEGIN, 'playing'], [1, 1, END, 'playing'], [1, 2, BEGIN, 'playing'],
  [1, 3, BEGIN, 'playing'], [1, 4, BEGIN, 'playing'], [1, 5, END, 'playing'],
  [1, 6, BEGIN, 'playing'], [1, 7, END, 'playing'],
];

test('every force x hint, on an engine that acts on a forced one and on one that does not', async () => {
  const failures = [];
  for (const acts of [false, true]) {
    for (const [force, hint, eventType, after] of PAIRS) {
      const player = await interrupted(`100:${force}:${hint}`, acts);
      const name = `${acts ? 'acting' : 'reporting'} engine, ${force}:${hint}`;
      try {
        trace.take();
        await player.play();
        await until(() => player.interrupts.length > 0, `the interrupt (${name})`);
        const changed = after !== 'playing';
        const wrong = [];
        const check = (what, actual, expected) => {
          if (!isDeepStrictEqual(actual, expected)) {
            wrong.push(`${what}: ${JSON.stringify(actual)}, not ${JSON.stringify(expected)}`);
          }
        };
        check('event', player.interrupts, [{ eventType, forceType: force, hintType: hint,
          type: force, hint }]);
        check('state', player.state, after);
        check('engine playing', player.isPlaying, !changed);
        // The app hears of it first; a pause reports its position as pause() does.
        check('order', player.log.slice(player.log.indexOf('audioInterrupt')),
          ['audioInterrupt', ...(changed ? [after] : []), ...(after === 'paused' ? ['timeUpdate'] : [])]);
        // The package acts only where the engine did not.
        const own = { paused: ['kvmp_pause'], stopped: ['kvmp_stop'] }[after] ?? [];
        check('package\'s engine calls', engineCalls(['kvmp_pause', 'kvmp_stop']), acts ? [] : own);
        if (wrong.length > 0) failures.push(`${name}: ${wrong.join('; ')}`);
      } finally {
        await player.release();
      }
    }
  }
  assert.deepStrictEqual(failures, []);
});

test('after a forced pause: no more timeUpdate, play() goes on; after a forced stop: prepare again',
  async () => {
  const control = kv.createPlayer({ timeUpdateIntervalMs: 10 });
  let ticks = 0;
  control.on('timeUpdate', () => ticks++);
  control.setSource(media('tone.m4a'));
  await control.prepare();
  control.setLoopCount(0);
  await control.play();
  // The playing control's updates are the clock: while it gives three, a paused player gives none.
  const threeTicks = async () => {
    const end = ticks + 3;
    await until(() => ticks >= end, 'the control player\'s updates');
  };
  for (const acts of [false, true]) {
    const player = await interrupted('100:0:2,300:0:3', acts, { timeUpdateIntervalMs: 10 });
    const updates = [];
    player.on('timeUpdate', (t) => updates.push(t));
    try {
      await player.play();
      await until(() => player.state === 'paused', 'the forced pause');
      const at = player.currentTime;
      assert.ok(at >= 100, `paused at ${at}`);
      assert.strictEqual(updates[updates.length - 1], at);
      const count = updates.length;
      await threeTicks();
      assert.deepStrictEqual([updates.length, player.currentTime], [count, at]);
      await player.play();
      await until(() => updates.length > count && player.currentTime > at, 'playing again');
      await until(() => player.state === 'stopped', 'the forced stop');
      assert.strictEqual(player.isPlaying, false);
      await assert.rejects(player.play(), (e) => e.code === kv.ErrorCode.OPERATION_NOT_PERMITTED);
      // The interrupts fire once per prepare: prepared again, the pause comes again.
      await player.prepare();
      await player.play();
      await until(() => player.state === 'paused', 'the pause of the new prepare');
      assert.deepStrictEqual(player.log.filter((e) => !e.startsWith('time')), [
        'initialized', 'preparing', 'prepared', 'playing', 'audioInterrupt', 'paused', 'playing',
        'audioInterrupt', 'stopped', 'error 5400102', 'preparing', 'prepared', 'playing',
        'audioInterrupt', 'paused']);
    } finally {
      await player.release();
    }
  }
  await control.release();
});

test('interrupts of a player that is not playing, or that the app moves on itself, are reported only',
  async () => {
  // A script posts them while preparing.
  const scripted = kv.createPlayer();
  const seen = [];
  scripted.on('audioInterrupt', (e) => seen.push([e.forceType, e.hintType, scripted.state]));
  scripted.on('stateChange', (s) => seen.push(s));
  scripted.setSource('script:429,0,2;429,0,3;429,1,1;200');
  await scripted.prepare();
  assert.deepStrictEqual(seen, ['initialized', 'preparing', [0, 2, 'preparing'],
    [0, 3, 'preparing'], [1, 1, 'preparing'], 'prepared']);
  await scripted.release();

  // The app pauses in its callback, where the player still reads playing: one pause, not two.
  const player = await interrupted('100:0:2', false);
  const states = [];
  player.on('audioInterrupt', () => {
    states.push(player.state);
    player.pause();
  });
  try {
    await player.play();
    await until(() => player.interrupts.length > 0, 'the interrupt');
    assert.deepStrictEqual(states, ['playing']);
    assert.deepStrictEqual(player.log.slice(player.log.indexOf('audioInterrupt')),
      ['audioInterrupt', 'paused', 'timeUpdate']);
  } finally {
    await player.release();
  }

  // A malformed list is the test's own mistake: the prepare fails.
  const wrong = kv.createPlayer();
  wrong.setSource(media('tone.m4a'));
  wrong.setOption(FORMAT, 'kavori_test_interrupts', '100:0');
  await assert.rejects(wrong.prepare(), (e) => e instanceof kv.BusinessError);
  assert.strictEqual(wrong.state, 'error');
  await wrong.release();
});

test('setMediaMuted keeps the volume set, setVolume while muted waits for unmute', async () => {
  const player = kv.createPlayer();
  const seen = [];
  player.on('volumeChange', (v) => seen.push(['volumeChange', v]));
  player.on('error', (e) => seen.push(['error', e.code]));
  player.setSource(media('tone.m4a'));
  await player.prepare();
  // The volume of the engine's last kvmp_set_volume since the last look; [] when none.
  const volume = () => {
    const calls = trace.take().filter((l) => l.startsWith('kvmp_set_volume '));
    return calls.length === 0 ? [] : calls[calls.length - 1].split(' ').slice(2);
  };
  try {
    trace.take();
    const steps = [
      // [what, the engine's volume set by it (none: no call), muted after, events]
      [() => player.setVolume(0.4, 0.6), ['0.4', '0.6'], false, [['volumeChange', 0.4]]],
      [() => player.setMediaMuted(AUD, true), ['0', '0'], true, []],
      [() => player.setMediaMuted(AUD, true), [], true, []],
      [() => player.play(), [], true, []],
      [() => player.setVolume(0.8), [], true, [['volumeChange', 0.8]]],
      [() => player.setMediaMuted(AUD, false), ['0.8', '0.8'], false, []],
      [() => player.setMediaMuted(AUD, false), [], false, []],
      [() => player.setMediaMuted(AUD, true), ['0', '0'], true, []],
      [() => player.pause(), [], true, []],
      [() => player.setMediaMuted(AUD, false), ['0.8', '0.8'], false, []],
    ];
    for (const [i, [call, engine, muted, events]] of steps.entries()) {
      seen.length = 0;
      await call();
      assert.deepStrictEqual([volume(), player.muted, seen], [engine, muted, events], `step ${i}`);
    }
    // A new engine player starts at full volume, unmuted.
    await player.setMediaMuted(AUD, true);
    await player.reset();
    assert.strictEqual(player.muted, false);
    player.setSource(media('tone.m4a'));
    await player.prepare();
    trace.take();
    await player.setMediaMuted(AUD, true);
    await player.setMediaMuted(AUD, false);
    assert.deepStrictEqual(volume(), ['1', '1']);
  } finally {
    await player.release();
  }
});

test('setMediaMuted refusals: 401 for parameters, 801 for a type it cannot mute, 5400102 by state',
  async () => {
  const player = kv.createPlayer();
  const errors = [];
  player.on('error', (e) => errors.push(e.code));
  player.setSource(media('tone.m4a'));
  try {
    const cases = [
      // [state to be in, type, muted, code]
      ['initialized', AUD, true, 5400102],
      ['prepared', 5, true, 401],
      ['prepared', '0', true, 401],
      ['prepared', AUD, 1, 401],
      ['prepared', kv.MediaType.MEDIA_TYPE_VID, true, 801],
      ['prepared', kv.MediaType.MEDIA_TYPE_SUBTITLE, false, 801],
      ['stopped', AUD, true, 5400102],
      ['stopped', kv.MediaType.MEDIA_TYPE_VID, true, 5400102],
    ];
    for (const [state, type, muted, code] of cases) {
      if (state === 'prepared' && player.state !== 'prepared') await player.prepare();
      if (state === 'stopped' && player.state !== 'stopped') await player.stop();
      assert.strictEqual(player.state, state);
      errors.length = 0;
      trace.take();
      await assert.rejects(player.setMediaMuted(type, muted), (e) => e.code === code,
        `${state} ${type} ${muted}`);
      assert.deepStrictEqual([errors, engineCalls(['kvmp_set_volume']), player.muted],
        [[code], [], false], `${state} ${type} ${muted}`);
    }
  } finally {
    await player.release();
  }
});
