'use strict';
// Every method of the player in every state, against the states written here from the platform's
// rules. A call the state refuses never throws, never reaches the engine, changes no state and is
// reported on 'error' once, with 5400102 naming the call and the state; a promise method's promise
// also rejects with it. A call the state allows is not refused. The README's state table is the
// package's own table.
// KAVORI_PACKAGE_INDEX runs the cells against another build of the package (an older release).
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { engineTrace } = require('../../test/js/logfile.js');

const trace = engineTrace();  // before the module loads
require('./ets-require.js');
const kv = require(process.env.KAVORI_PACKAGE_INDEX || '../Index.ets');
const { STATES, STATE_RULES, stateTableMarkdown } = require('../src/main/ets/StateTable.ets');
const { loadHost, root } = require('../../test/js/loader.js');
const { until } = require('../../test/js/proxy_helpers.js');

const NOT_PERMITTED = 5400102;
const media = (name) => path.join(root, 'examples', 'media', name);

async function prepared(p) {
  p.setSource('script:200');
  await p.prepare();
}
async function playing(p) {
  await prepared(p);
  await p.play();
}
// Brings a fresh player into each state.
const SETUP = {
  idle: async () => {},
  initialized: async (p) => p.setSource('script:200'),
  preparing: async (p) => {
    // Once its one event is here, the engine's message thread has no more work to trace.
    let opened = false;
    p.on('openInput', () => { opened = true; });
    p.setSource('script:407');
    p.prepare().catch(() => {});
    await until(() => opened, 'the openInput event');
  },
  prepared,
  playing,
  paused: async (p) => {
    await playing(p);
    await p.pause();
  },
  completed: async (p) => {
    p.setSource(media('tone.m4a'));
    p.setOption(4, 'speed', 0);  // plays unpaced
    await p.prepare();
    await p.play();
    await until(() => p.state === 'completed', 'completed');
  },
  stopped: async (p) => {
    await prepared(p);
    await p.stop();
  },
  error: async (p) => {
    p.setSource('script:100,-2');
    await p.prepare().catch(() => {});
  },
  released: async (p) => p.release(),
};

// The states that allow each call, as the platform documents them: sources in idle only; prepare
// from initialized (and stopped); play from prepared, paused, completed; pause from playing; seek,
// stop, speed and the track list on prepared media (the track list not when completed); reset in
// any state but released, release in any. The package's own additions: setters and recording
// need an engine player (initialized to stopped, not while preparing or in error), readers any
// state with one; promise methods are those that settle later.
const PLAYABLE = ['prepared', 'playing', 'paused', 'completed'];
const WITH_ENGINE = ['initialized', ...PLAYABLE, 'stopped'];
const READABLE = [...WITH_ENGINE, 'preparing', 'error'];
const EXPECTED = {
  setSource: ['idle'], setFdSource: ['idle'], setMediaSource: ['idle'],
  setOption: WITH_ENGINE, setDecryptToken: WITH_ENGINE,
  prepare: ['initialized', 'stopped'], play: ['prepared', 'paused', 'completed'],
  pause: ['playing'], seek: PLAYABLE, stop: PLAYABLE,
  reset: ['idle', ...READABLE], release: ['idle', ...READABLE, 'released'],
  setVolume: WITH_ENGINE, setMediaMuted: PLAYABLE, setLoopCount: WITH_ENGINE, loop: WITH_ENGINE,
  selectStream: WITH_ENGINE, setSpeed: PLAYABLE, getSpeed: READABLE, getMediaMeta: READABLE,
  getTrackDescription: ['prepared', 'playing', 'paused'],
  startRecord: WITH_ENGINE, stopRecord: WITH_ENGINE, isRecording: READABLE,
  addExternalSubtitle: WITH_ENGINE,
};
const PROMISED = ['prepare', 'play', 'pause', 'seek', 'stop', 'reset', 'release',
  'getTrackDescription', 'stopRecord', 'setMediaMuted'];

