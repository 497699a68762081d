'use strict';
// The ArkTS player, transpiled from its .ets sources, over the real module: states and promises on
// scripted sources and the bundled media, engine errors as rejections, refused calls and
// parameters (checked against the engine trace), app callbacks that throw, seeks, timeUpdate,
// timeouts, metadata against ffprobe, and the Export-only capabilities.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { engineTrace, tempDir } = require('../../test/js/logfile.js');

const trace = engineTrace();  // before the module loads
require('./ets-require.js');
const kv = require('../Index.ets');
const { loadModule, loadHost, root } = require('../../test/js/loader.js');
const { child, createdSerial, playerCalls, until } = require('../../test/js/proxy_helpers.js');

const media = (name) => path.join(root, 'examples', 'media', name);
const refused = (state, code = kv.ErrorCode.OPERATION_NOT_PERMITTED) => (e) =>
  e instanceof kv.BusinessError && e.code === code && e.message.includes(`'${state}'`);

// A player that records its states and its named events as [name, payload].
function recorded(source, options) {
  const player = kv.createPlayer(options);
  player.states = [];
  player.events = [];
  player.on('stateChange', (state) => player.states.push(state));
  const names = ['error', 'prepared', 'completed', 'flush', 'seekDone', 'videoSizeChange',
    'bufferingUpdate', 'timedText', 'audioInterrupt', 'sarChange', ...kv.INFO_EVENT_NAMES.values()];
  for (const name of names) {
    player.on(name, (payload, value) =>
      player.events.push(value === undefined ? [name, payload] : [name, payload, value]));
  }
  if (source) player.setSource(source);
  return player;
}

test('every event kind and notice reaches its named event with its payload', async () => {
  const rows = [
    ['0', ['flush', undefined]],
    ['502,7,8', ['bufferingUpdate', kv.BufferingInfoType.BUFFERING_PERCENT, 7]],
    ['400,320,240', ['videoSizeChange', { width: 320, height: 240 }]],
    ['800,0,0,str:héllo', ['timedText', 'héllo']],
    ['429,1,2', ['audioInterrupt',
      { eventType: 1, forceType: 1, hintType: 2, type: 1, hint: 2 }]],
    ['401,4,3', ['sarChange', { num: 4, den: 3 }]],
    ['402', ['videoRenderingStart', { code: 3, value: 0, text: undefined }]],
    ['422,0,2,hex:6162', ['sei', { code: 422, value: 0, text: 'ab' }]],
    ['428,0,0,str:t', ['text', { code: 428, value: 0, text: 't' }]],
    ['500,5', ['bufferingStart', { code: 701, value: 5, text: undefined }]],
    ['501,6', ['bufferingEnd', { code: 702, value: 6, text: undefined }]],
    ['404,90', ['rotationChange', { code: 10001, value: 90, text: undefined }]],
    ['403', ['audioRenderingStart', { code: 10002, value: 0, text: undefined }]],
    ['405', ['audioDecodingStart', { code: 10003, value: 0, text: undefined }]],
    ['406', ['videoDecodingStart', { code: 10004, value: 0, text: undefined }]],
    ['407', ['openInput', { code: 10005, value: 0, text: undefined }]],
    ['408', ['streamInfoFound', { code: 10006, value: 0, text: undefined }]],
    ['409', ['componentOpen', { code: 10007, value: 0, text: undefined }]],
    ['410', ['frameChasingStart', { code: 10010, value: 0, text: undefined }]],
    ['411', ['frameChasingEnd', { code: 10011, value: 0, text: undefined }]],
    ['900,77', ['accurateSeekDone', { code: 10100, value: 77, text: undefined }]],
    ['300', ['completed', undefined]],
  ];
  const player = recorded(`script:${rows.map((r) => r[0]).join(';')};200`);
  await player.prepare();
  try {
    // The buffering notices come as bufferingUpdate too, with the platform's types 1 and 2 and
    // its value for them, 0; the notice's own value stays on the info event.
    const before = { accurateSeekDone: ['seekDone', 77], bufferingStart: ['bufferingUpdate', 1, 0],
      bufferingEnd: ['bufferingUpdate', 2, 0] };
    assert.deepStrictEqual(player.events, [...rows.map((r) => r[1]).flatMap((e) =>
      before[e[0]] ? [before[e[0]], e] : [e]), ['prepared', undefined]]);
    assert.deepStrictEqual(player.states, ['initialized', 'preparing', 'prepared']);
  } finally {
    await player.release();
  }
});

