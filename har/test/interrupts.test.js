'use strict';
// Audio interruptions and setMediaMuted on the bundled media. The stand-in engine posts scripted
// interrupts at set media times (test-only source options), as an engine that acts on a forced
// PAUSE or STOP itself and as one that only reports it: the app sees the same either way.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const path = require('node:path');
const { engineTrace } = require('../../test/js/logfile.js');

const trace = engineTrace();  // before the module loads
require('./ets-require.js');
const kv = require('../Index.ets');
const { root } = require('../../test/js/loader.js');
const { until } = require('../../test/js/proxy_helpers.js');

const TONE = path.join(root, 'examples', 'media', 'tone.m4a');
const [BEGIN, END] = [kv.InterruptType.INTERRUPT_TYPE_BEGIN, kv.InterruptType.INTERRUPT_TYPE_END];
const AUD = kv.MediaType.MEDIA_TYPE_AUD;
// The engine calls of these names since the last look, with their arguments.
const calls = (...names) => trace.take().filter((l) => names.includes(l.split(' ')[0]))
  .map((l) => [l.split(' ')[0], ...l.split(' ').slice(2)].join(' '));

// A looping player of tone.m4a whose engine posts the interrupts given; its events in order.
async function interrupted(script, acts, timeUpdateIntervalMs = 60000) {
  const player = kv.createPlayer({ timeUpdateIntervalMs });
  player.log = [];
  player.on('audioInterrupt', (e) => player.log.push(e));
  for (const name of ['stateChange', 'timeUpdate', 'error']) {
    player.on(name, (v) => player.log.push(name === 'stateChange' ? v : name));
  }
  player.setSource(TONE);
  player.setOption(1, 'kavori_test_interrupts', script);
  if (acts) player.setOption(1, 'kavori_test_interrupt_acts', '1');
  await player.prepare();
  player.setLoopCount(0);
  return player;
}

test('each force x hint: the event, then the state; the engine agrees, acting or not', async () => {
  // Hints 0..7 of a forced (0) and a shared (1) interrupt: [eventType, state of a playing player].
  const P = 'playing';
  const forced = [[BEGIN, P], [END, P], [BEGIN, 'paused'], [BEGIN, 'stopped'], [BEGIN, P],
    [END, P], [BEGIN, P], [END, P]];
  const shared = forced.map(([type], hint) => [type, P]);
  for (const acts of [false, true]) {
    for (const [force, rows] of [[0, forced], [1, shared]]) {
      for (const [hint, [eventType, after]] of rows.entries()) {
        const player = await interrupted(`100:${force}:${hint}`, acts);
        const name = `${acts ? 'acting' : 'reporting'} engine, ${force}:${hint}`;
        trace.take();
        await player.play();
        await until(() => player.log.some((e) => typeof e === 'object'), name);
        const own = { paused: ['kvmp_pause'], stopped: ['kvmp_stop'] }[after] ?? [];
        assert.deepStrictEqual([player.log.slice(4), player.isPlaying,
          calls('kvmp_pause', 'kvmp_stop')], [[{ eventType, forceType: force, hintType: hint,
          type: force, hint }, ...(after === P ? [] : [after]),
        ...(after === 'paused' ? ['timeUpdate'] : [])], after === P, acts ? [] : own], name);
        await player.release();
      }
    }
  }
});

test('forced pause: timeUpdate stops, play() goes on; forced stop: prepare again', async () => {
  const control = kv.createPlayer({ timeUpdateIntervalMs: 10 });
  let ticks = 0;
  control.on('timeUpdate', () => ticks++);
  control.setSource(TONE);
  await control.prepare();
  control.setLoopCount(0);
  await control.play();
  for (const acts of [false, true]) {
    const player = await interrupted('100:0:2,300:0:3', acts, 10);
    await player.play();
    await until(() => player.state === 'paused', 'the forced pause');
    const [count, at] = [player.log.length, player.currentTime];
    // The playing control's updates are the clock: while it gives three, the player gives none.
    const end = ticks + 3;
    await until(() => ticks >= end, 'the control\'s updates');
    assert.deepStrictEqual([player.log.length, player.currentTime], [count, at]);
    await player.play();
    await until(() => player.state === 'stopped', 'the forced stop');
    await assert.rejects(player.play(), (e) => e.code === kv.ErrorCode.OPERATION_NOT_PERMITTED);
    await player.prepare();  // and the script plays again
    await player.play();
    await until(() => player.state === 'paused', 'the pause after the new prepare');
    assert.deepStrictEqual(player.log.filter((e) => typeof e === 'string' && e !== 'timeUpdate'),
      ['initialized', 'preparing', 'prepared', 'playing', 'paused', 'playing', 'stopped', 'error',
        'preparing', 'prepared', 'playing', 'paused']);
    await player.release();
  }
  await control.release();
});

test('reported only: before playing, and when the app\'s callback moves the player itself',
  async () => {
  const scripted = kv.createPlayer();
  const seen = [];
  scripted.on('audioInterrupt', (e) => seen.push(`${e.forceType}:${e.hintType} ${scripted.state}`));
  scripted.setSource('script:429,0,2;429,0,3;200');
  await scripted.prepare();
  assert.deepStrictEqual([seen, scripted.state], [['0:2 preparing', '0:3 preparing'], 'prepared']);
  await scripted.release();
  // The app pauses in its callback, where the player still reads playing: one pause, not two.
  const player = await interrupted('100:0:2', false);
  player.on('audioInterrupt', () => player.pause());
  await player.play();
  await until(() => player.state === 'paused', 'the pause');
  assert.deepStrictEqual(player.log.slice(5), ['paused', 'timeUpdate']);
  await player.release();
});

test('setMediaMuted: the volume set comes back; refusals 401, 801 and 5400102', async () => {
  const player = kv.createPlayer();
  const seen = [];
  player.on('volumeChange', (v) => seen.push(v));
  player.on('error', (e) => seen.push(e.code));
  player.setSource(TONE);
  const steps = [
    // [call, engine volume calls, muted after, events]; volumeChange only from setVolume.
    [() => player.setMediaMuted(AUD, true), [], false, [5400102]],
    [() => player.prepare(), [], false, []],
    [() => player.setVolume(0.4, 0.6), ['kvmp_set_volume 0.4 0.6'], false, [0.4]],
    [() => player.setMediaMuted(AUD, true), ['kvmp_set_volume 0 0'], true, []],
    [() => player.play(), [], true, []],
    [() => player.setMediaMuted(AUD, true), [], true, []],
    [() => player.setVolume(0.8), [], true, [0.8]],
    [() => player.setMediaMuted(kv.MediaType.MEDIA_TYPE_VID, false), [], true, [801]],
    [() => player.setMediaMuted(7, false), [], true, [401]],
    [() => player.setMediaMuted(AUD, 0), [], true, [401]],
    [() => player.setMediaMuted(AUD, false), ['kvmp_set_volume 0.8 0.8'], false, []],
    [() => player.stop(), [], false, []],
    [() => player.setMediaMuted(AUD, true), [], false, [5400102]],
  ];
  trace.take();
  for (const [i, [call, engine, muted, events]] of steps.entries()) {
    seen.length = 0;
    await Promise.resolve().then(call).catch((e) => assert.strictEqual(e.code, events[0], `step ${i}`));
    assert.deepStrictEqual([calls('kvmp_set_volume'), player.muted, seen],
      [engine, muted, events], `step ${i}`);
  }
  await player.release();
});
