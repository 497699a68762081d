'use strict';
// The log switch seen from JS: silence before _nativeOpenlog, exact lines and levels after, and
// FFmpeg's own lines relayed with their context prefixes.
const test = require('./limited_test.js');
const assert = require('node:assert');
const path = require('node:path');
const { hilog } = require('./logfile.js');

const log = hilog();
const { loadModule, root } = require('./loader.js');
const { until } = require('./proxy_helpers.js');
const m = loadModule();

test('nothing reaches hilog before _nativeOpenlog, failure lines included', () => {
  new m.newKavoriPlayerAudio('quiet', false);
  m._getDuration('quiet');
  m._release('quiet');
  m._native_init.call({}, '');
  m._nativeOpenlog('fresh-log-id');
  assert.deepStrictEqual(log.take(), []);
});

test('after _nativeOpenlog: exact texts, info and error levels', () => {
  m._nativeOpenlog('fresh-log-id');
  m._getDuration('no-player');
  m._isPlaying('no-player');
  assert.deepStrictEqual(log.take().filter((l) => !l.includes('napi_proxy-->message_loop')), [
    'I A00000/KavoriPlayer: napi-->nativeOpenlog',
    'I A00000/KavoriPlayer: napi-->getDuration',
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getInstance create object',
    'E A00000/KavoriPlayer: napi_proxy-->KavoriCloudMediaPlayer_getDuration mp NULL',
    'E A00000/KavoriPlayer: napi_proxy-->KavoriCloudMediaPlayer_isPlaying',
    'E A00000/KavoriPlayer: napi_proxy-->KavoriCloudMediaPlayer_isPlaying mp NULL',
  ]);
});

test('a long argument is logged whole up to the 4095-byte cut', () => {
  m._setDataSource('no-player', 'u'.repeat(2047));
  const line = log.take().find((l) => l.includes('-->url:'));
  assert.strictEqual(line, `I A00000/KavoriPlayer: napi-->setDataSource-->url:${'u'.repeat(2047)}`);
});

test('FFmpeg lines of a real demuxer arrive with their context prefix', async () => {
  const id = 'ffmpeg-lines';
  m._native_init_audio(id);
  m._setDataSource(id, path.join(root, 'examples/media/tone.m4a'));
  m._prepareAsync(id);
  const relayed = () => log.all().filter((l) => /^I A00000\/KavoriPlayer: \[mov,mp4,m4a,3gp,3g2,mj2 @ 0x[0-9a-f]+\] /.test(l));
  await until(() => relayed().length > 0, 'a demuxer line relayed');
  m._release(id);
});

// On API level 11 the runtime cannot raise a listener's exception as uncaught; it goes to hilog.
test('a listener exception without napi_fatal_exception: one error line, nothing left pending', () => {
  const host = require('./loader.js').loadHost();
  const noisy = { toString() { throw new Error('toString throws'); } };
  const cases = [
    [new Error('boom'), /^E A00000\/KavoriPlayer: uncaught exception in a listener: Error: boom\\n {4}at /],
    ['plain text', /^E A00000\/KavoriPlayer: uncaught exception in a listener: plain text$/],
    [Symbol('s'), /^E A00000\/KavoriPlayer: uncaught exception in a listener: $/],
    [noisy, /^E A00000\/KavoriPlayer: uncaught exception in a listener: $/],
  ];
  for (const [value, line] of cases) {
    log.take();
    host.logUncaught(value);
    const lines = log.take();
    assert.strictEqual(lines.length, 1, String(lines));
    assert.match(lines[0], line);
  }
});