test('media: prepare, play, pause, seek, completion, stop, prepare again, release', async () => {
  const player = recorded(media('tone.m4a'));
  try {
    await player.prepare();
    assert.strictEqual(player.duration, 4000);
    player.play();
    player.pause();
    assert.strictEqual(await player.seek(1500), 1500);
    player.setOption(4, 'speed', 0);  // plays unpaced from here
    player.play();
    await until(() => player.state === 'completed', 'completed');
    await player.stop();
    await player.prepare();
    await player.release();
    await player.release();
    assert.deepStrictEqual(player.states, ['initialized', 'preparing', 'prepared', 'playing',
      'paused', 'playing', 'completed', 'stopped', 'preparing', 'prepared', 'released']);
    assert.deepStrictEqual(player.events.filter((e) => e[0] === 'seekDone'), [['seekDone', 1500]]);
  } finally {
    await player.release();
  }
});

test('engine errors reject with the engine\'s number kept and leave the player in error',
  async () => {
  for (const [source, code] of [['script:407;100,-1094995529', -1094995529],
    [media('missing.m4a'), -2]]) {
    const player = recorded(source);
    await assert.rejects(player.prepare(),
      (e) => e instanceof kv.BusinessError && e.engineCode === code);
    assert.strictEqual(player.state, 'error');
    assert.deepStrictEqual(
      player.events.filter((e) => e[0] === 'error').map((e) => e[1].engineCode),
      [code]);
    await assert.rejects(player.play(), refused('error'));
    await player.reset();
    assert.strictEqual(player.state, 'idle');
    await player.release();
  }
});

test('ids of live players are unique; without an engine player the getters are neutral',
  async () => {
  const m = loadModule();
  const player = kv.createPlayer({ id: 'kv-state' });
  assert.throws(() => kv.createPlayer({ id: 'kv-state' }), refused('kv-state'));
  assert.deepStrictEqual([player.duration, player.currentTime, player.isPlaying,
    player.audioCodec, player.audioSessionId], [0, 0, false, '', 0]);
  assert.strictEqual(m._getAudioSessionId(player.id), 0);  // no engine player was made
  await player.release();
  await kv.createPlayer({ id: 'kv-state' }).release();  // free again once released
});

test('generated ids come back once released, never while anything of the old player can use them',
  async () => {
  const life = async (options) => {
    const player = kv.createPlayer(options);
    player.setSource('script:200');
    await player.prepare();
    return player;
  };
  const first = await life();
  await first.release();
  const again = kv.createPlayer();
  assert.strictEqual(again.id, first.id);
  await again.release();
  // Taken meanwhile by an app that chose it: skipped, and not given back by its release.
  const chosen = kv.createPlayer({ id: first.id });
  const fresh = kv.createPlayer();
  assert.notStrictEqual(fresh.id, first.id);
  await chosen.release();
  assert.notStrictEqual(kv.createPlayer().id, first.id);
  await fresh.release();
  // A stopRecord() still running looks the id up later: the id waits for it.
  const recording = await life({ exported: loadHost().exportTo({}) });
  recording.startRecord(1);
  const stopping = recording.stopRecord();
  await recording.release();
  const meanwhile = kv.createPlayer();
  assert.notStrictEqual(meanwhile.id, recording.id);
  await stopping;
  assert.strictEqual(kv.createPlayer().id, recording.id);
  await meanwhile.release();

  // What the module keeps per id: one instance per id ever used, in a process of its own. A player
  // per track, one at a time or three at once, makes only the first ones; video players, whose id
  // names their surface, keep theirs.
  const log = path.join(tempDir(), 'ids.log');
  fs.writeFileSync(log, '');
  const r = await child(`
    m._nativeOpenlog('log');
    require(${JSON.stringify(path.join(__dirname, 'ets-require.js'))});
    const kv = require(${JSON.stringify(path.join(__dirname, '..', 'Index.ets'))});
    const made = () => require('node:fs').readFileSync(process.env.KAVORI_HILOG_FILE, 'utf8')
      .split('\\n').filter((l) => l.endsWith('getInstance create object')).length;
    const life = async () => {
      const p = kv.createPlayer();
      p.setSource('script:200');
      await p.prepare();
      return p;
    };
    (async () => {
      const counts = [];
      for (const [rounds, atOnce] of [[12, 1], [6, 3]]) {
        const before = made();
        for (let i = 0; i < rounds; i++) {
          const players = await Promise.all(Array.from({ length: atOnce }, life));
          await Promise.all(players.map((p) => p.release()));
        }
        counts.push(made() - before);
      }
      const video = kv.createPlayer({ video: true });
      await video.release();
      counts.push(kv.createPlayer().id === video.id);
      console.log(JSON.stringify(counts));
    })();`, [], { KAVORI_HILOG_FILE: log });
  assert.strictEqual(r.status, 0, r.err);
  assert.deepStrictEqual(JSON.parse(r.out), [1, 2, false]);
});