// One call of each method, with valid arguments.
const fd = fs.openSync(media('tone.m4a'), 'r');
const CALLS = {
  setSource: (p) => p.setSource('script:200'),
  setFdSource: (p) => p.setFdSource(fd),
  setMediaSource: (p) => p.setMediaSource({ url: 'script:200', headers: { 'X-A': 'b' } }),
  setOption: (p) => p.setOption(4, 'unused', 1),
  setDecryptToken: (p) => p.setDecryptToken('token'),
  prepare: (p) => p.prepare(),
  play: (p) => p.play(),
  pause: (p) => p.pause(),
  seek: (p) => p.seek(0),
  stop: (p) => p.stop(),
  reset: (p) => p.reset(),
  release: (p) => p.release(),
  setVolume: (p) => p.setVolume(0.5),
  setMediaMuted: (p) => p.setMediaMuted(kv.MediaType.MEDIA_TYPE_AUD, true),
  setLoopCount: (p) => p.setLoopCount(2),
  loop: (p) => { p.loop = true; },
  selectStream: (p) => p.selectStream(0, true),
  setSpeed: (p) => p.setSpeed(2),
  getSpeed: (p) => p.getSpeed(),
  getMediaMeta: (p) => p.getMediaMeta(),
  getTrackDescription: (p) => p.getTrackDescription(),
  startRecord: (p) => p.startRecord(1),
  stopRecord: (p) => p.stopRecord(),
  isRecording: (p) => p.isRecording(),
  addExternalSubtitle: (p) => p.addExternalSubtitle('/data/none.srt'),
};

// Engine calls of any player, reference counting and the message threads' reads left out: a
// player's loop starts on its own thread and may read its weak handle after the cell began.
const engineCalls = (lines) => lines.filter((l) => l.startsWith('kvmp_') &&
  !['kvmp_inc_ref', 'kvmp_dec_ref_p', 'kvmp_get_msg', 'kvmp_get_weak_thiz']
    .includes(l.split(' ')[0]));

// What goes wrong in one cell, or null.
async function cell(method, state) {
  const player = kv.createPlayer({ exported: loadHost().exportTo({}), speedProperty: 10003 });
  try {
    await SETUP[state](player);
    assert.strictEqual(player.state, state);
    const errors = [];
    player.on('error', (e) => errors.push(e));
    trace.take();
    let result;
    try {
      result = CALLS[method](player);
    } catch (e) {
      return `threw ${e.code} ${e.message}`;
    }
    // A refusal is decided in the call, so its rejection has come by the next turn; an allowed
    // transition may still be on its way then.
    let rejection = null;
    if (result instanceof Promise) {
      const nextTurn = new Promise((resolve) => setImmediate(() => resolve(null)));
      rejection = await Promise.race([result.then(() => null, (e) => e), nextTurn]);
    }
    const refused = (e) => e !== null && e.code === NOT_PERMITTED &&
      e.message.includes(`${method}()`) && e.message.includes(`'${state}'`);
    const reports = errors.filter(refused).length;
    if (EXPECTED[method].includes(state)) {
      return reports === 0 && !refused(rejection) ? null : 'refused a call the state allows';
    }
    const calls = engineCalls(trace.take());
    const promised = PROMISED.includes(method);
    const wrong = [
      reports !== 1 && `${reports} reports of the refusal on 'error'`,
      promised !== (result instanceof Promise) && 'gave the wrong kind of result',
      promised && !refused(rejection) && 'its promise did not reject with the refusal',
      errors.length !== 1 && `${errors.length} error events`,
      calls.length > 0 && `engine calls: ${calls.join(', ')}`,
      player.state !== state && `went to ${player.state}`,
    ].filter(Boolean);
    return wrong.length === 0 ? null : wrong.join('; ');
  } finally {
    await player.release();
  }
}

test('every method in every state: refused without a throw or an engine call, reported once',
  async () => {
  assert.deepStrictEqual(Object.keys(CALLS).sort(), Object.keys(EXPECTED).sort());
  const failures = [];
  for (const method of Object.keys(EXPECTED)) {
    for (const state of STATES) {
      const wrong = await cell(method, state);
      if (wrong !== null) failures.push(`${method} in ${state}: ${wrong}`);
    }
  }
  fs.closeSync(fd);
  const cells = Object.keys(EXPECTED).length * STATES.length;
  assert.deepStrictEqual(failures, [], `${failures.length} of ${cells} cells failed`);
  assert.strictEqual(cells, 250);
  // The package's table says the same, so the README's copy of it does too.
  assert.deepStrictEqual(Object.fromEntries(STATE_RULES.map((r) => [r.method,
    STATES.filter((s) => r.allowed.includes(s))])), Object.fromEntries(Object.entries(EXPECTED)
    .map(([m, allowed]) => [m, STATES.filter((s) => allowed.includes(s))])));
});

test('the README shows the package\'s state tables, the player\'s and the queue\'s', () => {
  const readme = fs.readFileSync(path.join(root, 'har', 'README.md'), 'utf8');
  for (const table of [stateTableMarkdown(), kv.queueStateTableMarkdown()]) {
    assert.ok(readme.includes(table), table);
  }
});
