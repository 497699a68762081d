'use strict';
// The ArkTS player, transpiled from its .ets sources, over the real module: states and promises on
// scripted sources and the bundled media, engine errors as rejections, refused calls, the
// one-active-player rule, timeouts, metadata against ffprobe, and the Export-only capabilities.
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
require('./ets-require.js');
const kv = require('../Index.ets');
const { loadModule, loadHost, root } = require('../../test/js/loader.js');
const { until } = require('../../test/js/proxy_helpers.js');

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
  for (const name of names) player.on(name, (payload) => player.events.push([name, payload]));
  if (source) player.setSource(source);
  return player;
}

test('every event kind and notice reaches its named event with its payload', async () => {
  const rows = [
    ['0', ['flush', undefined]],
    ['502,7,8', ['bufferingUpdate', { value1: 7, value2: 8 }]],
    ['400,320,240', ['videoSizeChange', { width: 320, height: 240 }]],
    ['800,0,0,str:héllo', ['timedText', 'héllo']],
    ['429,1,2', ['audioInterrupt', { type: 1, hint: 2 }]],
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
    assert.deepStrictEqual(player.events, [...rows.map((r) => r[1]).flatMap((e) =>
      e[0] === 'accurateSeekDone' ? [['seekDone', 77], e] : [e]), ['prepared', undefined]]);
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

test('engine errors reject with the engine\'s code and leave the player in error', async () => {
  for (const [source, code] of [['script:407;100,-1094995529', -1094995529],
    [media('missing.m4a'), -2]]) {
    const player = recorded(source);
    await assert.rejects(player.prepare(), (e) => e instanceof kv.BusinessError && e.code === code);
    assert.strictEqual(player.state, 'error');
    assert.deepStrictEqual(player.events.filter((e) => e[0] === 'error').map((e) => e[1].code),
      [code]);
    assert.throws(() => player.play(), refused('error'));
    await player.reset();
    assert.strictEqual(player.state, 'idle');
    await player.release();
  }
});

test('calls invalid in the state fail naming it and never reach the engine', async () => {
  const m = loadModule();
  const player = kv.createPlayer();
  const rows = [
    () => player.play(), () => player.pause(), () => player.setVolume(1),
    () => player.setOption(4, 'speed', 0), () => player.setLoopCount(2),
  ];
  for (const call of rows) assert.throws(call, refused('idle'));
  await assert.rejects(player.prepare(), refused('idle'));
  await assert.rejects(player.seek(0), refused('idle'));
  await assert.rejects(player.stop(), refused('idle'));
  assert.strictEqual(m._getAudioSessionId(player.id), 0);  // no engine player was made
  player.setSource('script:200');
  assert.throws(() => player.setSource('script:200'), refused('initialized'));
  await player.release();
  assert.throws(() => player.setSource('script:200'), refused('released'));
  await assert.rejects(player.reset(), refused('released'));
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

test('one active player: a second prepare names the first; events never cross over', async () => {
  const first = recorded('script:200;502,1,1*2000000');
  const second = recorded('script:200');
  await first.prepare();
  await assert.rejects(second.prepare(), (e) => e.message.includes(`'${first.id}' is active`));
  assert.strictEqual(second.state, 'initialized');
  let late = 0;
  const count = () => late++;
  kv.addRawEventListener(count);
  // Not awaited: the second player is claimed while the first one's events still drain.
  const released = first.release();
  await second.prepare();
  await released;
  await new Promise((r) => setTimeout(r, 100));
  kv.removeRawEventListener(count);
  await second.release();
  assert.ok(late > 1, 'the first player had events in flight');
  assert.deepStrictEqual(second.events, [['prepared', undefined]]);
});

test('prepare and seek time out with the timeout code', async () => {
  const player = recorded('script:200');
  await player.prepare();
  // A scripted source cannot seek, so no event ever completes this one.
  await assert.rejects(player.seek(10, 50), refused(player.id, kv.ErrorCode.TIMEOUT));
  assert.strictEqual(player.state, 'prepared');
  await player.reset();
  player.setSource('script:407');
  await assert.rejects(player.prepare(50), (e) => e.code === kv.ErrorCode.TIMEOUT);
  assert.strictEqual(player.state, 'error');
  await player.release();
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

test('recording needs an object equipped through Export, speed a property the engine has',
  async () => {
  const unsupported = (e) => e.code === kv.ErrorCode.UNSUPPORTED_CAPABILITY;
  const plain = recorded('script:200');
  assert.throws(() => plain.startRecord(1), unsupported);
  assert.throws(() => plain.setSpeed(2), unsupported);
  await plain.release();
  const fast = recorded('script:200', { speedProperty: 10003 });
  fast.setSpeed(1.5);
  assert.strictEqual(fast.getSpeed(), 1.5);
  await fast.release();
  const player = recorded('script:200', { exported: loadHost().exportTo({}) });
  assert.strictEqual(player.startRecord(1), 0);
  assert.strictEqual(player.isRecording(), true);
  assert.strictEqual(await player.stopRecord(), 0);
  assert.strictEqual(player.isRecording(), false);
  await player.release();
});