test('bad parameters give 401 naming the parameter, thrown or rejected, and reach no engine',
  async () => {
  const f = () => {};
  trace.take();
  const player = kv.createPlayer({ exported: loadHost().exportTo({}) });
  player.setSource(media('tone.m4a'));
  const serial = createdSerial(trace.take());
  await player.prepare();
  trace.take();
  const rows = [
    ['options.id', () => kv.createPlayer({ id: 5 })],
    ['options.id', () => kv.createPlayer({ id: '' })],
    ['options.video', () => kv.createPlayer({ video: 'yes' })],
    ['options.timeoutMs', () => kv.createPlayer({ timeoutMs: 100 })],
    ['options.prepareTimeoutMs', () => kv.createPlayer({ prepareTimeoutMs: 0 })],
    ['options.seekTimeoutMs', () => kv.createPlayer({ seekTimeoutMs: NaN })],
    ['options.accurateSeekOption', () => kv.createPlayer({ accurateSeekOption: 4 })],
    ['options.accurateSeekOption.category',
      () => kv.createPlayer({ accurateSeekOption: { category: '4', key: 'k' } })],
    ['options.accurateSeekOption.key',
      () => kv.createPlayer({ accurateSeekOption: { category: 4 } })],
    ['options.timeUpdateIntervalMs', () => kv.createPlayer({ timeUpdateIntervalMs: 0 })],
    ['url', () => player.setSource(5)],
    ['fd', () => player.setFdSource(NaN)],
    ['fd', () => player.setFdSource(-1)],
    ['fd', () => player.setFdSource(1.5)],
    ['fd', () => player.setFdSource('3')],
    ['category', () => player.setOption('4', 'speed', 0)],
    ['key', () => player.setOption(4, 5, 0)],
    ['value', () => player.setOption(4, 'speed', NaN)],
    ['token', () => player.setDecryptToken(5)],
    ['left', () => player.setVolume('x')],
    ['left', () => player.setVolume(Infinity)],
    ['left', () => player.setVolume(2)],
    ['right', () => player.setVolume(1, -1)],
    ['count', () => player.setLoopCount('x')],
    ['count', () => player.setLoopCount(NaN)],
    ['count', () => player.setLoopCount(-1)],
    ['count', () => player.setLoopCount(1.5)],
    ['loop', () => { player.loop = 1; }],
    ['index', () => player.selectStream(-1, true)],
    ['index', () => player.selectStream(0.5, true)],
    ['selected', () => player.selectStream(0, 'true')],
    ['speed', () => player.setSpeed(NaN)],
    ['intervalMs', () => player.setTimeUpdateInterval(0)],
    ['value', () => player.startRecord(1.5)],
    ['url', () => player.addExternalSubtitle(5)],
    ['type', () => player.on('nope', f)],
    ['type', () => player.on(5, f)],
    ['callback', () => player.on('prepared', undefined)],
    ['type', () => player.off('nope')],
    ['callback', () => player.off('prepared', 5)],
    ['listener', () => kv.addRawEventListener(5)],
  ];
  const promised = [
    ['timeMs', () => player.seek(NaN)],
    ['timeMs', () => player.seek('100')],
    ['mode', () => player.seek(0, 3)],
    ['mode', () => player.seek(0, '2')],
  ];
  const invalid = (name) => (e) => e instanceof kv.BusinessError &&
    e.code === kv.ErrorCode.INVALID_PARAMETER && e.message.includes(`'${name}'`) &&
    e.message.includes(', got ');
  try {
    for (const [name, call] of rows) assert.throws(call, invalid(name), name);
    for (const [name, call] of promised) {
      let pending = null;
      assert.doesNotThrow(() => { pending = call(); }, name);
      await assert.rejects(pending, invalid(name), name);
    }
    assert.deepStrictEqual(playerCalls(trace.take(), serial), []);
    assert.strictEqual(player.state, 'prepared');
  } finally {
    await player.release();
  }
});

test('app callbacks that throw: the package finishes its part, the others run, errors surface',
  async () => {
  const r = await child(`
    require(${JSON.stringify(require.resolve('./ets-require.js'))});
    const kv = require(${JSON.stringify(require.resolve('../Index.ets'))});
    const uncaught = [];
    process.on('uncaughtException', (e) => uncaught.push(e.message));
    (async () => {
      const seen = [];
      const player = kv.createPlayer();
      player.on('stateChange', (s) => {
        if (s === 'preparing' || s === 'released') throw new Error('state ' + s);
      });
      player.on('stateChange', (s) => seen.push(s));
      player.on('bufferingUpdate', (t, v) => { throw new Error('update ' + v); });
      player.on('bufferingUpdate', (t, v) => seen.push(v));
      player.on('completed', () => seen.push('completed event'));
      const raw = (what, p1) => { if (what === 3) throw new Error('raw ' + p1); };
      kv.addRawEventListener(raw);
      player.setSource('script:200;502,1;502,2;300');
      await player.prepare();
      await until(() => seen.includes('completed event'), 'completion');
      await player.release();
      kv.removeRawEventListener(raw);
      const next = kv.createPlayer();
      next.setSource('script:200');
      await next.prepare();
      await next.release();
      await until(() => uncaught.length === 6, () => uncaught.join(', '));
      console.log(JSON.stringify([seen, player.state, uncaught.sort()]));
    })().catch((e) => { console.error(e); process.exit(1); });`);
  assert.strictEqual(r.status, 0, r.err);
  assert.deepStrictEqual(JSON.parse(r.out), [
    ['initialized', 'preparing', 'prepared', 1, 2, 'completed event', 'released'], 'released',
    ['raw 1', 'raw 2', 'state preparing', 'state released', 'update 1', 'update 2']]);
});

test('seeks settle with the position reached; superseded ones when the later completes',
  async () => {
  const player = recorded(media('tone.m4a'));
  const updates = [];
  player.on('timeUpdate', (p) => updates.push(p));
  await player.prepare();
  try {
    assert.deepStrictEqual(await Promise.all([player.seek(1000), player.seek(3000)]),
      [3000, 3000]);
    assert.deepStrictEqual(await Promise.all([player.seek(500), player.seek(3500),
      player.seek(2500)]), [2500, 2500, 2500]);
    assert.strictEqual(await player.seek(99999), 4000);
    assert.strictEqual(await player.seek(-5), 0);
    const done = [3000, 2500, 4000, 0];
    assert.deepStrictEqual(player.events.filter((e) => e[0] === 'seekDone').map((e) => e[1]),
      done);
    assert.deepStrictEqual(updates, done);
  } finally {
    await player.release();
  }
});

test('timeUpdate: at the interval while playing, once on pause and after a seek, else never',
  async () => {
  const player = kv.createPlayer({ timeUpdateIntervalMs: 10 });
  const control = kv.createPlayer({ timeUpdateIntervalMs: 10 });
  const updates = [];
  let ticks = 0;
  player.on('timeUpdate', (p) => updates.push([player.state, p]));
  control.on('timeUpdate', () => ticks++);
  // The playing control's updates are the clock: while it gives three, a player not playing
  // gives none.
  const threeTicks = async () => {
    const end = ticks + 3;
    await until(() => ticks >= end, 'the control player\'s updates');
  };
  player.setSource(media('tone.m4a'));
  control.setSource(media('tone.m4a'));
  await Promise.all([player.prepare(), control.prepare()]);
  try {
    control.setLoopCount(0);
    control.play();
    await threeTicks();
    assert.deepStrictEqual(updates, []);
    player.play();
    await until(() => updates.length >= 3, 'updates while playing');
    player.pause();
    const paused = updates.length;
    assert.deepStrictEqual(updates[paused - 1], ['paused', player.currentTime]);
    const positions = updates.map((u) => u[1]);
    assert.ok(updates.slice(0, -1).every((u) => u[0] === 'playing'), JSON.stringify(updates));
    assert.deepStrictEqual(positions, [...positions].sort((a, b) => a - b));
    await threeTicks();
    assert.strictEqual(await player.seek(2000), 2000);
    await threeTicks();
    assert.deepStrictEqual(updates.slice(paused), [['paused', 2000]]);
    player.setTimeUpdateInterval(20);
    player.play();
    await until(() => updates.length >= paused + 3, 'updates after playing again');
    await player.release();
    const released = updates.length;
    await threeTicks();
    assert.strictEqual(updates.length, released);
  } finally {
    await player.release();
    await control.release();
  }
});

test('release or reset while preparing settles the pending prepare with an error', async () => {
  for (const end of ['release', 'reset']) {
    const player = recorded('script:407');
    const pending = player.prepare();
    const settled = assert.rejects(pending, (e) => e.code === kv.ErrorCode.OPERATION_NOT_PERMITTED
      && e.message.includes(end === 'release' ? 'released' : 'reset'));
    await until(() => player.events.length === 1, 'one event');
    await player[end]();
    await settled;
    await player.release();
  }
});

test('prepare and seek time out with the timeout code only when given a limit', async () => {
  const player = recorded('script:200', { seekTimeoutMs: 50 });
  await player.prepare();
  // A scripted source cannot seek, so no event ever completes this one.
  await assert.rejects(player.seek(10), refused(player.id, kv.ErrorCode.TIMEOUT));
  assert.strictEqual(player.state, 'prepared');
  await player.release();
  const slow = recorded('script:407', { prepareTimeoutMs: 50 });
  await assert.rejects(slow.prepare(), (e) => e.code === kv.ErrorCode.TIMEOUT);
  assert.strictEqual(slow.state, 'error');
  await slow.release();
});

test('metadata: values with commas and semicolons; the bundled clip against ffprobe', async () => {
  const parsed = kv.parseMediaMeta('key:codec_long_name,value:H.263 / H.263-1996, H.263+;x;' +
    'key:width,value:176;key:unknown_key,value:a,b;');
  assert.strictEqual(parsed.codecLongName, 'H.263 / H.263-1996, H.263+;x');
  assert.strictEqual(parsed.width, 176);
  assert.strictEqual(parsed.entries.get('unknown_key'), 'a,b');

  const probe = JSON.parse(execFileSync('ffprobe', ['-v', 'error', '-show_streams', '-of', 'json',
    media('clip.mp4')], { encoding: 'utf8' })).streams;
  const video = probe.find((s) => s.codec_type === 'video');
  const audio = probe.find((s) => s.codec_type === 'audio');
  const player = recorded(media('clip.mp4'));
  await player.prepare();
  const meta = player.getMediaMeta();
  await player.release();
  // Keys of both streams hold the last (audio) stream's value.
  assert.deepStrictEqual([meta.type, meta.codecName, meta.codecLongName, meta.width, meta.height,
    meta.sampleRate], ['audio', audio.codec_name, audio.codec_long_name, video.width,
    video.height, Number(audio.sample_rate)]);
});

test('recording needs an object equipped through Export',
  async () => {
  const unsupported = (e) => e.code === kv.ErrorCode.UNSUPPORTED_CAPABILITY;
  const plain = recorded('script:200');
  assert.throws(() => plain.startRecord(1), unsupported);
  const stopped = plain.stopRecord();  // a promise method: refused by rejection
  await assert.rejects(stopped, unsupported);
  await plain.release();
  // The host's object, each method counted on its way.
  const host = loadHost().exportTo({});
  const called = [];
  const exported = {};
  for (const name of Object.getOwnPropertyNames(host).filter((n) => n.startsWith('_'))) {
    exported[name] = (...args) => { called.push(name); return host[name](...args); };
  }
  const player = recorded('script:200', { exported });
  assert.strictEqual(player.startRecord(1), 0);
  assert.strictEqual(player.isRecording(), true);
  assert.strictEqual(await player.stopRecord(), 0);
  assert.strictEqual(player.isRecording(), false);
  await player.release();
  called.length = 0;
  assert.strictEqual(player.isRecording(), false);
  assert.ok(refused('released')(player.events.find((e) => e[0] === 'error')[1]));
  await assert.rejects(player.stopRecord(), refused('released'));
  assert.deepStrictEqual(called, []);
});

test('seek modes on video: the plain seek by default, the exact one through the engine option, ' +
  'else 801', async () => {
  const option = { category: 4, key: 'accurate-seek' };
  const unsupported = (e) => e.code === kv.ErrorCode.UNSUPPORTED_CAPABILITY;
  trace.take();
  const plain = recorded(media('clip.mp4'));
  const exact = recorded(media('clip.mp4'), { accurateSeekOption: option });
  const [plainSerial, exactSerial] = trace.take().filter((l) => l.startsWith('kvmp_create #'))
    .map((l) => Number(l.split(' ')[1].slice(1)));
  await Promise.all([plain.prepare(), exact.prepare()]);
  try {
    trace.take();
    assert.strictEqual(await plain.seek(1500), 1500);
    assert.strictEqual(await plain.seek(1000, kv.SeekMode.SEEK_PREV_SYNC), 1000);
    await assert.rejects(plain.seek(500, kv.SeekMode.SEEK_CLOSEST), unsupported);
    await assert.rejects(plain.seek(500, kv.SeekMode.SEEK_NEXT_SYNC), unsupported);
    assert.deepStrictEqual(playerCalls(trace.take(), plainSerial).filter((l) => !l.includes('get_')),
      [`kvmp_seek_to #${plainSerial} 1500`, `kvmp_seek_to #${plainSerial} 1000`]);
    assert.strictEqual(await exact.seek(1500, kv.SeekMode.SEEK_CLOSEST), 1500);
    assert.strictEqual(await exact.seek(2500, kv.SeekMode.SEEK_CLOSEST), 2500);
    assert.strictEqual(await exact.seek(1000), 1000);
    await assert.rejects(exact.seek(500, kv.SeekMode.SEEK_NEXT_SYNC), unsupported);
    const at = `#${exactSerial}`;
    assert.deepStrictEqual(playerCalls(trace.take(), exactSerial).filter((l) => !l.includes('get_')),
      [`kvmp_set_option ${at} 4 accurate-seek 1`, `kvmp_seek_to ${at} 1500`,
        `kvmp_seek_to ${at} 2500`, `kvmp_set_option ${at} 4 accurate-seek 0`,
        `kvmp_seek_to ${at} 1000`]);
  } finally {
    await plain.release();
    await exact.release();
  }
});

test('platform habits: durationUpdate, volumeChange, loop, one timeUpdate with the duration at ' +
  'the end', async () => {
  const player = recorded(media('tone.m4a'));
  const seen = [];
  for (const name of ['durationUpdate', 'volumeChange', 'timeUpdate', 'stateChange']) {
    player.on(name, (value) => seen.push([name, value]));
  }
  await player.prepare();
  try {
    player.setVolume(0.25, 0.5);
    assert.strictEqual(player.loop, false);
    player.loop = true;
    assert.deepStrictEqual([player.loop, player.loopCount], [true, 0]);
    player.loop = false;
    assert.deepStrictEqual([player.loop, player.loopCount], [false, 1]);
    player.setOption(4, 'speed', 0);  // plays unpaced from here
    await player.play();
    await until(() => player.state === 'completed', 'completed');
    // Ticks while playing may come in between; the end is one update with the duration.
    assert.deepStrictEqual(seen.filter((e) => e[0] !== 'timeUpdate'), [
      ['stateChange', 'preparing'], ['stateChange', 'prepared'], ['durationUpdate', 4000],
      ['volumeChange', 0.25], ['stateChange', 'playing'], ['stateChange', 'completed']]);
    assert.deepStrictEqual(seen.slice(-2), [['timeUpdate', 4000], ['stateChange', 'completed']]);
  } finally {
    await player.release();
  }
});
